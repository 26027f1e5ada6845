#!/usr/bin/env bash
# Usage: hil/fetch-kernel.sh CACHE_DIR
#
# Makes Debian's current amd64 kernel ready for the guest and prints the
# folder that holds it (CACHE_DIR/VERSION) on standard output:
#   vmlinux                      the uncompressed kernel (boots faster under TCG)
#   root/boot/config-VERSION     the kernel's configuration
#   root/lib/modules/VERSION/    the modules the guest uses, with a modules.dep
#
# The version is the one that the metapackage linux-image-amd64 depends on
# today: a version written down here would vanish from the archive with the
# next security update. The .deb stays in the cache, so a later run needs no
# network; folders of older versions are removed once a newer one is ready.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${1:?usage: fetch-kernel.sh CACHE_DIR}
say() { echo "hil: $*" >&2; }

# The package that linux-image-amd64 depends on, e.g. linux-image-6.1.0-57-amd64.
current_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

package=$(current_package)
if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
  say "apt knows no linux-image-amd64 yet; running apt-get update"
  apt-get update -qq >&2
  package=$(current_package)
fi
if [ -z "$package" ]; then
  say "apt-cache knows no linux-image-amd64: run 'apt-get update' first"
  exit 1
fi
version=${package#linux-image-}
dir=$cache/$version
mkdir -p "$dir"

# apt-get download, run as root, hands the download to the unprivileged _apt
# user, which cannot enter a cache under root's home: download as root then.
download() {
  local sandbox=()
  [ "$(id -u)" -eq 0 ] && sandbox=(-o APT::Sandbox::User=root)
  (cd "$dir" && apt-get download -q "${sandbox[@]}" "$package" >&2)
}

deb=$(ls "$dir"/"${package}"_*.deb 2>/dev/null | head -n 1 || true)
if [ -z "$deb" ]; then
  say "downloading $package"
  if ! download && [ "$(id -u)" -eq 0 ]; then
    # A stale package list names a build that the archive no longer has.
    say "download failed; running apt-get update and trying again"
    apt-get update -qq >&2
    download
  fi
  deb=$(ls "$dir"/"${package}"_*.deb | head -n 1)
fi
say "kernel $version (Debian package $(dpkg-deb -f "$deb" Version))"

# Unpacked once: the kernel, its config, and the module folders the guest
# needs (USB, virtio and 9p for the shared folders, configfs). A marker
# written last makes an interrupted unpack start again.
if [ ! -e "$dir/.ready" ]; then
  say "unpacking $(basename "$deb")"
  rm -rf "$dir/root" "$dir/vmlinux"
  mkdir -p "$dir/root"
  mods=./lib/modules/$version
  dpkg-deb --fsys-tarfile "$deb" |
    tar -x -C "$dir/root" --wildcards './boot/*' "$mods/modules.*" \
      "$mods/kernel/drivers/usb/*" "$mods/kernel/drivers/virtio/*" \
      "$mods/kernel/fs/9p/*" "$mods/kernel/fs/netfs/*" \
      "$mods/kernel/fs/fscache/*" "$mods/kernel/fs/configfs/*" \
      "$mods/kernel/net/9p/*"
  # The package ships no modules.dep; busybox writes one for these modules.
  busybox depmod -b "$dir/root" "$version"
  "$here/extract-vmlinux.sh" "$dir/root/boot/vmlinuz-$version" > "$dir/vmlinux"
  touch "$dir/.ready"
fi

# Keep only the current version (only folders named like one are touched).
for old in "$cache"/[0-9]*-amd64/; do
  [ "${old%/}" = "$dir" ] || rm -rf "${old%/}"
done
echo "$dir"
