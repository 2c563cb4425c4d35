#!/usr/bin/env bash
# Checks an installed tree (a prefix such as /usr) for what a desktop needs from both
# editions: programs that start, valid menu entries, the icon at every hicolor size and
# AppStream metadata, pedantically valid, that names the menu entry and the program, the manual
# page, and the D-Bus service through which the bus starts the program.
# Usage: check-tree.sh <prefix> [<prefix once installed>, when a package was unpacked elsewhere]
set -uo pipefail
prefix=$1
installed_prefix=${2:-$1}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for edition in perchlight:Perchlight portraitperch:PortraitPerch; do
    exe=${edition%:*}
    # The editions this build makes (PERCH_EDITIONS): only Perchlight is built for arm64.
    [[ " ${PERCH_EDITIONS:-perchlight portraitperch} " == *" $exe "* ]] || continue
    app_id=io.github.perchlight.${edition#*:}
    desktop=$prefix/share/applications/$app_id.desktop
    metainfo=$prefix/share/metainfo/${app_id,,}.metainfo.xml
    service=$prefix/share/dbus-1/services/$app_id.service
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

    # --help and --version answer without starting anything; a wrong command line gets the
    # usage on standard error and status 2. The manual page renders and names every option.
    run=(env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS ${PERCH_TEST_EMULATOR:-} "$prefix/bin/$exe")
    help=$("${run[@]}" --help 2>&1) && [[ $help == "Usage: $exe [options]"* ]] || fail "$exe --help said: $help"
    german=$(LC_ALL=de_DE.UTF-8 "${run[@]}" --help 2>&1) && [[ $german == *"Diese Hilfe zeigen und beenden."* ]] ||
        fail "$exe --help in German said: $german"
    # PortraitPerch adds the confinement that the kernel gives.
    version=$("${run[@]}" --version 2>&1)
    [[ ${version%%$'\n'Confinement: *} =~ ^$exe\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$exe --version is wrong"
    said=$("${run[@]}" --frobnicate 2>&1 >/dev/null)
    [ $? -eq 2 ] && [ "$said" = "$exe: Unknown option 'frobnicate'."$'\n'"$help" ] || fail "$exe --frobnicate: $said"
    page=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$exe.1.gz" 2>&1 | sed 's/\xe2\x80\x90/-/g')
    for option in $(grep -oE '^  (-[a-z], )?--[a-z-]+' <<<"$help" | grep -oE -- '--[a-z-]+'); do
        grep -q -- "$option" <<<"$page" || fail "$exe(1) does not document $option"
    done
    grep -q "warning" <<<"$page" && fail "$exe(1) does not render cleanly"

    desktop-file-validate "$desktop" || fail "$desktop does not validate"
    grep -qx "Exec=$exe" "$desktop" && grep -qx "Icon=$app_id" "$desktop" && grep -qx "DBusActivatable=true" "$desktop" ||
        fail "$desktop does not start or show $exe, or is not DBusActivatable"
    [ "$(cat "$service")" = "$(printf '[D-BUS Service]\nName=%s\nExec=%s' "$app_id" "$installed_prefix/bin/$exe")" ] ||
        fail "$service does not start $installed_prefix/bin/$exe as $app_id"
    for size in 16 22 24 32 48 64 128 256 512; do
        icon=$prefix/share/icons/hicolor/${size}x$size/apps/$app_id.png
        file -b "$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon is not a $size px PNG"
    done
    grep -q "<svg" "$prefix/share/icons/hicolor/scalable/apps/$app_id.svg" || fail "the scalable $app_id icon is missing"
    report=$(appstreamcli validate --pedantic --no-net --no-color "$metainfo" 2>&1) && ! grep -q '^[EWIP]:' <<<"$report" ||
        fail "$metainfo does not validate pedantically: $report"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" &&
        grep -q "<binary>$exe</binary>" "$metainfo" || fail "$metainfo does not name the $exe menu entry and program"
done
[ "$failures" -eq 0 ] && echo "installed tree under $prefix is complete"
