# Installation of the Linux build (cmake --install): libhwtk3.so with its
# header, found by find_package(hwtk3) as hwtk3::hwtk3 and by pkg-config as
# hwtk3; the providers libWinRing0.so and libVQMITF.so beside it (the
# library looks there first); hwtk3-diag with the virtual notebook it runs
# on, kept in a folder of its own (lib/hwtk3/sim) so that its stand-ins
# never shadow the providers.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(HWTK3_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/hwtk3)
set(HWTK3_SIM_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/hwtk3/sim)

# A consumer writes #include <hwtk3.h>, in the build tree and installed.
set_target_properties(hwtk3_shared PROPERTIES
  EXPORT_NAME hwtk3
  INTERFACE_INCLUDE_DIRECTORIES
    "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include;${PROJECT_SOURCE_DIR}>$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
add_library(hwtk3::hwtk3 ALIAS hwtk3_shared)

install(TARGETS hwtk3_shared EXPORT hwtk3Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# libhwtk3.so links libVQMITF.so at load time, so it belongs to the export
# set too (as hwtk3::VQMITF).
set_target_properties(vqmitf_provider PROPERTIES EXPORT_NAME VQMITF)
install(TARGETS vqmitf_provider EXPORT hwtk3Targets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS winring0_provider LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/hwtk3.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(TARGETS hwtk3-diag RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS hwtk3sim winring0_standin vqmitf_standin LIBRARY DESTINATION ${HWTK3_SIM_INSTALL_DIR})
file(RELATIVE_PATH HWTK3_DIAG_TO_SIM /${CMAKE_INSTALL_BINDIR} /${HWTK3_SIM_INSTALL_DIR})
set_target_properties(hwtk3-diag PROPERTIES INSTALL_RPATH "\$ORIGIN/${HWTK3_DIAG_TO_SIM}")
set_target_properties(winring0_standin vqmitf_standin PROPERTIES INSTALL_RPATH "\$ORIGIN")

install(EXPORT hwtk3Targets NAMESPACE hwtk3:: DESTINATION ${HWTK3_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/hwtk3Config.cmake.in
  ${CMAKE_BINARY_DIR}/hwtk3Config.cmake INSTALL_DESTINATION ${HWTK3_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/hwtk3ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/hwtk3Config.cmake ${CMAKE_BINARY_DIR}/hwtk3ConfigVersion.cmake
  DESTINATION ${HWTK3_CMAKE_DIR})

# Relocatable: the prefix is found from the .pc file's own folder.
file(RELATIVE_PATH HWTK3_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" HWTK3_PC_TO_PREFIX "${HWTK3_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/hwtk3.pc.in ${CMAKE_BINARY_DIR}/hwtk3.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/hwtk3.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# A consumer built against an installed tree, through find_package and
# through pkg-config. Not in the sanitizer tree: its library needs the
# sanitizer runtime loaded first, which an ordinary consumer does not do.
if(HWTK3_TESTS AND NOT HWTK3_SANITIZE)
  add_test(NAME install.consumer
    COMMAND ${PROJECT_SOURCE_DIR}/tests/consumer/run ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/install-test)
  set_tests_properties(install.consumer PROPERTIES TIMEOUT 300)
endif()

# The licence and the release notes, where a Debian package keeps them
# (the licence as its copyright file).
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
set(VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/release/hwtk3-diag.1 ${CMAKE_BINARY_DIR}/hwtk3-diag.1 @ONLY)
execute_process(COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/hwtk3-diag.1
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/hwtk3-diag.1.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/hwtk3-diag.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# hwtk3-diag's --json report is a documented interface: its schema ships.
install(FILES ${PROJECT_SOURCE_DIR}/tools/hwtk3-diag.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/hwtk3)

set(HWTK3_DEB_MAINTAINER "the hwtk3 authors <hwtk3@example.org>" CACHE STRING
  "Maintainer field of the Debian package")
include(${PROJECT_SOURCE_DIR}/cmake/deb.cmake)
