#!/usr/bin/env bash
# The USB stack alone, with no code of ours, so that a failure here points at
# the machine and not at our device or driver:
#  - the boot state the other scripts rely on (the UDCs, the modules loaded);
#  - a configfs gadget made of the kernel's ACM function, bound to
#    dummy_udc.0, enumerates on the host side with its IDs and serial, and
#    carries data both ways (host: cdc-acm's ttyACM, gadget: ttyGS);
#  - unbound and removed, it is gone from both sides;
#  - dummy_hcd with num=2 gives two UDCs that each enumerate a gadget at the
#    same time.
# It leaves the guest as it found it.
set -euo pipefail
. hil/lib.sh

vendor=1d6b    # Linux Foundation
product=0104   # Multifunction Composite Gadget
say() { echo "00-usb-stack: $*"; }
fail() { say "FAILED: $*"; exit 1; }

# (Under emulation each program started costs a tenth of a second or more:
# bash's builtins do most of the work here.)

# make_gadget NAME UDC SERIAL: an ACM gadget bound to UDC.
make_gadget() {
  local g=$HIL_GADGETS/$1
  mkdir "$g"
  mkdir "$g/strings/0x409" "$g/configs/c.1" "$g/functions/acm.$1"
  echo "0x$vendor" > "$g/idVendor"
  echo "0x$product" > "$g/idProduct"
  echo "$3" > "$g/strings/0x409/serialnumber"
  echo "tmflash" > "$g/strings/0x409/manufacturer"
  echo "USB stack check" > "$g/strings/0x409/product"
  ln -s "$g/functions/acm.$1" "$g/configs/c.1/"
  echo "$2" > "$g/UDC"
}

# device_gone VENDOR PRODUCT SERIAL: true once the host side lost it.
device_gone() { ! hil_usb_device "$@" > /dev/null; }

# attributes DEVICE NAME...: the device's sysfs attributes, on one line.
attributes() {
  local name value line=
  for name in "${@:2}"; do
    read -r value < "$1/$name"
    line+="$name=$value "
  done
  echo "$line"
}

# send FROM TO TEXT: writes TEXT on tty FROM and checks that tty TO reads it.
send() {
  local got=
  exec 3< "$2"
  printf '%s' "$3" > "$1"
  read -r -t 5 -N "${#3}" got <&3 || true
  exec 3<&-
  [ "$got" = "$3" ] || fail "$1 -> $2: sent '$3', read '$got'"
  say "data $1 -> $2 ok"
}

cleanup() {
  hil_gadget_remove smoke0 || true
  hil_gadget_remove smoke1 || true
}
trap cleanup EXIT

# The boot state.
[ "$(hil_udc_count)" = "$HIL_UDCS" ] || fail "$(hil_udc_count) UDCs, expected $HIL_UDCS"
[ -e /sys/class/udc/dummy_udc.0 ] || fail "no dummy_udc.0"
for module in usbtmc usb_f_fs libcomposite dummy_hcd; do
  [ -d "/sys/module/$module" ] || fail "module $module is not loaded"
done
udcs=(/sys/class/udc/*)
say "kernel $HIL_KERNEL, UDCs: ${udcs[*]##*/}"

# One gadget, through enumeration and data both ways.
hil_modprobe usb_f_acm
hil_modprobe cdc_acm
make_gadget smoke0 dummy_udc.0 smoke-0
dev=$(hil_wait 10 hil_usb_device "$vendor" "$product" smoke-0) ||
  fail "the host side never saw $vendor:$product"
say "host side: $dev: $(attributes "$dev" idVendor idProduct manufacturer product serial)"
hil_wait 5 test -c /dev/ttyACM0 || fail "no /dev/ttyACM0 on the host side"
hil_wait 5 test -c /dev/ttyGS0 || fail "no /dev/ttyGS0 on the gadget side"
stty -F /dev/ttyACM0 raw -echo
stty -F /dev/ttyGS0 raw -echo
send /dev/ttyACM0 /dev/ttyGS0 "host to gadget"
send /dev/ttyGS0 /dev/ttyACM0 "gadget to host"

# Unbound, it leaves the host side; removed, it leaves configfs.
echo > "$HIL_GADGETS/smoke0/UDC"
hil_wait 5 device_gone "$vendor" "$product" smoke-0 || fail "still seen after unbinding"
hil_gadget_remove smoke0
[ ! -e "$HIL_GADGETS/smoke0" ] || fail "gadget smoke0 still in configfs"
say "unbound and removed"

# Two UDCs, each with a gadget at the same time.
hil_udcs 2 || fail "dummy_hcd num=2 did not give two UDCs"
[ -e /sys/class/udc/dummy_udc.1 ] || fail "no dummy_udc.1"
make_gadget smoke0 dummy_udc.0 smoke-0
make_gadget smoke1 dummy_udc.1 smoke-1
hil_wait 10 hil_usb_device "$vendor" "$product" smoke-0 > /dev/null || fail "smoke-0 not seen on 2 UDCs"
hil_wait 10 hil_usb_device "$vendor" "$product" smoke-1 > /dev/null || fail "smoke-1 not seen on 2 UDCs"
say "num=2: two UDCs, both gadgets enumerated"
hil_gadget_remove smoke0
hil_gadget_remove smoke1

# Back to the boot state.
hil_udcs "$HIL_UDCS"
hil_rmmod cdc_acm
hil_rmmod usb_f_acm
hil_rmmod u_serial
say "ok"
