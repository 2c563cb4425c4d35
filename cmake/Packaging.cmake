# Two Debian packages, perchlight and portraitperch, one per edition, built with
# "cpack -G DEB" from a configured and built tree (./scripts/package.sh does all of it).
# Each package holds one CPack component, named after its edition: every install rule names
# the edition it belongs to (COMPONENT perchlight or portraitperch). A rule without one
# lands in neither package, which the package test reports.
set(PERCH_DEBIAN_MAINTAINER "Perchlight developers <perchlight@example.org>"
    CACHE STRING "Maintainer field of the Debian packages: a name and an address")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${PERCH_EDITIONS})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PERCH_DEBIAN_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders that the install rules create implicitly, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE perchlight)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# dpkg-shlibdeps finds the linked libraries; the plugins that Qt loads at run time are
# added here: the X11 platform (qt6-qpa-plugins) and the SVG icon engine and image reader
# that draw the control icons (libqt6svg6). The hicolor theme owns the icon folders.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, hicolor-icon-theme")
# WebP, GIF, TIFF photos; Qt's own German texts for the file dialog and the editing menus;
# the Wayland platform, which Qt loads at run time like the X11 one; GNOME's look (Adwaita).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-image-formats-plugins, qt6-translations-l10n, qt6-wayland, adwaita-qt6")

# The first line of each description is the package's synopsis; lines stay within 80 columns.
set(CPACK_DEBIAN_PERCHLIGHT_PACKAGE_NAME perchlight)
set(CPACK_DEBIAN_PERCHLIGHT_DESCRIPTION "personal photo in the system tray as a daily reminder
Perchlight keeps one personal photo at hand in the system tray. A click on the
tray icon shows the photo with an editable title and controls to change it. A
daily desktop notification carries the photo at a chosen time with a chosen
message.")
set(CPACK_DEBIAN_PORTRAITPERCH_PACKAGE_NAME portraitperch)
set(CPACK_DEBIAN_PORTRAITPERCH_DESCRIPTION "personal photo in the system tray, earlier revision
PortraitPerch keeps one personal photo at hand in the system tray. A click on
the tray icon shows the photo with an editable title and controls to change
it. A daily desktop notification carries the photo at a chosen time with a
chosen message.
.
PortraitPerch is the earlier revision of Perchlight: its settings have no Back
button. Both keep the photo and the settings in the same place.")

include(CPack)
