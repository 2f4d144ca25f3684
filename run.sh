#!/usr/bin/env bash
# Builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")"
ZARVEX_TESTS=OFF scripts/setup.sh
exec build/bin/zarvexwipe "$@"
