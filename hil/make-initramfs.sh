#!/usr/bin/env bash
# Usage: hil/make-initramfs.sh KERNEL_DIR OUTPUT.cpio
#
# Builds the guest's initramfs: Debian's static busybox, the guest's init
# (hil/guest/init), and the kernel modules it loads, with a modules.dep of
# their own. KERNEL_DIR is what hil/fetch-kernel.sh printed.
#
# The archive is left uncompressed: unpacking it costs the guest less than
# decompressing would under emulation. It takes well under a second to build,
# so it is built afresh at every run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kdir=${1:?usage: make-initramfs.sh KERNEL_DIR OUTPUT}
output=${2:?usage: make-initramfs.sh KERNEL_DIR OUTPUT}
version=$(basename "$kdir")
moddir=$kdir/root/lib/modules/$version

# What the guest loads: virtio and 9p to reach the host's folders, then the
# USB stack (see hil/guest/init for the order).
modules=(virtio_pci 9pnet_virtio 9p
         usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_fs usbtmc)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage"/{bin,sbin,dev,proc,sys,tmp,newroot,results} "$stage/lib/modules/$version"

# busybox from busybox-static: the initramfs has no C library.
busybox=$(command -v busybox)
if [[ $(file -L "$busybox") != *"statically linked"* ]]; then
  echo "hil: $busybox is not static: install busybox-static" >&2
  exit 1
fi
cp "$busybox" "$stage/bin/busybox"   # the init links its applets in
install -m 755 "$here/guest/init" "$stage/init"

# Each module with what it depends on, as modules.dep of the cache lists it.
HIL_MODULES=$moddir
. "$here/lib.sh"
copy_module() {
  local entry file
  entry=$(hil_module_entry "$1")
  for file in ${entry/:/}; do
    mkdir -p "$stage/lib/modules/$version/$(dirname "$file")"
    cp "$moddir/$file" "$stage/lib/modules/$version/$file"
  done
}
for module in "${modules[@]}"; do copy_module "$module"; done
cp "$moddir"/modules.{builtin,order} "$stage/lib/modules/$version/"
busybox depmod -b "$stage" "$version"

(cd "$stage" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) > "$output"
