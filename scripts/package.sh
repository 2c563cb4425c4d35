#!/usr/bin/env bash
# Builds the two Debian packages, one per edition, with Debian's build flags:
#   build-package/perchlight_<version>_<arch>.deb
#   build-package/portraitperch_<version>_<arch>.deb
# Install either or both with: sudo apt install ./build-package/perchlight_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
umask 022
# Hardening (fortified functions, stack protector, read-only relocations) as Debian builds.
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=None -DPERCH_BUILD_TESTS=OFF >/dev/null
cmake --build build-package
cd build-package
rm -f ./*.deb
cpack -G DEB
