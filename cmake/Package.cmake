# The Debian packages and the relocatable archive: `cpack` in the build directory, or the
# `package` target. Every install() of the default component goes to the package kfdtopo
# (kfdtopo, kfdtopo-export, kfdtopo-replay, kfdtopo-graph, kfdtopo-diff, their man pages, the
# fixture format, the Slurm health check, the carried libhsakmt in /usr/lib/kfdtopo/hsakmt and
# kfdsim in /usr/lib/kfdtopo/kfdsim), which needs nothing of Graphviz; the component "svg", built with Graphviz's development files, is the
# package kfdtopo-svg (/usr/lib/kfdtopo/svg/kfdtopo-svg.so, which draws kfdtopo-graph's --svg),
# which depends on it and on Graphviz's libraries. dpkg-shlibdeps (dpkg-dev) computes the library
# dependencies from the binaries, the private libhsakmt's own (libdrm, libnuma) included. The
# archive holds the whole install tree.
set(KFDTOPO_MAINTAINER "kfdtopo maintainers <maintainers@users.noreply.c-seed-19b1684e.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME kfdtopo)
set(CPACK_PACKAGE_VENDOR "kfdtopo developers")
set(CPACK_PACKAGE_CONTACT "${KFDTOPO_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL kfdtopo)
if(TARGET kfdtopo_svg)
    list(APPEND CPACK_COMPONENTS_ALL svg)
endif()

# Each package's description: its summary line, then lines of at most 79 characters.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CMAKE_BINARY_DIR}/lib/kfdtopo/hsakmt" "${CMAKE_BINARY_DIR}/sim")
set(CPACK_DEBIAN_KFDTOPO_PACKAGE_NAME kfdtopo)
string(CONCAT CPACK_DEBIAN_KFDTOPO_DESCRIPTION
    "print the compute topology that the AMD KFD driver exposes\n"
    "kfdtopo prints every property that the AMD kernel compute driver reports\n"
    "through libhsakmt for each CPU and GPU node: clocks, memory banks, IO links\n"
    "and performance counters. kfdtopo-export writes the same answers as a fixture,\n"
    "and kfdtopo-replay shows the report of a fixture or of a captured topology.\n"
    "kfdtopo-graph shows the CPUs, GPUs and their links as a matrix or in DOT;\n"
    "kfdtopo-svg draws them as SVG. kfdtopo-diff compares a node with a reference\n"
    "capture device by device, for clush, pdsh and a Slurm health check. It\n"
    "carries its own libhsakmt in a private directory.")
set(CPACK_DEBIAN_KFDTOPO_PACKAGE_SUGGESTS kfdtopo-svg)
set(CPACK_DEBIAN_SVG_PACKAGE_NAME kfdtopo-svg)
string(CONCAT CPACK_DEBIAN_SVG_DESCRIPTION
    "SVG pictures of the AMD KFD compute topology, for kfdtopo-graph\n"
    "The module that kfdtopo-graph loads for --svg: it lays out and draws the\n"
    "CPUs, GPUs, XGMI hives and IO links with Graphviz's libraries.")
set(CPACK_DEBIAN_SVG_PACKAGE_DEPENDS "kfdtopo (= ${PROJECT_VERSION})")

# The relocatable archive: the install tree in one folder, kfdtopo-VERSION-ARCH/, that runs from
# anywhere through the executables' $ORIGIN run path.
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_PACKAGE_FILE_NAME "kfdtopo-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR}")
# kfdtopo-replay unpacks .tar.xz captures with xz; tar and gzip are essential.
set(CPACK_DEBIAN_KFDTOPO_PACKAGE_RECOMMENDS xz-utils)
include(CPack)
