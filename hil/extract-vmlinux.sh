#!/usr/bin/env bash
# Usage: hil/extract-vmlinux.sh BZIMAGE > vmlinux
#
# Writes the uncompressed ELF kernel held inside a bzImage. QEMU boots that
# ELF directly (through its PVH entry), which saves the guest from
# decompressing itself under slow emulation.
#
# The compressed payload starts at a magic number somewhere in the image:
# try each place where one of the known magics occurs, and keep the first
# that unpacks to an ELF file.
set -euo pipefail
image=${1:?usage: extract-vmlinux.sh BZIMAGE}
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# Magic (as a grep -P pattern) and the tool that unpacks from it.
try_format() {
  local magic=$1; shift
  local offset
  for offset in $(LC_ALL=C grep -obUaP "$magic" "$image" | cut -d: -f1); do
    # The payload is followed by the rest of the image: the tool complains
    # about that trailing data, but what it wrote before is the kernel.
    tail -c +"$((offset + 1))" "$image" | "$@" > "$out" 2>/dev/null || true
    if [ "$(head -c 4 "$out")" = $'\x7fELF' ]; then
      cat "$out"
      exit 0
    fi
  done
}

try_format '\xfd7zXZ\x00' xz -dc
try_format '\x28\xb5\x2f\xfd' zstd -dc
try_format '\x1f\x8b\x08' gzip -dc
try_format '\x02\x21\x4c\x18' lz4 -dc
echo "extract-vmlinux.sh: no known compressed kernel found in $image" >&2
exit 1
