# Debian package of kfdtopo, kfdtopo-export, kfdtopo-replay, kfdtopo-graph, their man pages, the
# fixture format, the carried libhsakmt in /usr/lib/kfdtopo/hsakmt and kfdsim in /usr/lib/kfdtopo/kfdsim:
# `cpack -G DEB` in the build directory, or the `package` target. dpkg-shlibdeps (dpkg-dev) computes the
# library dependencies from the binaries, the private libhsakmt's own (libdrm, libnuma) included.
set(KFDTOPO_MAINTAINER "kfdtopo maintainers <maintainers@users.noreply.c-seed-19b1684e.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kfdtopo)
set(CPACK_PACKAGE_VENDOR "kfdtopo developers")
set(CPACK_PACKAGE_CONTACT "${KFDTOPO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print the compute topology that the AMD KFD driver exposes")
# Below the summary line, which CPack puts first; each line at most 79 characters.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kfdtopo prints every property that the AMD kernel compute driver reports\n"
    "through libhsakmt for each CPU and GPU node: clocks, memory banks, IO links\n"
    "and performance counters. kfdtopo-export writes the same answers as a fixture,\n"
    "and kfdtopo-replay shows the report of a fixture or of a captured topology.\n"
    "kfdtopo-graph shows the CPUs, GPUs and their links as a matrix or a picture.\n"
    "It carries its own libhsakmt in a private directory.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CMAKE_BINARY_DIR}/lib/kfdtopo/hsakmt" "${CMAKE_BINARY_DIR}/sim")
# kfdtopo-replay unpacks .tar.xz captures with xz; tar and gzip are essential.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xz-utils)
set(CPACK_STRIP_FILES ON)
include(CPack)
