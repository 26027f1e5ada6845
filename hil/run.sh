#!/usr/bin/env bash
# Usage: hil/run.sh [BUILD_DIR]        (what `make hil` runs)
#
# Runs the guest test scripts hil/tests/*.sh through a real USB stack: boots
# Debian's kernel in QEMU (TCG) from a busybox initramfs, with dummy_hcd
# joining a gadget side and a host side inside the guest, and runs every
# script in one boot, chrooted into this machine's / (shared read-only). See
# hil/README.md for how a test script is written.
#
# Exits 0 only when every script passed. The whole guest run has a time
# limit, after which QEMU is killed; QEMU never outlives this script.
#
# Settings (environment):
#   HIL_CACHE         where the kernel package is kept between runs
#                     (default ${XDG_CACHE_HOME:-$HOME/.cache}/tmflash/hil)
#   HIL_TIMEOUT       seconds for the whole guest run (default 300)
#   HIL_TEST_TIMEOUT  seconds for one script (default 120)
#   HIL_UDCS          UDCs dummy_hcd makes at boot (default 1)
#   HIL_TESTS         pattern of the script names to run (default *)
#   HIL_APPEND        more kernel command-line arguments (e.g. loglevel=7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:-$root/build}"
build=$(cd "${1:-$root/build}" && pwd)
work=$build/hil
cache=${HIL_CACHE:-${XDG_CACHE_HOME:-${HOME:?set HIL_CACHE or HOME}/.cache}/tmflash/hil}
timeout=${HIL_TIMEOUT:-300}
pattern=${HIL_TESTS:-*}
started=$EPOCHREALTIME

# The scripts to run, by name.
scripts=()
for script in "$root"/hil/tests/*.sh; do
  name=$(basename "$script" .sh)
  if [[ $name == $pattern ]]; then scripts+=("$name"); fi   # a glob, unquoted
done
if [ "${#scripts[@]}" -eq 0 ]; then
  echo "hil: no script in hil/tests matches '$pattern' (HIL_TESTS)" >&2
  exit 1
fi

# What this needs of the machine (.ci/packages/hil.txt lists the packages).
for tool in qemu-system-x86_64 busybox cpio file xz apt-get dpkg-deb; do
  if ! command -v "$tool" > /dev/null; then
    echo "hil: $tool not found: install the packages of .ci/packages/hil.txt" >&2
    exit 1
  fi
done

seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }

kernel=$("$root/hil/fetch-kernel.sh" "$cache")
version=$(basename "$kernel")
rm -rf "$work"
mkdir -p "$work/results"
"$root/hil/make-initramfs.sh" "$kernel" "$work/initramfs.cpio"

# What the guest needs to know, read by its init and its test runner.
quote() { printf "export %s='%s'\n" "$1" "${2//\'/\'\\\'\'}"; }
{
  quote HIL_ROOT "$root"
  quote HIL_BUILD "$build"
  quote HIL_RESULTS "$work/results"
  quote HIL_MODULES "$kernel/root/lib/modules/$version"
  quote HIL_KERNEL "$version"
  quote HIL_UDCS "${HIL_UDCS:-1}"
  quote HIL_TEST_TIMEOUT "${HIL_TEST_TIMEOUT:-120}"
  quote HIL_TESTS "$pattern"
} > "$work/results/hil.env"

# One CPU and the uncompressed kernel boot fastest under TCG; so does a
# kernel that routes PCI interrupts without ACPI (its interpreter is slow
# under emulation) and skips the self-tests of its crypto algorithms. ACPI
# itself stays: without it the kernel's clock, calibrated against the PIT
# alone, was seen running thirty times too fast. The guest ends with a
# reboot, which -no-reboot makes QEMU's exit. QEMU's option parser needs a
# comma in a path doubled.
share() { echo "local,path=${1//,/,,},mount_tag=$2,security_model=none,$3"; }
qemu=(qemu-system-x86_64 -machine pc,accel=tcg -cpu max -smp 1 -m 1G
      -nodefaults -no-user-config -display none -no-reboot -serial stdio
      -kernel "$kernel/vmlinux" -initrd "$work/initramfs.cpio"
      -append "console=ttyS0 panic=-1 quiet pci=noacpi cryptomgr.notests ${HIL_APPEND:-}"
      -virtfs "$(share / hostroot readonly=on,multidevs=remap)"
      -virtfs "$(share "$work/results" results multidevs=remap)"
      -pidfile "$work/qemu.pid")

# QEMU never outlives this script, whichever way it ends.
stop_qemu() {
  local pid
  pid=$(cat "$work/qemu.pid" 2>/dev/null) || return 0
  if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = qemu-system-x86 ]; then
    kill "$pid" 2>/dev/null || true
  fi
}
trap stop_qemu EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Shows the guest's console as it comes, keeps it in console.log, and notes
# when the first script starts.
show_console() {
  local line
  exec 3>> "$work/console.log"
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    if [ ! -e "$work/first-output" ] && [[ $line == "hil: ==== "* ]]; then
      seconds_since "$guest_started" > "$work/first-output"
    fi
    printf '%s\n' "$line"
    printf '%s\n' "$line" >&3
  done
}

echo "hil: booting kernel $version (limit ${timeout} s)"
guest_started=$EPOCHREALTIME
# (In the background, so that a signal to this script is handled at once.)
{
  status=0
  timeout -k 5 "$timeout" "${qemu[@]}" < /dev/null 2>&1 || status=$?
  echo "$status" > "$work/qemu.status"
} | show_console &
wait $! || true
guest_seconds=$(seconds_since "$guest_started")

# The verdict: QEMU's own status, then one line per script from the guest.
# A script is counted failed unless the guest reported it passed.
broken=0
passed=0
failed=0
qemu_status=$(cat "$work/qemu.status" 2>/dev/null || echo "unknown")
case $qemu_status in
  0) ;;
  124|137) echo "hil: FAILED: the guest ran longer than $timeout s (HIL_TIMEOUT); QEMU was killed"
           broken=1 ;;
  *) echo "hil: FAILED: QEMU ended with status $qemu_status"
     broken=1 ;;
esac
status_file=$work/results/status
read -r _ uptime < <(grep '^done ' "$status_file" 2>/dev/null) || uptime=
if [ "$broken" -eq 0 ] && [ -z "$uptime" ]; then
  echo "hil: FAILED: the guest stopped before its test runner finished"
  broken=1
fi
# The guest's clock cannot have run longer than QEMU did: if it did, the
# scripts' time limits and waits were wrong.
if [ -n "$uptime" ] && awk -v g="$uptime" -v q="$guest_seconds" 'BEGIN { exit !(g > q + 2) }'; then
  echo "hil: FAILED: the guest's clock ran fast ($uptime s in $guest_seconds s): its time limits cannot be trusted"
  broken=1
fi
echo "hil: results (console log: $work/console.log)"
for name in "${scripts[@]}"; do
  read -r _ status secs < <(grep "^$name " "$status_file" 2>/dev/null) || status=
  if [ "$status" = 0 ]; then
    printf 'hil:   ok    %-28s %6s s\n' "$name" "$secs"
    passed=$((passed + 1))
    continue
  fi
  failed=$((failed + 1))
  if [ -n "$status" ]; then
    printf 'hil:   FAIL  %-28s %6s s  exit status %s\n' "$name" "$secs" "$status"
  elif grep -qx "hil: ==== $name" "$work/console.log" 2>/dev/null; then
    printf 'hil:   FAIL  %-28s did not finish\n' "$name"
  else
    printf 'hil:   FAIL  %-28s not run\n' "$name"
  fi
done

echo "hil: kernel $version; boot to first test output $(cat "$work/first-output" 2>/dev/null || echo -) s;" \
     "guest $guest_seconds s; whole run $(seconds_since "$started") s"
echo "hil: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$broken" -eq 0 ]
