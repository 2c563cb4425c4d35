#!/usr/bin/env bash
# Builds the Debian package that holds both editions: build-package/perchlight_<version>_<arch>.deb.
# Install it with: sudo apt install ./build-package/perchlight_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DPERCH_BUILD_TESTS=OFF >/dev/null
cmake --build build-package
cd build-package
cpack -G DEB
