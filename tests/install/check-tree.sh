#!/usr/bin/env bash
# Checks an installed tree (a prefix such as /usr) for what a desktop needs from both
# editions: programs that start, valid menu entries, the icon at every hicolor size and
# AppStream metadata, pedantically valid, that names the menu entry and the program.
# Usage: check-tree.sh <prefix>
set -uo pipefail
prefix=$1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for exe in perchlight portraitperch; do
    # The editions this build makes (PERCH_EDITIONS): only Perchlight is built for arm64.
    [[ " ${PERCH_EDITIONS:-perchlight portraitperch} " == *" $exe "* ]] || continue
    desktop=$prefix/share/applications/$exe.desktop
    metainfo=$prefix/share/metainfo/io.github.perchlight.$exe.metainfo.xml
    # Without a display, or with one that cannot be reached, the program must say so in one
    # line on standard error and fail: not crash (a signal), hang, or print anything else.
    for display in "" :4091; do
        said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ${display:+DISPLAY=$display} \
            timeout 60 ${PERCH_TEST_EMULATOR:-} "$prefix/bin/$exe" 2>&1)
        status=$?
        expected=${display:+cannot connect to the display $display}
        [ "$said" = "$exe: ${expected:-no display: DISPLAY is not set; start the program from a graphical session}" ] &&
            [ "$status" -ne 0 ] && [ "$status" -lt 124 ] || fail "$exe with DISPLAY=$display: $status, $said"
    done

    desktop-file-validate "$desktop" || fail "$desktop does not validate"
    grep -qx "Exec=$exe" "$desktop" && grep -qx "Icon=$exe" "$desktop" || fail "$desktop does not start or show $exe"
    for size in 16 22 24 32 48 64 128 256 512; do
        icon=$prefix/share/icons/hicolor/${size}x$size/apps/$exe.png
        file -b "$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon is not a $size px PNG"
    done
    grep -q "<svg" "$prefix/share/icons/hicolor/scalable/apps/$exe.svg" || fail "the scalable $exe icon is missing"
    report=$(appstreamcli validate --pedantic --no-net --no-color "$metainfo" 2>&1) && ! grep -q '^[EWIP]:' <<<"$report" ||
        fail "$metainfo does not validate pedantically: $report"
    grep -q "<launchable type=\"desktop-id\">$exe.desktop</launchable>" "$metainfo" &&
        grep -q "<binary>$exe</binary>" "$metainfo" || fail "$metainfo does not name the $exe menu entry and program"
done
[ "$failures" -eq 0 ] && echo "installed tree under $prefix is complete"
