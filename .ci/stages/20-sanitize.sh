#!/usr/bin/env bash
# The whole test suite once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of its own. Unoptimised, which
# builds fastest; any finding fails the test that made it.
set -euo pipefail
make test BUILD_DIR=build-sanitize \
  CMAKE_ARGS="-DCMAKE_BUILD_TYPE=Debug -DTMFLASH_SANITIZE=address,undefined -DTMFLASH_WERROR=ON"
