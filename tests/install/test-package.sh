#!/usr/bin/env bash
# Builds the Debian packages, one per edition, from the build tree and checks them as a
# distribution would: lintian reports no error or warning; together they hold exactly what
# "cmake --install" installs, each file once; and each one installs on its
# own into a throwaway root whose package database is a copy of this machine's (so its
# dependencies are checked against real packages, offline), works there without the other,
# and is purged without a trace.
# Usage: test-package.sh <build folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/perch-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$1" && cpack -G DEB -B "$scratch/out" >/dev/null)
lintian --fail-on error,warning "$scratch"/out/*.deb 2>/dev/null || fail "lintian has the complaints above"

# Into a prefix of its own, as a user installs from a build tree: a rule that writes outside
# the prefix shows in the packages only.
cmake --install "$1" --prefix "$scratch/usr" >/dev/null
(cd "$scratch" && find ./usr ! -type d | sort) >"$scratch/installed"
for deb in "$scratch"/out/*.deb; do dpkg-deb -c "$deb"; done | awk '!/^d/ {print $6}' | sort >"$scratch/packaged"
diff "$scratch/installed" "$scratch/packaged" >&2 || fail "the packages do not hold what cmake --install installs, once"

# One copy of the package database, taken under dpkg's own locks (fcntl locks, which flock(1)
# does not take), so that an apt or dpkg at work meanwhile is waited for, never read halfway;
# as a user, without the rights to lock, as it stands. The lock files are the host's.
python3 - "$scratch/db" <<'PY'
import fcntl, os, shutil, sys
try:
    for name in ("lock-frontend", "lock"):
        fcntl.lockf(os.open(f"/var/lib/dpkg/{name}", os.O_RDWR), fcntl.LOCK_EX)
except OSError:
    pass
shutil.copytree("/var/lib/dpkg", sys.argv[1], symlinks=True, ignore=shutil.ignore_patterns("lock", "lock-frontend", "Lock"))
PY

force=()
[ "$(id -u)" -eq 0 ] || force=(--force-not-root)
for edition in ${PERCH_EDITIONS:-perchlight portraitperch}; do
    deb=$(echo "$scratch/out/${edition}"_*.deb)
    # The plugins that Qt loads at run time, which dpkg-shlibdeps cannot see.
    depends=$(dpkg-deb -f "$deb" Depends)
    for package in libqt6core6 libqt6widgets6 libsqlite3-0 libqt6svg6 qt6-qpa-plugins hicolor-icon-theme; do
        grep -qw "$package" <<<"$depends" || fail "$edition does not depend on $package: $depends"
    done

    root=$scratch/root-$edition
    mkdir -p "$root/var/lib" && cp -a "$scratch/db" "$root/var/lib/dpkg"
    # Other packages' triggers (icon caches, menus) would run their scripts inside the root.
    dpkg --root="$root" "${force[@]}" --no-triggers --log=/dev/null -i "$deb" >/dev/null
    PERCH_EDITIONS=$edition "$here/check-tree.sh" "$root/usr" /usr
    dpkg --root="$root" "${force[@]}" --no-triggers --log=/dev/null --purge "$edition" >/dev/null
    left=$(find "$root" ! -type d ! -path "$root/var/*")
    [ -z "$left" ] || fail "purging $edition left $left"
done
