#!/usr/bin/env bash
# scripts/run starts the program on the data root KEL_ROOT names (a relative name taken from
# where the script was started), else on build/sim-root: run from a copy with the set-up and
# the build stubbed and a stand-in program that prints its root. Usage: run_script_root.sh <source dir>
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/scripts" "$work/tree/build" "$work/bin" "$work/caller"
cp "$1/scripts/run" "$work/tree/scripts/"
touch "$work/tree/scripts/setup" && printf '#!/bin/sh\n' >"$work/bin/cmake"
printf '#!/bin/sh\necho "root $KEL_ROOT"\n' >"$work/tree/build/kelM57N"
chmod +x "$work/bin/cmake" "$work/tree/build/kelM57N"
fail=0
for row in "-u KEL_ROOT|$work/tree/build/sim-root" "KEL_ROOT=$work/mine|$work/mine" "KEL_ROOT=rel/x|$work/caller/rel/x"; do
  got="$(cd "$work/caller" && env ${row%%|*} PATH="$work/bin:$PATH" KEL_PLATFORM=offscreen bash "$work/tree/scripts/run" 2>&1)"
  [ "$(echo "$got" | sed -n 's/^root //p')" = "${row#*|}" ] && [ -d "${row#*|}" ] || { echo "${row%%|*}: not ${row#*|}: $got"; fail=1; }
done
exit "$fail"
