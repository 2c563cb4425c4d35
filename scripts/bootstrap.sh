#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the program.
# Idempotent: returns at once when everything is present.
set -euo pipefail

build_packages=(
    build-essential cmake ninja-build pkg-config clang-format ccache
    qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-svg-dev qt6-tools-dev qt6-l10n-tools libgl-dev
    qt6-wayland-dev libwayland-dev wayland-protocols librust-wayland-protocols-dev
    libsqlite3-dev libheif-dev libde265-dev zlib1g-dev
    dpkg-dev file
)
runtime_packages=(
    qt6-image-formats-plugins libqt6svg6 qt6-qpa-plugins qt6-wayland qt6-translations-l10n
    adwaita-icon-theme hicolor-icon-theme fonts-dejavu-core tzdata
)
test_packages=(
    xvfb xauth x11-utils xdotool imagemagick dbus dbus-x11
    xfce4-panel xfwm4 xfconf dunst trayer x11-xserver-utils
    sway waybar grim libglib2.0-bin
    python3-xlib sqlite3 systemd
    libvips-tools libimage-exiftool-perl libheif-examples
    clang libclang-rt-14-dev
    desktop-file-utils appstream lintian
)

# Perchlight for arm64 as well (--arm64): the cross compilers, the arm64 builds of the
# libraries beside this machine's (Debian multiarch) and qemu to run the arm64 tests.
arm64_packages=(
    crossbuild-essential-arm64 qemu-user
    qt6-base-dev:arm64 qt6-base-private-dev:arm64 qt6-svg-dev:arm64 libgl-dev:arm64 libxcb1-dev:arm64
    qt6-wayland-dev:arm64 libwayland-dev:arm64
    libsqlite3-dev:arm64 libheif-dev:arm64 libde265-dev:arm64 zlib1g-dev:arm64
    qt6-image-formats-plugins:arm64 libqt6svg6:arm64
)

want=("${build_packages[@]}" "${runtime_packages[@]}")
for option in "$@"; do
    case $option in
    --tests) want+=("${test_packages[@]}") ;;
    --arm64) want+=("${arm64_packages[@]}") ;;
    *) echo "usage: bootstrap.sh [--tests] [--arm64]" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    "${sudo_cmd[@]}" dpkg --add-architecture arm64
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
