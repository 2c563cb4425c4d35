# One Debian package holding both editions, built from a configured and built tree with
# "cpack -G DEB" (./scripts/package.sh does all of it). Runtime dependencies come from
# dpkg-shlibdeps (package dpkg-dev), so they follow the libraries the programs link.
set(PERCH_PACKAGE_MAINTAINER "Perchlight developers" CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME perchlight)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PERCH_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "personal photo in the system tray as a daily reminder")
# CPack puts the summary above this as the first line.
set(CPACK_PACKAGE_DESCRIPTION "Perchlight keeps one personal photo at hand in the system tray. A click on the
tray icon shows the photo with an editable title; a daily desktop notification
carries the photo at a chosen time with a chosen message.
.
The package holds two editions: perchlight and its earlier revision portraitperch.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The icons go into the hicolor theme, which that package owns.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "hicolor-icon-theme")
# Qt loads its Wayland platform plugin at run time, so no library dependency names it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
