#!/usr/bin/env bash
# Checks an installed tree (a prefix such as /usr) for what a desktop needs from the
# editions (both, unless named): programs that start, valid menu entries, the icon at every
# hicolor size and AppStream metadata, pedantically valid, whose entries resolve.
# Usage: check-tree.sh <prefix> [perchlight|portraitperch]...
set -euo pipefail
prefix=$1
shift
sizes=(16 22 24 32 48 64 128 256 512)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

check_edition() {
    local exe=$1 app_id=$2
    local desktop=$prefix/share/applications/$exe.desktop
    local metainfo=$prefix/share/metainfo/${app_id,,}.metainfo.xml

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
    else
        fail "$desktop is missing"
    fi

    for size in "${sizes[@]}"; do
        local icon=$prefix/share/icons/hicolor/${size}x$size/apps/$exe.png
        file -b "$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon is not a $size px PNG"
    done
    grep -q "<svg" "$prefix/share/icons/hicolor/scalable/apps/$exe.svg" || fail "the scalable $exe icon is missing"

    if [ -f "$metainfo" ]; then
        local report
        report=$(appstreamcli validate --pedantic --no-net --no-color "$metainfo" 2>&1) && ! grep -q '^[EWIP]:' <<<"$report" ||
            fail "$metainfo does not validate pedantically: $report"
        local launchable binary
        launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")
        binary=$(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$metainfo")
        [ "$launchable" = "${desktop##*/}" ] && [ "$binary" = "$exe" ] ||
            fail "$metainfo names the menu entry '$launchable' and the program '$binary'"
    else
        fail "$metainfo is missing"
    fi
}

declare -A app_ids=([perchlight]=io.github.perchlight.Perchlight [portraitperch]=io.github.perchlight.PortraitPerch)
editions=("$@")
[ $# -gt 0 ] || editions=(perchlight portraitperch)
for exe in "${editions[@]}"; do
    check_edition "$exe" "${app_ids[$exe]}"
done

[ "$failures" -eq 0 ] || exit 1
echo "installed tree under $prefix is complete"
