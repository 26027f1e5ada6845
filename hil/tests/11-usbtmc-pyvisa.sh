#!/usr/bin/env bash
# Debian's pyvisa-py (over pyusb and libusb) lists our gadget and gets its
# *IDN? through pyvisa's @py backend: a second host nobody here wrote.
# pyusb's vendor control requests reach the gadget too (device recipient):
# the control-IN version text, and the control-OUT request that makes the
# main firmware jump, after which the bootloader enumerates under its own
# product ID with the same serial and answers pyvisa-py.
set -euo pipefail
. hil/lib.sh
. hil/gadget/gadget.sh
say() { echo "11-usbtmc-pyvisa: $*"; }
fail() { say "FAILED: $*"; exit 1; }
trap gadget_stop EXIT

gadget_start --sim=examples/demo/instrument.sim || fail "the gadget did not enumerate"
# pyvisa-py names the IDs in decimal: USB0::4660::22136::SIM0001::0::INSTR.
reply=$(timeout 60 /usr/bin/python3 - <<'PY'
import sys
import pyvisa
rm = pyvisa.ResourceManager("@py")
found = rm.list_resources("USB?*::INSTR")
print("11-usbtmc-pyvisa: pyvisa-py lists", found, file=sys.stderr)
ours = [r for r in found if r.startswith("USB0::4660::22136::SIM0001::")]
assert len(ours) == 1, found
inst = rm.open_resource(ours[0])
inst.timeout = 5000
print(inst.query("*IDN?"), end="")
inst.close()
rm.close()
PY
) || fail "pyvisa-py could not query the gadget"
[ "$reply" = "TMSIM,TM1000,SIM0001,1.03" ] || fail "*IDN? gave '$reply'"
say "*IDN? through pyvisa-py: $reply"

# pyvisa-py has no control requests: pyusb's, with the kernel's usbtmc
# driver still bound (vendor requests pass it by).
timeout 60 /usr/bin/python3 - <<'PY' || fail "pyusb's vendor requests failed"
import sys
import usb.core
dev = usb.core.find(idVendor=0x1234, idProduct=0x5678)
version = bytes(dev.ctrl_transfer(0xC0, 0, 0, 0, 10))
print("11-usbtmc-pyvisa: control-IN 0xC0:", version, file=sys.stderr)
assert version == b"mf_1.03", version
dev.ctrl_transfer(0x40, 0, 0, 0, None)
PY
hil_wait 20 hil_usb_device "$TMC_VENDOR" "$TMC_BOOT" "$TMC_SERIAL" > /dev/null ||
  fail "no bootloader after the control-OUT jump"
reply=$(timeout 60 /usr/bin/python3 - <<'PY'
import pyvisa
rm = pyvisa.ResourceManager("@py")
inst = rm.open_resource("USB0::4660::22137::SIM0001::0::INSTR")
print(inst.query("*IDN?"), end="")
PY
) || fail "pyvisa-py could not query the bootloader"
[ "$reply" = "boot,TM1000,SIM0001,2.05" ] || fail "the bootloader's *IDN? gave '$reply'"
say "jump by control-OUT request 0x40; the bootloader (0x5679) answers: $reply"
gadget_stop
say "ok"
