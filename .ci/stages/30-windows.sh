#!/usr/bin/env bash
# The Windows build: both targets (x86_64, and i686 for 32-bit VISA
# libraries) cross-built with MinGW-w64, each test suite run under Wine, the
# release zips made, and the demo run from each zip unpacked in a folder
# whose name is not ASCII: through --visa=sim:FILE and through --visa=PATH
# of the simulator DLL, with the output compared to the golden text and the
# flash to the images, and piped output checked for colour codes.
set -euo pipefail

times=()
step() {
  local name=$1 begin=$SECONDS
  shift
  echo "-- $name"
  "$@"
  times+=("$(printf '  %-24s %4d s' "$name" $((SECONDS - begin)))")
}

repo=$PWD

# Windows text files end their lines in CR LF; the golden files in LF.
lf() { sed 's/\r$//' "$1"; }

# Runs the demo of one zip, unpacked in a folder whose name is not ASCII,
# both ways: exit status 0, no colour codes, the golden output, the images
# in flash.
demo_from_zip() {
  local zip=$1 root status way
  root=$repo/build-windows/demo-check
  rm -rf "$root"
  local folder="$root/Jörg Updates"
  mkdir -p "$folder"
  (cd "$folder" && cmake -E tar xf "$repo/$zip")
  local program=("$folder"/tmflash-*/tmflash.exe)
  local dll=("$folder"/tmflash-*/tmflash_simvisa.dll)
  local demo=("$folder"/tmflash-*/examples/demo)
  { echo "flash_file = flash.txt"; cat "$demo/instrument.sim"; } >"$demo/with-flash.sim"
  for way in "--visa=sim:with-flash.sim" "--visa=${dll[0]}"; do
    rm -f "$demo/flash.txt"
    status=0
    (cd "$demo" && printf '0\n' | TMFLASH_SIM=with-flash.sim "$repo/cmake/wine-run.sh" "${program[0]}" "$way" demo.lst) \
      >"$root/out.txt" 2>&1 || status=$?
    if [ "$status" -ne 0 ] || grep -q $'\x1b' "$root/out.txt" ||
       ! lf "$root/out.txt" | cmp -s - tests/e2e/demo.golden ||
       ! lf "$demo/flash.txt" | cmp -s - tests/e2e/demo.flash; then
      echo "$zip $way: exit status $status; output, then flash:" >&2
      cat "$root/out.txt" "$demo/flash.txt" >&2 || true
      return 1
    fi
    echo "$zip $way: exit status 0, the golden output without colour codes, the images in flash"
  done
  rm -rf "$root"
}

demos() {
  for zip in build-windows/x86_64/tmflash-*-win64.zip build-windows/i686/tmflash-*-win32.zip; do
    demo_from_zip "$zip"
  done
}

for target in x86_64 i686; do
  step "configure $target" make "build-windows/$target/.configured" CMAKE_ARGS="-DTMFLASH_WERROR=ON"
  step "build $target" cmake --build "build-windows/$target" -j "$(nproc)"
done
for target in x86_64 i686; do
  step "test $target (Wine)" ctest --test-dir "build-windows/$target" --output-on-failure -j "$(nproc)"
done
step "zips" make dist-windows
step "demo from the zips" demos

echo "-- Windows stage steps"
printf '%s\n' "${times[@]}"
