#!/usr/bin/env bash
# The kernel's own USBTMC host driver reaches our gadget: it binds to the
# interface by its class alone, and *IDN? through /dev/usbtmc0 is answered.
# A host nobody here wrote: the gadget speaks USBTMC, not a dialect of ours.
set -euo pipefail
. hil/lib.sh
. hil/gadget/gadget.sh
say() { echo "10-usbtmc-kernel: $*"; }
fail() { say "FAILED: $*"; exit 1; }
trap gadget_stop EXIT

gadget_start --sim=examples/demo/instrument.sim || fail "the gadget did not enumerate"
hil_wait 10 test -c /dev/usbtmc0 || fail "the kernel's usbtmc driver made no /dev/usbtmc0"
usbtmc_bound || fail "usbtmc is not bound to the interface"

exec 3<> /dev/usbtmc0
printf '*IDN?\n' >&3
reply=$(timeout 10 dd bs=4096 count=1 status=none <&3) || fail "no reply through /dev/usbtmc0"
exec 3>&-
[ "$reply" = "TMSIM,TM1000,SIM0001,1.03" ] || fail "*IDN? gave '$reply'"
say "*IDN? through /dev/usbtmc0: $reply"
gadget_stop
say "ok"
