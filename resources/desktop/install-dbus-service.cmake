# Run by "cmake --install" (and CPack) for one edition: writes the D-Bus service file through
# which the session bus starts the program when a desktop activates it. The file names the
# program by its absolute path, which is known only now, at install time.
# Expects PERCH_SERVICE_NAME, PERCH_SERVICE_DIR, PERCH_SERVICE_PROGRAM (relative to the prefix).
set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${PERCH_SERVICE_DIR}")
set(service "${folder}/${PERCH_SERVICE_NAME}.service")
message(STATUS "Installing: ${service}")
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${service}"
     "[D-BUS Service]\nName=${PERCH_SERVICE_NAME}\nExec=${CMAKE_INSTALL_PREFIX}/${PERCH_SERVICE_PROGRAM}\n")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${service}")
