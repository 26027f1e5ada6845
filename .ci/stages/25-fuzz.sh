#!/usr/bin/env bash
# Every fuzz target for a short while under libFuzzer, ASan and UBSan, from
# its seeds, two at a time; then every saved regression and seed once. Any
# crash, hang, leak or sanitizer report fails the stage. The long runs are
# `make fuzz` (fuzz/README.md).
set -euo pipefail
FUZZ_JOBS=2 FUZZ_BUILD_DIR=build-fuzz-ci fuzz/run.sh "${FUZZ_SECONDS:-25}"
