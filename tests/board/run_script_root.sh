#!/usr/bin/env bash
# scripts/run starts the program on the data root KEL_ROOT names (a relative name taken from
# where the script was started), else on build/sim-root, and keeps the last run's log: run
# from a copy, set-up and build stubbed, with a stand-in program that prints its root. Given the built program, it
# also runs it on the VNC screen: a key shows in the VNC frame (the time printed, bounded far
# above the 0.2 s aimed at); a second run on the root in use, or on the taken VNC port, stops
# with the reason; a taken PC port is named before "start-up done", on the terminal and in the log alike. KEL_VNC_PORT
# reaches Qt's VNC platform, CMAKE_BUILD_PARALLEL_LEVEL the build. seed-runs -h names every check; options go anywhere.
# Every refusal of the scripts is one line and status 2 and leaves nothing made (no root).
# Usage: run_script_root.sh <source dir> [<built kelM57N>]
work="$(mktemp -d)"
trap '[ -n "${run:-}" ] && kill -- -"$run" 2>/dev/null; kill ${holder:-} 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/tree/scripts" "$work/tree/build" "$work/bin" "$work/caller" "$work/tree/build-test/tests"
touch "$work/caller/s.txt"
cp "$1/scripts/run" "$1/scripts/seed-runs" "$1/scripts/test"* "$1/scripts/jobs.sh" "$1/scripts/board-root" "$1/scripts/setup" "$work/tree/scripts/"
mv "$work/tree/scripts/setup" "$work/setup" && touch "$work/tree/scripts/setup" && printf '#!/bin/sh\n[ "$1" != --build ] || echo "$CMAKE_BUILD_PARALLEL_LEVEL $*" >>%s/built\n' "$work" >"$work/bin/cmake"
printf '#!/bin/sh\ncase "$*" in *refuse) echo "kelM57N: refused" >&2; exit 1 ;; esac\necho "kelM57N starting on the sim board"; echo "kelM57N: root $KEL_ROOT" >&2; echo "kelM57N: scenario $KEL_SCENARIO" >&2; echo "kelM57N: args $*" >&2; for i in $(seq 50); do echo "trace $i"; echo "kelM57N: port $i taken" >&2; done; echo "kelM57N start-up done"\n' >"$work/tree/build/kelM57N"
printf '#!/bin/sh\necho "$*" >>%s/shuffled\ncase "$RC_PARAMS" in *[13579]) exit 1 ;; esac\n' "$work" >"$work/tree/build-test/tests/test_scaler"   # odd seeds fail
chmod +x "$work/bin/cmake" "$work/tree/build/kelM57N" "$work/tree/build-test/tests/test_scaler"
fail=0
for row in "-u KEL_ROOT|$work/tree/build/sim-root" "KEL_ROOT=$work/mine|$work/mine" "KEL_ROOT=rel/x CMAKE_BUILD_PARALLEL_LEVEL=2|$work/caller/rel/x" "KEL_ROOT=$work/mine|$work/mine"; do
  got="$(cd "$work/caller" && env ${row%%|*} PATH="$work/bin:$PATH" KEL_PLATFORM=offscreen KEL_SCENARIO=s.txt bash "$work/tree/scripts/run" 2>&1)"
  [ "$(echo "$got" | sed -n 's/^kelM57N: root //p') $(echo "$got" | sed -n 's/^kelM57N: scenario //p')" = "${row#*|} $work/caller/s.txt" ] && [ -d "${row#*|}" ] ||
    { echo "${row%%|*}: not ${row#*|}: $got"; fail=1; }
done   # the second run on $work/mine keeps the first one's log
grep -q "^kelM57N: root $work/mine$" "$work/mine/kelM57N.log.1" || { echo "the previous log is not kept: $(ls "$work/mine")"; fail=1; }
order="$(for i in $(seq 50); do echo "trace $i"; echo "kelM57N: port $i taken"; done; echo "kelM57N start-up done")"
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
# Refused starts (a mistyped scenario, a port that is no number, one the program refuses) touch
# neither the screen's servers nor the last run's log, however many come.
printf '#!/bin/sh\necho "$0" >>%s/servers\n' "$work" | tee "$work/bin/Xvfb" >"$work/bin/x11vnc" && chmod +x "$work/bin/Xvfb" "$work/bin/x11vnc"
ran="run: the data root is $work/mine; the program's whole output goes to $work/mine/kelM57N.log"
for row in "KEL_SCENARIO=nosuch.txt||run: the scenario file $work/caller/nosuch.txt cannot be read; not starting|2" \
           "KEL_VNC_PORT=abc||run: KEL_VNC_PORT=abc is not a port number (1-65535); not starting|2" "KEL_VNC_PORT=65536||run: KEL_VNC_PORT=65536 is not a port number (1-65535); not starting|2" \
           "KEL_PORT_OFFSET=x1||run: KEL_PORT_OFFSET=x1 is not a number that keeps the ports 5005-13769 within 1-65535; not starting|2" \
           "KEL_PORT_OFFSET=51767||run: KEL_PORT_OFFSET=51767 is not a number that keeps the ports 5005-13769 within 1-65535; not starting|2" \
           "CMAKE_BUILD_PARALLEL_LEVEL=x||run: CMAKE_BUILD_PARALLEL_LEVEL=x is not a number of build jobs (1 or more); not starting|2" \
           "KEL_PLATFORM=offscreen|refuse|kelM57N: refused|1" "KEL_PLATFORM=offscreen|refuse|kelM57N: refused|1"; do
  IFS='|' read -r vars args want status <<<"$row"
  root="$work/mine"; [ -n "$args" ] || root="$work/typo"   # a mistyped root of a refused start is not made
  got="$(cd "$work/caller" && env PATH="$work/bin:$PATH" KEL_ROOT="$root" $vars bash "$work/tree/scripts/run" $args 2>&1; echo "status $?")"
  [ "$got" = "${args:+$ran$'\n'}$want"$'\n'"status $status" ] && [ ! -e "$work/typo" ] || { echo "$vars: $got $(ls -d "$work/typo" 2>/dev/null)"; fail=1; }   # refused by the program, once it ran
done
# Every stage of .ci/run takes CMAKE_BUILD_PARALLEL_LEVEL as its bound and refuses one that is
# no number before its set-up; test-shuffled and test-fuzz take it for their own knobs too.
for s in test test-shuffled test-tsan test-board test-fuzz; do
  got="$(cd "$work/tree" && CMAKE_BUILD_PARALLEL_LEVEL=0 PATH="$work/bin:$PATH" bash "scripts/$s" 2>&1; echo "status $?")"
  [ "$got" = "$s: CMAKE_BUILD_PARALLEL_LEVEL=0 is not a number of jobs (1 or more); not running"$'\nstatus 2' ] || { echo "$s took CMAKE_BUILD_PARALLEL_LEVEL=0: $got"; fail=1; }
done
rm "$work/bin/Xvfb" "$work/bin/x11vnc"
[ ! -e "$work/servers" ] && grep -q "^kelM57N: root $work/mine$" "$work/mine/kelM57N.log.1" && [ "$(cat "$work/mine/kelM57N.log")" = "kelM57N: refused" ] ||
  { echo "refused starts reached: $(cat "$work/servers" 2>/dev/null) $(ls "$work/mine")"; fail=1; }
for seed in 0 abc 100000 -4; do   # a seed GoogleTest would not repeat
  [ "$(KEL_SHUFFLE_SEED=$seed bash "$work/tree/scripts/test-shuffled" 2>&1; echo "status $?")" = "test-shuffled: KEL_SHUFFLE_SEED=$seed is not a seed that repeats an order (a whole number from 1 to 99999); not running"$'\nstatus 2' ] ||
    { echo "KEL_SHUFFLE_SEED=$seed was taken"; fail=1; }
done
KEL_SHUFFLE_SEED=99999 bash "$work/tree/scripts/test-shuffled" >/dev/null 2>&1; grep -q -- "^--gtest_shuffle --gtest_random_seed=99999 " "$work/shuffled" || { echo "seed 99999: $(cat "$work/shuffled")"; fail=1; }
# scripts/setup on a fresh machine whose registry is mid-sync: the index update is tried four
# times, 30 s apart, the index still failing named in one line before the install.
mkdir "$work/apt" && cd "$work/apt" && printf '#!/bin/sh\necho "$0 $*" >>calls\n' | tee dpkg sleep >apt-get && printf '#!/bin/sh\nexit 1\n' >dpkg-query
printf '[ "$1" != update ] || [ "$(grep -c update calls)" -gt "$FAILS" ] || { echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-armhf/Packages.xz  File has unexpected size (2046 != 2072). Mirror sync in progress? [IP: 10.0.0.1 80]"; echo "E: Some index files failed to download."; exit 100; }\n' >>apt-get
cd - >/dev/null && chmod +x "$work/apt/"*
for fails in 2 9; do
  : >"$work/apt/calls"
  got="$(cd "$work/apt" && FAILS=$fails PATH="$work/apt:$PATH" bash "$work/setup" --board 2>&1)"
  want="$(for i in $(seq $((fails < 4 ? fails + 1 : 4))); do [ "$i" = 1 ] || echo "sleep 30"; echo "apt-get update -qq"; done)"
  named="setup: the package index update failed 4 times, 30 s apart: http://mirror/debian-security/dists/bookworm-security/main/binary-armhf/Packages.xz File has unexpected size (2046 != 2072). Mirror sync in progress?"
  [ "$(sed -n 's|^.*/apt/||p' "$work/apt/calls" | grep -v -e ^dpkg -e install)" = "$want" ] && grep -q "^apt-get install -y -qq --no-install-recommends .*libgtest-dev .*mmdebstrap" <(sed 's|^.*/apt/||' "$work/apt/calls") &&
    ! grep -q -e :armhf -e add-architecture "$work/apt/calls" &&   # nothing armhf on the host
    [ "$(grep -c "^setup: the package" <<<"$got")" = $((fails > 3)) ] && { [ "$fails" -lt 4 ] || grep -qxF "$named" <<<"$got"; } || { echo "setup, $fails failed updates: $got $(cat "$work/apt/calls")"; fail=1; }
done
# The board's root is made once from the main index, only unpacked, and reused while its
# package list stands; another list makes another root. No mmdebstrap: named, nothing made.
printf '#!/bin/bash\necho "$*" >>%s/made && mkdir -p "${@: -2:1}/etc/fonts/conf.d"\n' "$work" >"$work/bin/mmdebstrap"   # the root before the source
printf '#!/bin/sh\nexec "$(dirname "$0")/mmdebstrap" "$@"\n' >"$work/apt/mmdebstrap"
chmod +x "$work/bin/mmdebstrap" "$work/apt/mmdebstrap" && sed 's/^  fonts-wqy-microhei fonts-dejavu-core$/& libfoo-dev/' "$1/scripts/board-root" >"$work/other-root"
roots="$(for s in "$1/scripts/board-root" "$1/scripts/board-root" "$work/other-root"; do KEL_BOARD_ROOT_CACHE="$work/cache" PATH="$work/bin:$PATH" bash "$s" 2>/dev/null; done)"
[ "$(sort -u <<<"$roots" | grep -c "^$work/cache/[0-9a-f]\{16\}$")" = 2 ] && [ "$(head -1 <<<"$roots")" = "$(sed -n 2p <<<"$roots")" ] &&
  [ "$(grep -c -- "--variant=extract --architectures=armhf .*libgtest-dev.* bookworm .* deb http://deb.debian.org/debian bookworm main$" "$work/made")" = 2 ] &&
  mkdir "$work/bare" && for t in mkdir sha256sum cut flock; do ln -s "$(command -v $t)" "$work/bare/"; done &&
  [ "$(KEL_BOARD_ROOT_CACHE="$work/cache2" PATH="$work/bare" "$BASH" "$work/other-root" 2>&1; echo "status $?")" = $'board-root: mmdebstrap is missing (bash scripts/setup --board installs it)\nstatus 1' ] &&
  [ -z "$(ls "$work/cache2")" ] || { echo "board roots: $roots $(cat "$work/made")"; fail=1; }
# The README lists every benchmark the build makes.
for b in $(sed -n 's/^add_executable(\(bench_[a-z_]*\).*/\1/p' "$1"/bench/*/CMakeLists.txt); do grep -q "$b" "$1/README.md" || { echo "README: no $b"; fail=1; }; done
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
[[ "$same" =~ ^"run: the data root $work/vnc is in use by process "[0-9]+"; not starting (KEL_ROOT names another root)"$'\n'"status 2"$ ]] &&
  cmp -s -n "$(stat -c %s "$work/log")" "$work/log" "$work/vnc/kelM57N.log" && cmp -s "$work/vnclog" "$work/vnc/x11vnc.log" || { echo "run on the root in use: $same"; fail=1; }
second="$(KEL_ROOT="$work/vnc2" bash "$work/tree/scripts/run" 2>&1)"
status=$?
[ "$status" = 2 ] && [ ! -e "$work/vnc2" ] && grep -q "^run: the VNC port 127.0.0.1:$port is taken by another program; not starting" <<<"$second" \
  || { echo "second run, status $status: $second"; fail=1; }
exit "$fail"
