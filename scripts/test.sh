#!/usr/bin/env bash
# Sets up this machine, builds everything and runs every test: unit, widget and desktop
# tests on the normal build, then the unit tests, the crash loop and the fuzz targets on
# a second build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh --tests

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERCH_WERROR=ON >/dev/null
cmake --build build
(cd build && ctest --output-on-failure --timeout 600 "$@")

CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERCH_WERROR=ON -DPERCH_FUZZ=ON \
    -DPERCH_FUZZ_SECONDS="${PERCH_FUZZ_SECONDS:-60}" >/dev/null
cmake --build build-sanitize
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
(cd build-sanitize && ctest --output-on-failure --timeout 900 -L 'unit|crash|hostile|fuzz' "$@")
