#!/usr/bin/env bash
# Sets up this machine, builds everything and runs every test (unit, widget and desktop).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh --tests
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
cd build
ctest --output-on-failure --timeout 600 "$@"
