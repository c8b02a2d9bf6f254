# The Debian package (scripts/package): everything the install rules put in place, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME psvigil)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGE_CONTACT "Korvane <psvigil@korvane.lan>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Vigilor: watches the processes of a remote Unix host; Lanvex network components")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://korvane.lan/psvigil")
# Library dependencies (Qt, libffi, libssh, ...) come from dpkg-shlibdeps; comrt is our own and
# sits in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
# The desktop database, MIME database and icon cache are refreshed by Debian's own triggers on
# these directories; the package only recommends the tools behind them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, hicolor-icon-theme")
include(CPack)
