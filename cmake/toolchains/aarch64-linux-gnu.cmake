# Cross-builds for arm64 on a Debian amd64 machine with multiarch: the compilers of
# crossbuild-essential-arm64, the arm64 libraries (":arm64" -dev packages) under
# /usr/lib/aarch64-linux-gnu, and this machine's own Qt tools (moc, rcc, uic), which Qt
# finds through QT_HOST_PATH. Programs built here run under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Headers are shared between architectures in /usr/include; libraries and CMake packages
# are found in the architecture's own folders, never the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
# lupdate and lrelease run on this machine like moc; Debian ships their CMake package with the
# host's Qt tools only (qt6-tools-dev).
set(Qt6LinguistTools_DIR ${QT_HOST_PATH_CMAKE_DIR}/Qt6LinguistTools)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# Build-time tools and CTest run the arm64 programs under emulation; the arm64 loader and
# libraries live in the multiarch paths, so qemu needs no prefix of its own.
find_program(PERCH_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PERCH_QEMU_AARCH64})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
