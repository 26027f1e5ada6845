#!/usr/bin/env bash
# The gadget stops answering in the middle of the demo package's image:
# tmflash --visa=usb ends with the numbered messages and exit status 1, and
# does not hang.
set -euo pipefail
. hil/lib.sh
. hil/gadget/gadget.sh
say() { echo "14-usbtmc-stops-answering: $*"; }
fail() { say "FAILED: $*"; exit 1; }
trap gadget_stop EXIT

# The main firmware's replies, the bootloader's version, then a few of the
# image's commands.
gadget_start --sim=examples/demo/instrument.sim --stop-answering-after=11 ||
  fail "the gadget did not enumerate"
cd "$HIL_BUILD/demo"
begin=$EPOCHREALTIME
status=0
printf '0\n' | timeout 60 "$HIL_BUILD/tmflash" --visa=usb demo.lst > /tmp/stops.out 2>&1 || status=$?
seconds=$(awk -v a="$begin" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
cd "$HIL_ROOT"
cp /tmp/stops.out "$HIL_OUT/"
[ "$status" != 124 ] || fail "tmflash hung (stopped after 60 s)"
[ "$status" = 1 ] || { cat /tmp/stops.out; fail "tmflash exited with $status, not 1"; }
# The last line of progress runs into the first message (no line end between).
expected=$'Press any key to continue . . . \nCorrupted Update File. (10-5)\nDevice is failed connected. (8)\nPress any key to continue . . . '
[ "$(tail -n 4 /tmp/stops.out)" = "$expected" ] &&
  tail -n 5 /tmp/stops.out | head -n 1 | grep -q "Device is failed connected. (6)$" ||
  { cat /tmp/stops.out; fail "not the numbered messages expected"; }
! grep -q "Update Ok" /tmp/stops.out || fail "Update Ok after a failure"
say "exit 1 after $seconds s: (6), (10-5), (8)"
say "ok"
