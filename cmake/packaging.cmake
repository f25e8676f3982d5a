# The Debian package of vunzip: `cpack -G DEB` in the build folder. Only
# vunzip's component is packed; the installer is not a Debian package.
set(CPACK_PACKAGE_NAME vunzip)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "Velmora developers <dev@velmora.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "list, test and extract ZIP archives; unzip's options with the Velmora engine")
set(CPACK_COMPONENTS_ALL vunzip)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the program needs, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcrypto is loaded only for WinZip AES items, so dpkg-shlibdeps does not
# see it; without it every other item still extracts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libssl3)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "vunzip reads ZIP archives (also self-extracting and spanned ones) with the\nengine of the Velmora installer, taking unzip's options and printing its\nlistings; vzipinfo lists as zipinfo does.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
