#!/usr/bin/env bash
# The board binary started where the board's memory-request device is missing (here: under
# qemu-user on the build machine) must refuse with its message and status 1, and touch
# nothing: no file in its working directory, nothing under /data, no network settings.
# Usage: board_binary_refuses.sh <emulator and its options...> <kelM57N>
set -u
emulator=("${@:1:$#-1}")
binary="${!#}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stamp() { stat -c '%n %s %Y' "$@" 2>/dev/null; ls -la --time-style=+%s /data 2>/dev/null; }
before="$(stamp /etc/network/interfaces /etc/hostname)"
cd "$work"
QT_QPA_PLATFORM=offscreen "${emulator[@]}" "$binary" >out.txt 2>err.txt
status=$?
fail=0
if [ "$status" -ne 1 ]; then echo "exit status $status, expected 1"; fail=1; fi
if ! grep -q "/dev/msys is missing" err.txt; then echo "refusal message missing:"; cat err.txt out.txt; fail=1; fi
rm -f out.txt err.txt
if [ -n "$(ls -A "$work")" ]; then echo "files left behind:"; ls -A "$work"; fail=1; fi
after="$(stamp /etc/network/interfaces /etc/hostname)"
if [ "$before" != "$after" ]; then echo "system files changed"; fail=1; fi
[ "$fail" -eq 0 ] && echo "board binary refused to start, touching nothing"
exit "$fail"
