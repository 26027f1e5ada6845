#!/usr/bin/env bash
# The tests through a real USB stack: Debian's kernel in a QEMU guest runs
# hil/tests/*.sh against the programs of the build (make hil).
set -euo pipefail
make hil
