#!/usr/bin/env bash
# The README's test command, with warnings as errors: builds everything and
# runs every test.
set -euo pipefail
make test CMAKE_ARGS="-DTMFLASH_WERROR=ON"
