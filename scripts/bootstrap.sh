#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the program.
# Idempotent: returns at once when everything is present.
set -euo pipefail

build_packages=(
    build-essential cmake ninja-build pkg-config clang-format
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-tools-dev qt6-l10n-tools libgl-dev
    libsqlite3-dev libheif-dev zlib1g-dev
    dpkg-dev file
)
runtime_packages=(
    qt6-image-formats-plugins libqt6svg6 qt6-qpa-plugins qt6-translations-l10n
    adwaita-icon-theme hicolor-icon-theme fonts-dejavu-core tzdata
)
test_packages=(
    xvfb xauth x11-utils xdotool imagemagick dbus dbus-x11
    xfce4-panel xfwm4 xfconf dunst trayer
    at-spi2-core python3-pyatspi python3-gi python3-xlib sqlite3
    libvips-tools libimage-exiftool-perl libheif-examples
    clang libclang-rt-14-dev
    desktop-file-utils appstream lintian
)

want=("${build_packages[@]}" "${runtime_packages[@]}")
if [ "${1:-}" = "--tests" ]; then
    want+=("${test_packages[@]}")
fi

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
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
