#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the program. Before installing
# anything it asks apt for its whole plan and stops, naming the packages, if that plan would
# remove an installed package or cannot be resolved; afterwards every package asked for must
# be installed. Idempotent: returns at once when everything is present.
#
#   bootstrap.sh [--tests] [--arm64] [--with PACKAGE]... [--plan-only]
#
# --with adds a package to the list; --plan-only checks the plan against the package lists
# apt already has and installs nothing (the set-up's own test uses both).
set -euo pipefail
cd "$(dirname "$0")/.."

build_packages=(
    build-essential cmake ninja-build pkg-config clang-format ccache
    qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-svg-dev qt6-tools-dev qt6-l10n-tools libgl-dev
    qt6-wayland-dev libwayland-dev wayland-protocols
    libsqlite3-dev libheif-dev libde265-dev libjpeg-dev zlib1g-dev libxcb1-dev libxcb-xinput-dev
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
    gnome-shell gnome-shell-extension-appindicator mutter xwayland
    plasma-desktop kwin-wayland qtwayland5 kde-spectacle plasma-wayland-protocols
    python3-xlib sqlite3 systemd util-linux
    libvips-tools libimage-exiftool-perl libheif-examples
    clang libclang-rt-14-dev
    llvm # llvm-symbolizer: the sanitizers' reports name functions, which the leak suppressions match
    desktop-file-utils appstream lintian
)

# Perchlight for arm64 as well (--arm64): the cross compilers, the arm64 builds of the
# libraries beside this machine's (Debian multiarch) and qemu to run the arm64 tests.
arm64_packages=(
    crossbuild-essential-arm64 qemu-user
    qt6-base-dev:arm64 qt6-base-private-dev:arm64 qt6-svg-dev:arm64 libgl-dev:arm64 libxcb1-dev:arm64 libxcb-xinput-dev:arm64
    qt6-wayland-dev:arm64 libwayland-dev:arm64
    libsqlite3-dev:arm64 libheif-dev:arm64 libde265-dev:arm64 libjpeg62-turbo-dev:arm64 zlib1g-dev:arm64
    libqt6svg6:arm64
)
# Wanted for arm64 but not co-installable with this machine's own build (not "Multi-Arch:
# same"): unpacked into a private folder, which the arm64 tests take their Qt plugins from
# (scripts/test.sh); the libraries they link are installed as arm64 packages.
arm64_unpacked=(qt6-image-formats-plugins)
private_arm64=build-deps/arm64

want=("${build_packages[@]}" "${runtime_packages[@]}")
unpack=()
plan_only=
while [ $# -gt 0 ]; do
    case $1 in
    --tests) want+=("${test_packages[@]}") ;;
    --arm64) want+=("${arm64_packages[@]}") unpack=("${arm64_unpacked[@]}") ;;
    --with) [ $# -gt 1 ] || { echo "bootstrap: --with needs a package" >&2; exit 2; }; want+=("$2"); shift ;;
    --plan-only) plan_only=1 ;;
    *) echo "usage: bootstrap.sh [--tests] [--arm64] [--with PACKAGE]... [--plan-only]" >&2; exit 2 ;;
    esac
    shift
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
updated=
update_lists() {
    [ -z "$updated" ] || return 0
    if [[ " ${want[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
        "${sudo_cmd[@]}" dpkg --add-architecture arm64
    fi
    "${sudo_cmd[@]}" apt-get update -qq
    updated=1
}

# The private arm64 packages, once per version: the stamp names each package's version and
# the libraries it needs, which are then installed like the others.
stamp=$private_arm64/.unpacked
candidates() {
    for p in "${unpack[@]}"; do
        printf '%s=%s ' "$p" "$(apt-cache policy "$p:arm64" 2>/dev/null | sed -n 's/^ *Candidate: //p')"
    done
}
if [ ${#unpack[@]} -gt 0 ] && [ -z "$plan_only" ]; then
    if [ "$(sed -n 1p "$stamp" 2>/dev/null)" != "$(candidates)" ]; then
        update_lists
        rm -rf "$private_arm64" && mkdir -p "$private_arm64"
        download=$(mktemp -d)
        (cd "$download" && apt-get download -qq -o APT::Sandbox::User="$(id -un)" "${unpack[@]/%/:arm64}")
        needs=()
        for deb in "$download"/*.deb; do
            dpkg-deb -x "$deb" "$private_arm64"
            # "libfoo (>= 1), libbar | libbaz": the first of each alternative, for arm64.
            mapfile -t -O ${#needs[@]} needs < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' |
                sed -E 's/\|.*//; s/\(.*\)//; s/ //g; /^$/d; s/$/:arm64/')
        done
        rm -rf "$download"
        printf '%s\n%s\n' "$(candidates)" "${needs[*]}" >"$stamp"
    fi
    read -r -a needs < <(sed -n 2p "$stamp")
    want+=("${needs[@]}")
fi

missing=()
for p in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

[ -n "$plan_only" ] || update_lists
# apt's whole plan first: a fresh machine and a used one must meet the same conflicts, and a
# plan that removes a package would take it from the user (or from the program) unasked.
plan=$(apt-get install -s --no-install-recommends "${missing[@]}" 2>&1) || {
    echo "bootstrap: stopped before installing anything: apt cannot install ${missing[*]}" >&2
    grep -E '^ |^E:' <<<"$plan" >&2 || tail -n 5 <<<"$plan" >&2
    exit 1
}
removed=$(sed -n -E 's/^Remv ([^ ]+).*/\1/p' <<<"$plan" | tr '\n' ' ')
if [ -n "$removed" ]; then
    echo "bootstrap: stopped before installing anything: installing ${missing[*]} would remove ${removed% }" >&2
    exit 1
fi
[ -z "$plan_only" ] || exit 0

echo "Installing: ${missing[*]}" >&2
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
absent=()
for p in "${missing[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || absent+=("$p")
done
if [ ${#absent[@]} -gt 0 ]; then
    echo "bootstrap: apt finished, but these are not installed: ${absent[*]}" >&2
    exit 1
fi
