#!/usr/bin/env bash
# scripts/run starts the program on the data root KEL_ROOT names (a relative name taken from
# where the script was started), else on build/sim-root, and keeps the last run's log: run
# from a copy, set-up and build stubbed, with a stand-in program that prints its root. Given the built program, it
# also runs it on the VNC screen: a key shows in the VNC frame (the time printed, bounded far
# above the 0.2 s aimed at); a second run on the root in use, or on the taken VNC port, stops
# with the reason; a taken PC port is named before "start-up done", on the terminal and in the log alike. KEL_VNC_PORT
# reaches Qt's VNC platform, CMAKE_BUILD_PARALLEL_LEVEL the build. seed-runs -h names every check; options go anywhere.
# Usage: run_script_root.sh <source dir> [<built kelM57N>]
work="$(mktemp -d)"
trap '[ -n "${run:-}" ] && kill -- -"$run" 2>/dev/null; kill ${holder:-} 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/tree/scripts" "$work/tree/build" "$work/bin" "$work/caller" "$work/tree/build-test/tests"
cp "$1/scripts/run" "$1/scripts/seed-runs" "$work/tree/scripts/"
touch "$work/tree/scripts/setup" && printf '#!/bin/sh\n[ "$1" != --build ] || echo "$CMAKE_BUILD_PARALLEL_LEVEL $*" >>%s/built\n' "$work" >"$work/bin/cmake"
printf '#!/bin/sh\necho "kelM57N: root $KEL_ROOT" >&2; echo "kelM57N: scenario $KEL_SCENARIO" >&2; echo "kelM57N: args $*" >&2; for i in $(seq 50); do echo "trace $i"; echo "kelM57N: port $i taken" >&2; done; echo " kelM57N start-up done"\n' >"$work/tree/build/kelM57N"
printf '#!/bin/sh\ncase "$RC_PARAMS" in *[13579]) exit 1 ;; esac\n' >"$work/tree/build-test/tests/test_scaler"   # odd seeds fail
chmod +x "$work/bin/cmake" "$work/tree/build/kelM57N" "$work/tree/build-test/tests/test_scaler"
fail=0
for row in "-u KEL_ROOT|$work/tree/build/sim-root" "KEL_ROOT=$work/mine|$work/mine" "KEL_ROOT=rel/x CMAKE_BUILD_PARALLEL_LEVEL=2|$work/caller/rel/x" "KEL_ROOT=$work/mine|$work/mine"; do
  got="$(cd "$work/caller" && env ${row%%|*} PATH="$work/bin:$PATH" KEL_PLATFORM=offscreen KEL_SCENARIO=s.txt bash "$work/tree/scripts/run" 2>&1)"
  [ "$(echo "$got" | sed -n 's/^kelM57N: root //p') $(echo "$got" | sed -n 's/^kelM57N: scenario //p')" = "${row#*|} $work/caller/s.txt" ] && [ -d "${row#*|}" ] ||
    { echo "${row%%|*}: not ${row#*|}: $got"; fail=1; }
done   # the second run on $work/mine keeps the first one's log
grep -q "^kelM57N: root $work/mine$" "$work/mine/kelM57N.log.1" || { echo "the previous log is not kept: $(ls "$work/mine")"; fail=1; }
order="$(for i in $(seq 50); do echo "trace $i"; echo "kelM57N: port $i taken"; done; echo " kelM57N start-up done")"
[ "$(tail -n 101 "$work/mine/kelM57N.log")" = "$order" ] && [ "$(tail -n 51 <<<"$got")" = "$(grep -v trace <<<"$order")" ] || { echo "out of order: $got"; fail=1; }
[ "$(grep -c . "$work/built")" = 4 ] && grep -qx "2 --build build --target kelM57N pcclient" "$work/built" && bash "$1/scripts/run" --help | grep -q CMAKE_BUILD_PARALLEL_LEVEL && [ "$(CMAKE_BUILD_PARALLEL_LEVEL=0 bash "$1/scripts/run" 2>&1; echo $?)" = $'run: CMAKE_BUILD_PARALLEL_LEVEL=0 is not a number of build jobs (1 or more); not starting\n2' ] || { echo "build jobs: $(cat "$work/built")"; fail=1; }
got="$(cd "$work/caller" && PATH="$work/bin:$PATH" KEL_PLATFORM=vnc KEL_VNC_PORT=5999 KEL_ROOT=v bash "$work/tree/scripts/run" 2>&1)"
grep -qx "kelM57N: args -platform vnc:size=320x240:mmsize=81.28x60.96:port=5999" <<<"$got" || { echo "KEL_VNC_PORT with vnc: $got"; fail=1; }
help="$(bash "$1/scripts/seed-runs" --help)"; checks="$(sed -n 's/^  "\([a-z]*\) test_.*/\1/p' "$1/scripts/seed-runs")"
for check in $checks; do grep -q "^  $check " <<<"$help" || { echo "seed-runs --help does not name $check"; fail=1; }; done
seeds="$(PATH="$work/bin:$PATH" bash "$work/tree/scripts/seed-runs" memory -n 4 -j 2 2>&1)"   # as the README has it
awk -v st=$? 'BEGIN { ok = 1 } /^memory seed / { f += odd = substr($3, length($3)) % 2; ok = ok && $4 == (odd ? "failed" : "passed") && $(NF - 3) == 3 - n++ }
  $0 == "memory: 4 seeds drawn, " f " failed, 0 ran past 600 s" { done = n == 4 } END { exit !(ok && done && st == (f > 0)) }' <<<"$seeds" || { echo "seed-runs memory -n 4: $seeds"; fail=1; }
bogus="$(PATH="$work/bin:$PATH" bash "$work/tree/scripts/seed-runs" -n 1 links bogus 2>&1)"
[ $? = 2 ] && [ "${bogus%%$'\n'*}" = "seed-runs: no check named 'bogus'" ] && ! grep -q test_protocol "$work/built" && [ "$help" = "$(bash "$1/scripts/seed-runs" -h)" ] && [ -n "$checks" ] ||
  { echo "seed-runs links bogus: $bogus"; fail=1; }   # an unknown name builds nothing
[ -n "${2:-}" ] || exit "$fail"
ln -sf "$2" "$work/tree/build/kelM57N"
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
export PATH="$work/bin:$PATH" KEL_VNC_PORT="$port" KEL_PORT_OFFSET=$((20000 + RANDOM % 20000))
taken=$((13769 + KEL_PORT_OFFSET)); python3 -c 'import os, socket, sys, time; p = os.getppid(); s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", int(sys.argv[1]))); any(time.sleep(0.5) for _ in iter(lambda: os.getppid() == p, False))' "$taken" & holder=$!   # the WiFi module's port, held while this test lives
# In a session of its own, ended whole at the end; also when this script is killed outright
# (a time-out), its watcher ends it.
KEL_ROOT="$work/vnc" setsid bash -c 'bash "$1" & while kill -0 "$2" && kill -0 $!; do sleep 0.5; done 2>/dev/null; kill -- -$$' \
  _ "$work/tree/scripts/run" "$$" >"$work/first.txt" 2>&1 &
run=$!
for _ in $(seq 1200); do
  grep -q "start-up done" "$work/vnc/kelM57N.log" 2>/dev/null && break
  kill -0 "$run" 2>/dev/null || { echo "the run ended: $(cat "$work/first.txt")"; exit 1; }
  sleep 0.1
done
grep -q "^run: the LCD is on VNC 127.0.0.1:$port$" "$work/first.txt" || { echo "no VNC line: $(cat "$work/first.txt")"; fail=1; }
# OK on the home screen opens the menu.
timing="$(python3 "$1/bench/lcd_key/key_to_frame.py" "$port" 6 q 2>&1)"
echo "$timing"
awk '/^key to frame: [0-9.]+ s$/ && $4 < 2.5 { ok = 1 } END { exit !ok }' <<<"$timing" || fail=1
for f in "$work/first.txt" "$work/vnc/kelM57N.log"; do grep -A 9999 "^kelM57N: PC ports that cannot be opened: .*UDP $taken (" "$f" | grep -q "kelM57N start-up done" || { echo "UDP $taken not named before start-up done: $(cat "$f")"; fail=1; }; done
# A second run on the root in use refuses first, in one line: the first one's logs as they were.
cp "$work/vnc/kelM57N.log" "$work/log" && cp "$work/vnc/x11vnc.log" "$work/vnclog"
same="$(KEL_ROOT="$work/vnc" KEL_VNC_PORT=$((port + 1)) bash "$work/tree/scripts/run" 2>&1; echo "status $?")"
[[ "$same" =~ ^"run: the data root $work/vnc is in use by process "[0-9]+"; not starting (KEL_ROOT names another root)"$'\n'"status 1"$ ]] &&
  cmp -s -n "$(stat -c %s "$work/log")" "$work/log" "$work/vnc/kelM57N.log" && cmp -s "$work/vnclog" "$work/vnc/x11vnc.log" || { echo "run on the root in use: $same"; fail=1; }
second="$(KEL_ROOT="$work/vnc2" bash "$work/tree/scripts/run" 2>&1)"
status=$?
[ "$status" = 1 ] && grep -q "^run: the VNC port 127.0.0.1:$port is taken by another program; not starting" <<<"$second" \
  || { echo "second run, status $status: $second"; fail=1; }
exit "$fail"
