# The Debian package: `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr. It installs the program folder, the menu
# entries and the icon.
set(CPACK_PACKAGE_NAME "tintarel")
set(CPACK_PACKAGE_VENDOR "Tintarel developers")
set(CPACK_PACKAGE_CONTACT "Tintarel developers <tintarel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Chime clock floating on the desktop")
set(CPACK_PACKAGE_DESCRIPTION "A small frameless clock that floats above other windows, plays a melody \
at the full hour followed by the hour strikes, and chimes at the quarters. Quiet rules, visibility \
modes and a configuration program are included.")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Libraries are found by dpkg-shlibdeps; these are loaded at run time only.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, fonts-liberation2, qt6-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
