#!/usr/bin/env bash
# Builds the Debian package from the build tree, installs it with dpkg into a throwaway
# root whose package database is a copy of this machine's (so its dependencies are
# checked against real packages, offline) and checks the installed tree.
# Usage: test-package.sh <build folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/perch-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

(cd "$1" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$(echo "$scratch"/out/perchlight_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6core6 libqt6gui6 libqt6widgets6 libsqlite3-0 hicolor-icon-theme; do
    grep -q "\b$library\b" <<<"$depends" || { echo "FAIL: Depends lacks $library: $depends" >&2; exit 1; }
done
if dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/'; then
    echo "FAIL: the package puts files outside /usr" >&2
    exit 1
fi

root=$scratch/root
mkdir -p "$root/var/lib"
# The lock files are the host's, and readable by root only.
tar -C /var/lib --exclude=lock --exclude=lock-frontend --exclude=triggers/Lock -cf - dpkg | tar -C "$root/var/lib" -xf -
force=()
[ "$(id -u)" -eq 0 ] || force=(--force-not-root)
# Other packages' triggers (icon caches, menus) would run their scripts inside the root.
dpkg --root="$root" "${force[@]}" --no-triggers --log=/dev/null -i "$deb" >/dev/null
dpkg --root="$root" -s perchlight | grep -qx "Status: install ok installed"
"$here/check-tree.sh" "$root/usr" /usr
