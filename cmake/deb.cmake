# The Debian package hwtk3_<version>_amd64.deb, made by CPack's DEB
# generator from the install rules above (scripts/package runs cpack):
# everything `cmake --install` puts in a prefix, under /usr, stripped, with
# its dependencies found by dpkg-shlibdeps. The copyright file is LICENSE
# (installed with the documentation in cmake/install.cmake).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hwtk3)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HWTK3_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hardware diagnostics library for notebook computers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "hwtk3 reads a notebook's identity from its SMBIOS table, drives and reads
the cooling fan and CPU temperature through the embedded controller,
reads the battery and switches charging, for factory test stations.

The package holds libhwtk3.so with its header, CMake package and
pkg-config file, the port-I/O library libWinRing0.so and the ACPI
interface library libVQMITF.so it loads, and the factory test hwtk3-diag
with the virtual notebook it runs on by default (/usr/lib/hwtk3/sim).")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libhwtk3.so needs libVQMITF.so and hwtk3-diag the virtual notebook, all
# in the package itself: dpkg-shlibdeps finds them there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  "${CMAKE_BINARY_DIR}/lib;${HWTK3_SIM_DIR}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The libraries in /usr/lib want the dynamic loader's cache renewed.
set(HWTK3_DEB_DIR ${CMAKE_BINARY_DIR}/deb)
file(WRITE ${HWTK3_DEB_DIR}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${HWTK3_DEB_DIR}/triggers)

# What only the Debian package carries, added to CPack's staging tree:
# the changelog a native package must have, and the lintian tags that stay
# (with the reason for each).
string(TIMESTAMP HWTK3_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${HWTK3_DEB_DIR}/changelog
  "hwtk3 (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * hwtk3 ${PROJECT_VERSION}.\n\n"
  " -- ${HWTK3_DEB_MAINTAINER}  ${HWTK3_DEB_DATE}\n")
set(HWTK3_DEB_OVERRIDES ${PROJECT_SOURCE_DIR}/release/hwtk3.lintian-overrides)
set(HWTK3_DEB_DOCDIR ${CMAKE_INSTALL_DOCDIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb_files.cmake.in ${HWTK3_DEB_DIR}/deb_files.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${HWTK3_DEB_DIR}/deb_files.cmake)
include(CPack)
