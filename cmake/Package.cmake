# Debian package of kfdtopo, kfdtopo-export, their man pages and the fixture format:
# `cpack -G DEB` in the build directory, or the `package` target. The library dependencies
# (libhsakmt1, libstdc++6, ...) are computed from the binaries by dpkg-shlibdeps (dpkg-dev).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kfdtopo)
set(CPACK_PACKAGE_VENDOR "kfdtopo developers")
set(CPACK_PACKAGE_CONTACT "kfdtopo developers <kfdtopo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print the compute topology that the AMD KFD driver exposes")
# Below the summary line, which CPack puts first.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kfdtopo prints every property that the AMD kernel compute driver reports through\n"
    "libhsakmt for each CPU and GPU node: clocks, memory banks, IO links and performance\n"
    "counters. kfdtopo-export writes the same answers as a fixture that replays them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
