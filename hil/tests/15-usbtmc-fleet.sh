#!/usr/bin/env bash
# tmflash --visa=usb --all: two tmc_gadget instruments of one model on
# dummy_hcd num=2 (one per UDC, other serial numbers), both updated by one
# run of the demo list, each by a child tmflash pinned by its serial: both
# "Update Ok", exit 0, each flash equal to the package's image, one log per
# instrument and one report entry each.
set -euo pipefail
. hil/lib.sh
. hil/gadget/gadget.sh
say() { echo "15-usbtmc-fleet: $*"; }
fail() { say "FAILED: $*"; exit 1; }

pids=()
stop_gadgets() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" || true; done
  pids=()
}
trap stop_gadgets EXIT

hil_udcs 2 || fail "dummy_hcd did not make two UDCs"
work=/tmp/fleet
mkdir -p "$work"
image=$(sed -n 's/^image_hex = //p' examples/demo/firmware.desc)
hex_to_file "$image" "$work/image.bin"
size=$(stat -c %s "$work/image.bin")

# The demo's instrument, and a second of its kind with serial SIM0002.
cp examples/demo/instrument.sim "$work/a.sim"
sed 's/SIM0001/SIM0002/g' examples/demo/instrument.sim > "$work/b.sim"
for n in 0 1; do
  name=$([ "$n" = 0 ] && echo a || echo b)
  "$HIL_BUILD/tmc_gadget" --sim="$work/$name.sim" --udc="dummy_udc.$n" --name="tmc$name" \
    --flash="$HIL_OUT/flash-$name.bin@0x20000:$size" > "$HIL_OUT/gadget-$name.log" 2>&1 &
  pids+=($!)
done
for sn in SIM0001 SIM0002; do
  hil_wait 20 hil_usb_device "$TMC_VENDOR" "$TMC_MAIN" "$sn" > /dev/null ||
    { cat "$HIL_OUT"/gadget-*.log; fail "instrument $sn did not enumerate"; }
done

cd "$HIL_BUILD/demo"
begin=$EPOCHREALTIME
status=0
timeout 110 "$HIL_BUILD/tmflash" --visa=usb --all --log-dir="$work/logs" --report="$work/fleet.json" demo.lst \
  > "$work/out.txt" 2> "$work/err.txt" || status=$?
seconds=$(awk -v a="$begin" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
cd "$HIL_ROOT"
cp -r "$work/out.txt" "$work/err.txt" "$work/fleet.json" "$work/logs" "$HIL_OUT/" 2> /dev/null || true
cat "$work/out.txt"
[ "$status" = 0 ] || { cat "$work/err.txt"; fail "tmflash --all exited with $status"; }
grep -qx "SIM0001: Update Ok" "$work/out.txt" || fail "no Update Ok for SIM0001"
grep -qx "SIM0002: Update Ok" "$work/out.txt" || fail "no Update Ok for SIM0002"
grep -qx "fleet: 2 instruments, 2 Update Ok" "$work/out.txt" || fail "the summary is not right"
for sn in SIM0001 SIM0002; do
  grep -q "| Update Ok" "$work/logs/$sn.log" || fail "the log of $sn lacks its Update Ok"
  hil_usb_device "$TMC_VENDOR" "$TMC_BOOT" "$sn" > /dev/null || fail "$sn is not in its bootloader"
done
say "two instruments updated by one tmflash --all run in $seconds s"

stop_gadgets
for name in a b; do
  cmp "$work/image.bin" "$HIL_OUT/flash-$name.bin" || fail "the flash of instrument $name differs from the image"
done
say "each flash at 0x20000 equals the package's image ($size bytes)"
say "ok"
