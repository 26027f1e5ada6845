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
as_root() { [ "$(id -u)" -eq 0 ]; }
mkdir -p "$cache"
# The cache is shared by every checkout of the machine: one run at a time
# may look in it, download or unpack (the others wait here).
exec 9> "$cache/.lock"
flock 9

# The state of apt's package lists and sources: what apt-cache answers
# changes only with it.
apt_state() {
  local lists
  eval "$(apt-config shell lists Dir::State::lists/d)"
  stat -c '%n %s %Y' "$lists"/*Packages* /etc/apt/sources.list* \
    /etc/apt/sources.list.d/* /etc/apt/preferences* 2>/dev/null | md5sum | cut -c1-32
}

# Sets $package to what linux-image-amd64 depends on (e.g.
# linux-image-6.1.0-57-amd64), or to nothing when apt does not know it.
# apt-cache takes seconds where apt keeps no package cache on disk (as in
# container images), so its answer is kept in CACHE_DIR/current against the
# state of the lists; "find_package again" asks apt-cache in any case.
find_package() {
  local state known
  state=$(apt_state)
  read -r known package 2> /dev/null < "$cache/current" || known=
  [ "$known" = "$state" ] && [ "${1:-}" != again ] && return 0
  package=$(apt-cache depends linux-image-amd64 2> /dev/null |
              awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ && !p { p = $2 } END { print p }')
  echo "$state $package" > "$cache/current"
}

# apt-get download, run as root, hands the download to the unprivileged _apt
# user, which cannot enter a cache under root's home: download as root then.
download() {
  local sandbox=()
  as_root && sandbox=(-o APT::Sandbox::User=root)
  say "downloading $package"
  mkdir -p "$cache/$version"
  (cd "$cache/$version" && apt-get download -q "${sandbox[@]}" "$package" >&2)
}
cached_deb() {
  local debs=("$cache/$version/${package}"_*.deb)
  [ ! -e "${debs[0]}" ] || echo "${debs[0]}"
}

find_package
version=${package#linux-image-}
if [ -z "$package" ] || { [ -z "$(cached_deb)" ] && ! download; }; then
  # Lists never fetched, or stale ones naming a build the archive dropped.
  if ! as_root; then
    say "cannot get Debian's kernel package: run 'apt-get update' as root first"
    exit 1
  fi
  say "updating apt's package lists"
  apt-get update -qq >&2
  find_package again
  version=${package#linux-image-}
  [ -n "$package" ] || { say "apt knows no linux-image-amd64"; exit 1; }
  [ -n "$(cached_deb)" ] || download
fi
deb=$(cached_deb)
dir=$cache/$version
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
