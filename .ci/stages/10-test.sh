#!/usr/bin/env bash
# The README's test command: builds everything and runs every test.
set -euo pipefail
make test
