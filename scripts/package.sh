#!/usr/bin/env bash
# Builds the Debian packages: build-package/perchlight_<version>_amd64.deb, which holds both
# editions, and build-package/perchlight_<version>_arm64.deb, Perchlight cross-built for
# arm64 (PortraitPerch is built for x86_64 only).
# Install one with: sudo apt install ./build-package/perchlight_*_$(dpkg --print-architecture).deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh --arm64
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DPERCH_BUILD_TESTS=OFF >/dev/null
cmake --build build-package
(cd build-package && cpack -G DEB)

cmake -S . -B build-package-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=Release -DPERCH_BUILD_TESTS=OFF >/dev/null
cmake --build build-package-arm64
# dpkg-shlibdeps reads the dependencies of the arm64 programs from the arm64 libraries.
(cd build-package-arm64 && DEB_HOST_ARCH=arm64 cpack -G DEB -B "$PWD/../build-package" >/dev/null)
ls build-package/perchlight_*.deb
