#!/usr/bin/env bash
# A generated package with one large binary section (1 MiB of image in
# 240-byte data commands, each answered by the bootloader) through
# tmflash --visa=usb and the gadget: "Update Ok", the flash equal to the
# image, and the section's speed in MB/s of image.
set -euo pipefail
. hil/lib.sh
. hil/gadget/gadget.sh
say() { echo "13-usbtmc-large-section: $*"; }
fail() { say "FAILED: $*"; exit 1; }
trap gadget_stop EXIT

size=$((1024 * 1024))
start=0x100000
end=$(printf '0x%X' $((start + size - 1)))
mkdir -p /tmp/large
head -c "$size" /dev/urandom > /tmp/large/image.bin
cat > /tmp/large/large.desc <<DESC
[package]
b_argument = 0x1000
device_code = TM1000
run_order = 1

[section 1]
type = binary
boot_version = 2.10
hardware = HW3
mode = 0
binary_flag = 1
jump_command = SYST:BOOT
command_header = :FW:UPD
start = $start
end = $end
chunk = 0xF0
erase_step = 0x1000
image_file = /tmp/large/image.bin
DESC
"$HIL_BUILD/tmpack" /tmp/large/large.desc /tmp/large/large.pkg > /dev/null || fail "tmpack failed"
printf 'total=1\npt0=/tmp/large/large.pkg\n' > /tmp/large/large.lst

gadget_start --sim=examples/demo/instrument.sim --flash="$HIL_OUT/flash.bin@$start:$size" ||
  fail "the gadget did not enumerate"
begin=$EPOCHREALTIME
status=0
printf '0\n' | timeout 110 "$HIL_BUILD/tmflash" --visa=usb /tmp/large/large.lst > /tmp/large/out.txt 2>&1 || status=$?
seconds=$(awk -v a="$begin" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
cp /tmp/large/out.txt "$HIL_OUT/"
[ "$status" = 0 ] || { tail -c 2000 /tmp/large/out.txt; fail "tmflash exited with $status"; }
tail -n 1 /tmp/large/out.txt | grep -qx "Update Ok" || fail "no Update Ok"
# The flash on request (SIGUSR1), while the gadget runs on.
kill -USR1 "$gadget_pid"
hil_wait 20 test -s "$HIL_OUT/flash.bin" || fail "the gadget wrote no flash file on request"
hil_wait 20 cmp -s /tmp/large/image.bin "$HIL_OUT/flash.bin" || fail "the flash differs from the image"
gadget_stop
# The run includes the jump (the instrument's 1.5 s reboot) and the job's waits.
mbps=$(awk -v n="$size" -v s="$seconds" 'BEGIN { printf "%.3f", n / s / 1e6 }')
say "1 MiB section in $seconds s (jump and reboot included): $mbps MB/s of image; flash equals the image"
say "ok"
