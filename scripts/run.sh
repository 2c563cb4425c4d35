#!/usr/bin/env bash
# Sets up this machine, builds both editions and starts Perchlight.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target perchlight portraitperch
exec ./build/app/perchlight "$@"
