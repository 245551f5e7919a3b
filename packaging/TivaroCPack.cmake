# The Debian package: `cpack -G DEB` in the build folder makes
# tivaro_<version>-<release>_<arch>.deb from the install rules.
#
# Its dependencies come from dpkg-shlibdeps (dpkg-dev), which reads the
# libraries the executables are linked with (Qt 6, libusb). Qt's plugins are
# loaded at run time and are named here: the SVG image and icon engine
# plugins draw the program's icons.

set(CPACK_PACKAGE_NAME tivaro)
set(CPACK_PACKAGE_VENDOR Halvorn)
set(CPACK_PACKAGE_VERSION "${TIVARO_VERSION_STRING}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for Halvorn LED drivers and the Portline dongle")
# The long description as the control file shows it: lines under 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Tivaro sets up, commissions and tests Halvorn LED drivers through the"
    "Portline USB dongle, which carries a DMX512 line, a DALI bus and the"
    "Keymark tag interface. It discovers and commissions the equipment on each"
    "bus, reads and writes the drivers' parameters, drives levels from sliders"
    "and logs every frame in decoded form."
    ""
    "The package holds the program (tivaro), the command line tool for scripts"
    "and production lines (tivaro-cli) and the udev rule that lets the user at"
    "the seat use the dongle without root rights.")
set(CPACK_PACKAGE_CONTACT "Halvorn <tivaro@halvorn.com>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Release builds carry debug information; the package does not.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package version is the latest entry of debian/changelog: the program's
# version and the package release.
file(STRINGS "${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog" _tivaro_changelog_top LIMIT_COUNT 1)
if(_tivaro_changelog_top MATCHES "^tivaro \\(([^-)]+)-([^)]+)\\)")
    set(CPACK_DEBIAN_PACKAGE_RELEASE "${CMAKE_MATCH_2}")
    if(NOT CMAKE_MATCH_1 STREQUAL TIVARO_VERSION_STRING)
        message(WARNING "packaging/debian/changelog: the latest entry is for ${CMAKE_MATCH_1}, "
                        "the program is ${TIVARO_VERSION_STRING}: add an entry for this version")
    endif()
else()
    message(WARNING "packaging/debian/changelog: cannot read the version of the latest entry")
    set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# Native windows on a Wayland desktop; without it Qt runs through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst"
    "${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
