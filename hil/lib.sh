# Helpers for the guest's test scripts (hil/tests/*.sh); source it:
#   . hil/lib.sh
# It runs in the guest, chrooted into the host's /, where the kernel is the
# guest's own: its modules are in $HIL_MODULES (read from the host's cache),
# not in /lib/modules, so load and unload them with the functions below.
# (hil/make-initramfs.sh uses hil_module_entry on the host too.)

HIL_GADGETS=/sys/kernel/config/usb_gadget

# Under emulation every program started costs a tenth of a second or more,
# so these helpers keep to bash's builtins where they can.

# hil_sleep SECONDS: sleeps without starting a program (a read that times
# out on a pipe nobody writes to).
hil_sleep() {
  [ -n "${_hil_pipe:-}" ] || exec {_hil_pipe}<> <(:)
  read -rt "$1" -u "$_hil_pipe" || true
}

# hil_wait SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds;
# fails when SECONDS pass first.
hil_wait() {
  local deadline=$(( ${EPOCHREALTIME/./} + $1 * 1000000 ))
  shift
  until "$@"; do
    if [ "${EPOCHREALTIME/./}" -ge "$deadline" ]; then return 1; fi
    hil_sleep 0.05
  done
}

# hil_module_entry NAME: prints module NAME's line of modules.dep in
# $HIL_MODULES: its file, a colon, and the files of the modules it needs
# (all of them, not only the direct ones), each relative to $HIL_MODULES.
hil_module_entry() {
  local name=${1//-/_}
  # "-" and "_" are the same in module names.
  grep -m 1 "/${name//_/[-_]}\.ko:" "$HIL_MODULES/modules.dep" || {
    echo "hil: no module $1 in $HIL_MODULES" >&2
    return 1
  }
}

# hil_modprobe NAME [PARAM=VALUE...]: loads module NAME, and first the modules
# it depends on, from $HIL_MODULES. Does nothing when NAME is loaded already,
# whatever its parameters.
hil_modprobe() {
  local name=${1//-/_} entry dep
  shift
  [ -d "/sys/module/$name" ] && return 0
  entry=$(hil_module_entry "$name") || return 1
  for dep in ${entry#*:}; do
    dep=${dep##*/}
    hil_modprobe "${dep%.ko}" || return 1
  done
  busybox insmod "$HIL_MODULES/${entry%%:*}" "$@"
}

# hil_rmmod NAME: unloads module NAME if it is loaded.
hil_rmmod() {
  local name=${1//-/_}
  [ -d "/sys/module/$name" ] || return 0
  busybox rmmod "$name"
}

# hil_udc_count: prints how many UDCs (dummy_udc.N) there are.
hil_udc_count() {
  local udcs=(/sys/class/udc/*)
  [ -e "${udcs[0]}" ] && echo "${#udcs[@]}" || echo 0
}

# hil_udcs N: reloads dummy_hcd with N UDCs, dummy_udc.0 to dummy_udc.N-1
# (each with its own root hub on the host side). No gadget may be bound.
# The runner puts back the number the guest booted with after each script.
hil_udcs() {
  hil_udcs_are "$1" && return 0
  hil_rmmod dummy_hcd && hil_modprobe dummy_hcd num="$1" && hil_wait 5 hil_udcs_are "$1"
}
hil_udcs_are() { [ "$(hil_udc_count)" = "$1" ]; }

# hil_usb_device VENDOR PRODUCT [SERIAL]: prints the host side's sysfs folder
# (/sys/bus/usb/devices/N-N) of the device with these IDs (4 lower-case hex
# digits each, e.g. 1d6b 0104) and serial number; fails if there is none.
hil_usb_device() {
  local dev vendor product serial
  for dev in /sys/bus/usb/devices/*; do
    # Interfaces have no IDs; a device going away loses them as it is read.
    read -r vendor 2> /dev/null < "$dev/idVendor" || continue
    read -r product 2> /dev/null < "$dev/idProduct" || continue
    read -r serial 2> /dev/null < "$dev/serial" || serial=
    if [ "$vendor:$product" = "$1:$2" ] && [ "${3-$serial}" = "$serial" ]; then
      echo "$dev"
      return 0
    fi
  done
  return 1
}

# hil_gadget_remove NAME: unbinds configfs gadget NAME from its UDC and
# removes it, in the order configfs requires (links, then the folders
# inside out). Does nothing if there is no such gadget.
hil_gadget_remove() {
  local g=$HIL_GADGETS/$1 item udc links=() dirs=()
  [ -d "$g" ] || return 0
  read -r udc < "$g/UDC" || true
  if [ -n "$udc" ]; then echo > "$g/UDC"; fi
  for item in "$g"/configs/*/* "$g"/os_desc/*; do
    if [ -L "$item" ]; then links+=("$item"); fi
  done
  for item in "$g"/configs/*/strings/* "$g"/configs/* "$g"/functions/* \
              "$g"/strings/* "$g"; do
    if [ -d "$item" ]; then dirs+=("$item"); fi
  done
  if [ "${#links[@]}" -gt 0 ]; then rm "${links[@]}"; fi
  rmdir "${dirs[@]}"
}

# hil_leftovers: removes what a script left behind that would disturb the
# next one (configfs gadgets, FunctionFS mounts), printing a line for each,
# then quietly puts back the guest's boot state (the number of UDCs, the
# modules loaded at boot). Prints nothing when the script left things clean.
hil_leftovers() {
  local g point fstype _
  for g in "$HIL_GADGETS"/*; do
    [ -d "$g" ] || continue
    echo "left gadget $(basename "$g") in configfs (removed)"
    hil_gadget_remove "$(basename "$g")"
  done
  while read -r _ point fstype _; do
    [ "$fstype" = functionfs ] || continue
    echo "left FunctionFS mounted on $point (unmounted)"
    umount "$point"
  done < /proc/self/mounts
  hil_udcs "$HIL_UDCS" >&2
  for g in usbtmc usb_f_fs libcomposite; do hil_modprobe "$g" >&2; done
}
