#!/usr/bin/env bash
# Sets up this machine, builds everything and runs every test: unit, widget and desktop
# tests on the normal build; the unit tests, the crash loop and the fuzz targets on a
# second build with AddressSanitizer and UndefinedBehaviorSanitizer; and Perchlight built
# for arm64, its unit tests and crash loops under qemu, the same results as this machine's
# build, and its package. Compiler output is cached between runs on this machine (ccache).
# Prints how long each step took ("time: STEP N s") to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
step() { # name, command...: runs the command and says how long it took
    local name=$1 at=$SECONDS
    shift
    "$@"
    echo "time: $name $((SECONDS - at)) s" >&2
}
step set-up ./scripts/bootstrap.sh --tests --arm64
export CCACHE_BASEDIR="$PWD"
cache=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERCH_WERROR=ON "${cache[@]}" >/dev/null
step build cmake --build build
(cd build && step tests ctest --output-on-failure --timeout 600 -j "$jobs" "$@")

CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERCH_WERROR=ON -DPERCH_FUZZ=ON "${cache[@]}" \
    -DPERCH_FUZZ_SECONDS="${PERCH_FUZZ_SECONDS:-60}" >/dev/null
step build-sanitize cmake --build build-sanitize
# intercept_tls_get_addr=0: clang 14's leak checker can take a thread's dynamic TLS block for
# an older glibc's layout and read a range that does not exist, dying at exit ("Tracer caught
# signal 11") in programs that start many threads, as HEIC decoding does.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
(cd build-sanitize && step tests-sanitize ctest --output-on-failure --timeout 900 -j "$jobs" -L 'unit|crash|hostile|fuzz' "$@")

# The arm64 tests take the Qt plugins that cannot be installed beside this machine's own from
# the set-up's private folder. Nobody debugs that tree: without debug information it builds in
# three quarters of the time.
cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DPERCH_WERROR=ON -DPERCH_NATIVE_BUILD_DIR="$PWD/build" "${cache[@]}" >/dev/null
step build-arm64 cmake --build build-arm64
(cd build-arm64 && step tests-arm64 env -u ASAN_OPTIONS -u UBSAN_OPTIONS -u LSAN_OPTIONS \
    QT_PLUGIN_PATH="$PWD/../build-deps/arm64/usr/lib/aarch64-linux-gnu/qt6/plugins" \
    ctest --output-on-failure --timeout 900 -j "$jobs" -L 'unit|crash|install' "$@")
echo "time: all $((SECONDS - started)) s" >&2
