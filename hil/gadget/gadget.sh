# Helpers for the guest scripts that run tmc_gadget; source after hil/lib.sh:
#   . hil/gadget/gadget.sh
# They use $HIL_BUILD (the programs) and $HIL_OUT (this script's results).

TMC_VENDOR=1234
TMC_MAIN=5678
TMC_BOOT=5679
TMC_SERIAL=SIM0001
TMC_MAIN_RSRC=USB0::0x1234::0x5678::SIM0001::INSTR
TMC_BOOT_RSRC=USB0::0x1234::0x5679::SIM0001::INSTR
gadget_pid=

# gadget_start ARGS...: starts tmc_gadget on dummy_udc.0 with ARGS (at
# least --sim=FILE), its output in $HIL_OUT/gadget.log, and waits until the
# host side has enumerated the main firmware.
gadget_start() {
  "$HIL_BUILD/tmc_gadget" --udc=dummy_udc.0 "$@" > "$HIL_OUT/gadget.log" 2>&1 &
  gadget_pid=$!
  hil_wait 20 grep -q "tmc_gadget: ready" "$HIL_OUT/gadget.log" || {
    cat "$HIL_OUT/gadget.log"
    return 1
  }
  hil_wait 20 hil_usb_device "$TMC_VENDOR" "$TMC_MAIN" "$TMC_SERIAL" > /dev/null
}

# gadget_stop: ends tmc_gadget (which writes its flash files and removes its
# gadget) and waits for it.
gadget_stop() {
  [ -n "$gadget_pid" ] || return 0
  kill -TERM "$gadget_pid" 2> /dev/null || true
  wait "$gadget_pid" || true
  gadget_pid=
}

# usbtmc_bound: the kernel's usbtmc driver holds an interface of ours.
usbtmc_bound() {
  local link
  for link in /sys/bus/usb/drivers/usbtmc/*:*; do
    [ -e "$link" ] && return 0
  done
  return 1
}

# hex_to_file HEX FILE: writes the bytes of "00 01 0A ..." to FILE.
hex_to_file() {
  local byte out=
  for byte in $1; do out+="\\x$byte"; done
  printf "$out" > "$2"
}
