#!/usr/bin/env bash
# Builds the fuzz targets (libFuzzer, ASan and UBSan, clang) and runs each one
# for SECONDS seconds from its seeds, JOBS targets at a time; then runs every
# saved regression and seed once. Fails when any target crashes, hangs, leaks
# or trips a sanitizer; the input that did it is left in BUILD/artifacts/.
#
#   fuzz/run.sh [SECONDS]                 default 30 seconds per target
#   FUZZ_JOBS=1 FUZZ_BUILD_DIR=build-fuzz fuzz/run.sh 600
#
# New inputs a run finds are kept in BUILD/corpus/NAME/ and feed the next run
# (the seeds in fuzz/seeds/ are only read).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
jobs=${FUZZ_JOBS:-2}
build=${FUZZ_BUILD_DIR:-build-fuzz}
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  CXX=${FUZZ_CXX:-clang++} cmake -S . -B "$build" "${generator[@]}" -DTMFLASH_FUZZ=ON -DTMFLASH_TESTS=OFF
fi
# The target names, as CMakeLists.txt lists them (fuzz/NAME_fuzz.cc).
names=()
for source in fuzz/*_fuzz.cc; do
  name=$(basename "$source" _fuzz.cc)
  names+=("$name")
done

# Only the fuzz targets and what they link: the programs are not needed.
began=$(date +%s)
cmake --build "$build" -j "$jobs" --target "${names[@]/%/_fuzz}"
echo "fuzz: built in $(( $(date +%s) - began )) s"

mkdir -p "$build/artifacts" "$build/logs"
# Runs one target; prints its line of the summary.
run_one() {
  local name=$1 dict=() start status
  mkdir -p "$build/corpus/$name"
  if [ -f "fuzz/dicts/$name.dict" ]; then dict=(-dict="fuzz/dicts/$name.dict"); fi
  start=$(date +%s)
  status=0
  "$build/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "${dict[@]}" \
    "$build/corpus/$name" "fuzz/seeds/$name" >"$build/logs/$name.log" 2>&1 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$name.log" | tail -n 1)
  printf '%-22s %4d s %9s runs  %s\n' "$name" "$(( $(date +%s) - start ))" "${runs:-?}" \
    "$([ "$status" -eq 0 ] && echo ok || echo "FAILED (exit $status, $build/logs/$name.log)")"
  return "$status"
}
export -f run_one
export build seconds

echo "fuzz: ${#names[@]} targets, $seconds s each, $jobs at a time"
printf '%-22s %6s %14s\n' target time executions
failed=0
printf '%s\n' "${names[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} || failed=1
if [ "$failed" -ne 0 ]; then
  for log in "$build"/logs/*.log; do
    if grep -q -E 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error|runaway run' "$log"; then
      echo "== $log"
      tail -n 40 "$log"
    fi
  done
  exit 1
fi

# Every saved regression and seed once more, as the test suite of this build.
ctest --test-dir "$build" --output-on-failure -j "$jobs"
