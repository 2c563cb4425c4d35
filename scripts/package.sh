#!/usr/bin/env bash
# Builds the Debian packages, one per edition, with Debian's build flags:
#   build-package/perchlight_<version>_amd64.deb, build-package/portraitperch_<version>_amd64.deb
#   build-package/perchlight_<version>_arm64.deb, Perchlight cross-built for arm64
#   (PortraitPerch is built for x86_64 only).
# Install with: sudo apt install ./build-package/perchlight_*_$(dpkg --print-architecture).deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh --arm64
umask 022
# Hardening (fortified functions, stack protector, read-only relocations) as Debian builds.
buildflags() {
    CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
    CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
    LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
    export CXXFLAGS LDFLAGS
}
buildflags
rm -f build-package/*.deb
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=None -DPERCH_BUILD_TESTS=OFF >/dev/null
cmake --build build-package
(cd build-package && cpack -G DEB)

DEB_HOST_ARCH=arm64 buildflags
cmake -S . -B build-package-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=None -DPERCH_BUILD_TESTS=OFF >/dev/null
cmake --build build-package-arm64
# dpkg-shlibdeps reads the dependencies of the arm64 programs from the arm64 libraries.
(cd build-package-arm64 && DEB_HOST_ARCH=arm64 cpack -G DEB -B "$PWD/../build-package" >/dev/null)
ls build-package/*.deb
