#!/usr/bin/env bash
# Checks an installed tree (a prefix such as /usr) for what a desktop needs from both
# editions: programs that start, valid menu entries, the icon at every hicolor size and
# valid AppStream metadata that points at the menu entry.
# Usage: check-tree.sh <prefix> [<prefix once installed>, when a package was unpacked elsewhere]
set -euo pipefail
prefix=$1
installed_prefix=${2:-$1}
sizes=(16 22 24 32 48 64 128 256 512)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

check_edition() {
    local exe=$1 app_id=$2
    local desktop=$prefix/share/applications/$app_id.desktop
    local service=$prefix/share/dbus-1/services/$app_id.service
    local metainfo=$prefix/share/metainfo/$app_id.metainfo.xml

    [ -x "$prefix/bin/$exe" ] || fail "$exe is not installed as a program"
    # Without a display the program must say so in one line and fail, not crash or hang.
    local status=0 errors
    errors=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$prefix/bin/$exe" 2>&1 >/dev/null) ||
        status=$?
    [ "$status" -ne 0 ] && [ "$status" -lt 124 ] || fail "$exe without a display exited with $status"
    [ "$errors" = "$exe: no display: DISPLAY is not set; start the program from a graphical session" ] ||
        fail "$exe without a display said: $errors"

    if [ -f "$desktop" ]; then
        desktop-file-validate "$desktop" || fail "$desktop does not validate"
        grep -qx "Exec=$exe" "$desktop" || fail "$desktop does not start $exe"
        grep -qx "Icon=$exe" "$desktop" || fail "$desktop does not show the $exe icon"
        grep -qx "DBusActivatable=true" "$desktop" || fail "$desktop is not DBusActivatable"
    else
        fail "$desktop is missing"
    fi
    # The bus starts the installed program by its absolute path when a desktop activates it.
    [ "$(cat "$service" 2>/dev/null)" = "$(printf '[D-BUS Service]\nName=%s\nExec=%s' "$app_id" "$installed_prefix/bin/$exe")" ] ||
        fail "$service does not start $installed_prefix/bin/$exe as $app_id"
    [ -s "$prefix/share/man/man1/$exe.1.gz" ] || fail "the manual page $exe(1) is missing"

    for size in "${sizes[@]}"; do
        local icon=$prefix/share/icons/hicolor/${size}x$size/apps/$exe.png
        file -b "$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon is not a $size px PNG"
    done
    grep -q "<svg" "$prefix/share/icons/hicolor/scalable/apps/$exe.svg" || fail "the scalable $exe icon is missing"

    if [ -f "$metainfo" ]; then
        appstreamcli validate --no-net --no-color "$metainfo" >/dev/null || {
            appstreamcli validate --no-net --no-color "$metainfo" >&2 || true
            fail "$metainfo does not validate"
        }
        grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
            fail "$metainfo does not name the $exe menu entry"
    else
        fail "$metainfo is missing"
    fi
}

check_edition perchlight io.github.perchlight.Perchlight
check_edition portraitperch io.github.perchlight.PortraitPerch

[ "$failures" -eq 0 ] || exit 1
echo "installed tree under $prefix is complete"
