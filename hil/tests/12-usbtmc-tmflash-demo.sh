#!/usr/bin/env bash
# tmflash --visa=usb runs the demo list against the gadget, with the kernel's
# usbtmc driver bound first, so that the driver's detach and re-attach are
# exercised: the console text of the simulated demo byte for byte, exit 0,
# through the jump and the re-enumeration under the bootloader's product ID,
# and the instrument's flash equal to the package's image. Also times *IDN?
# round trips through the built-in driver.
set -euo pipefail
. hil/lib.sh
. hil/gadget/gadget.sh
say() { echo "12-usbtmc-tmflash-demo: $*"; }
fail() { say "FAILED: $*"; exit 1; }
trap gadget_stop EXIT

image=$(sed -n 's/^image_hex = //p' examples/demo/firmware.desc)
hex_to_file "$image" /tmp/demo-image.bin
size=$(stat -c %s /tmp/demo-image.bin)
gadget_start --sim=examples/demo/instrument.sim --flash="$HIL_OUT/flash.bin@0x20000:$size" ||
  fail "the gadget did not enumerate"
hil_wait 10 usbtmc_bound || fail "usbtmc is not bound to the interface"

# The round trip, 200 times; the probe gives the interface back at its end.
"$HIL_BUILD/tmc_probe" "$TMC_MAIN_RSRC" 200 || fail "tmc_probe failed"
hil_wait 5 usbtmc_bound || fail "the kernel's driver did not get its interface back after the probe"

cd "$HIL_BUILD/demo"
begin=$EPOCHREALTIME
status=0
printf '0\n' | timeout 120 "$HIL_BUILD/tmflash" --visa=usb demo.lst > /tmp/demo.out 2> /tmp/demo.err || status=$?
seconds=$(awk -v a="$begin" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
cd "$HIL_ROOT"
cp /tmp/demo.out /tmp/demo.err "$HIL_OUT/"
[ "$status" = 0 ] || { cat /tmp/demo.out /tmp/demo.err; fail "tmflash exited with $status"; }
cmp -s /tmp/demo.out tests/e2e/demo.golden || {
  diff tests/e2e/demo.golden /tmp/demo.out || true
  fail "the console text differs from the simulated demo's"
}
[ ! -s /tmp/demo.err ] || { cat /tmp/demo.err; fail "tmflash wrote to standard error"; }
say "demo list: Update Ok, exit 0, console text as the simulated demo's, $seconds s"
hil_usb_device "$TMC_VENDOR" "$TMC_BOOT" "$TMC_SERIAL" > /dev/null || fail "the bootloader is not enumerated"
hil_wait 5 usbtmc_bound || fail "the kernel's driver did not get the bootloader's interface back"

gadget_stop
cmp /tmp/demo-image.bin "$HIL_OUT/flash.bin" || fail "the flash differs from the image"
say "flash at 0x20000 equals the package's image ($size bytes)"
say "ok"
