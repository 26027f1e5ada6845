#!/usr/bin/env bash
# Debian's pyvisa-py (over pyusb and libusb) lists our gadget and gets its
# *IDN? through pyvisa's @py backend: a second host nobody here wrote.
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
gadget_stop
say "ok"
