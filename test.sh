#!/usr/bin/env bash
# Builds the program and every test, then runs them all; non-zero on failure.
set -euo pipefail
cd "$(dirname "$0")"
ZARVEX_TESTS=ON scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure --timeout 600 -j1 "$@"
