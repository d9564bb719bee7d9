# SPDX-License-Identifier: Apache-2.0
# Installing the driver package for integrators: the three shared libraries, the public headers,
# the tools, the documentation, a CMake package configuration and pkg-config files.
#
#   <prefix>/lib/libarfis770.so[.1[.0.0]]     the driver package (hosts dlopen the plain name)
#   <prefix>/lib/libfiscalplat.so[.1[.0.0]]   the platform library that hosts link
#   <prefix>/lib/libfiscalprinter.so[.1[.0.0]] the printer stack that hosts link
#   <prefix>/include/fiscal/driver/Arfis770.h, include/fiscal/platform/*.h and
#   include/fiscal/printer/*.h
#   <prefix>/bin/cdsdump (and the printer emulator program when it is built)
#   <prefix>/bin/fiscal-fleet                 the chain's fleet view
#   <prefix>/bin/fiscal-printd                the print service, and its systemd unit in
#   <prefix>/lib/systemd/system/fiscal-printd.service
#   <prefix>/share/doc/fiscal-driver/         README, CHANGELOG, LICENSE and the guides
#   <prefix>/share/man/man1/                  the programs' manual pages
#   <prefix>/lib/cmake/fiscal-driver/         find_package(fiscal-driver)
#   <prefix>/lib/pkgconfig/                   fiscalplat.pc, fiscalprinter.pc, arfis770.pc
#
# Every file belongs to one component, which the Debian packages follow (cmake/package.cmake):
# "runtime" the versioned libraries, "dev" what hosts build with, "service" the programs, the
# unit and the documents.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FISCAL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/fiscal-driver)
# The Debian packages keep each package's files in its own documentation folder and the unit
# in the system's unit folder.
if(FISCAL_DEBIAN)
  set(FISCAL_DOC_DIR_DEFAULT ${CMAKE_INSTALL_DATADIR}/doc/fiscal-printd)
  set(FISCAL_EXAMPLES_DIR_DEFAULT ${CMAKE_INSTALL_DATADIR}/doc/libfiscal-driver-dev/examples)
  set(FISCAL_UNIT_DIR_DEFAULT /lib/systemd/system)
else()
  set(FISCAL_DOC_DIR_DEFAULT ${CMAKE_INSTALL_DATADIR}/doc/fiscal-driver)
  set(FISCAL_EXAMPLES_DIR_DEFAULT ${FISCAL_DOC_DIR_DEFAULT}/docs/examples)
  set(FISCAL_UNIT_DIR_DEFAULT lib/systemd/system)
endif()
set(FISCAL_DOC_DIR ${FISCAL_DOC_DIR_DEFAULT} CACHE STRING
  "where the documents go, below the prefix")
set(FISCAL_INSTALL_EXAMPLES_DIR ${FISCAL_EXAMPLES_DIR_DEFAULT} CACHE STRING
  "where the host guide's compiled examples go, below the prefix")
set(FISCAL_UNIT_DIR ${FISCAL_UNIT_DIR_DEFAULT} CACHE STRING
  "where the systemd unit goes: below the prefix, or an absolute folder")

# The libraries find each other in their own folder wherever the prefix lands, unless that is a
# folder the system's linker searches anyway.
set(FISCAL_LIB_RPATH "$ORIGIN")
if(CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  set(FISCAL_LIB_RPATH "")
endif()

# The driver package carries its version in its file name and SONAME.
set_target_properties(arfis770 PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  INSTALL_RPATH "${FISCAL_LIB_RPATH}")

# Libraries. The namelinks (libarfis770.so, libfiscalplat.so, libfiscalprinter.so) are
# installed with them: hosts open the package by its plain name. The printer stack finds the
# platform library beside it.
set_target_properties(fiscalprinter PROPERTIES INSTALL_RPATH "${FISCAL_LIB_RPATH}")
install(TARGETS fiscalplat fiscalprinter EXPORT fiscal-driverTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(TARGETS arfis770
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)

# Public headers, keeping their folders: they include each other as "platform/x.h" and
# "printer/x.h". The printer stack's internals (printer/internal/) stay in the source tree.
file(GLOB FISCAL_PLATFORM_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/*.h)
install(FILES ${FISCAL_PLATFORM_HEADERS} ${CMAKE_BINARY_DIR}/generated/platform/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fiscal/platform COMPONENT dev)
file(GLOB FISCAL_PRINTER_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/printer/*.h)
install(FILES ${FISCAL_PRINTER_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fiscal/printer COMPONENT dev)
install(FILES ${CMAKE_SOURCE_DIR}/driver/Arfis770.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fiscal/driver COMPONENT dev)

# Tools. The demo host is a development tool and stays in the build tree.
file(RELATIVE_PATH FISCAL_BIN_TO_LIB
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
foreach(tool cdsdump fiscalctl printer-emulator printer_emulator)
  if(TARGET ${tool})
    if(FISCAL_LIB_RPATH)
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${FISCAL_BIN_TO_LIB}")
    endif()
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
  endif()
endforeach()

# Documentation: the README and every guide it links, with the sample scenarios, the guides'
# compiled examples (with the development files) and the udev rule for the printer's serial
# adapter.
file(GLOB FISCAL_DOCS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${FISCAL_DOC_DIR} COMPONENT service)
# A Debian package states its licence in its copyright file and keeps the changelog compressed
# under its usual name (cmake/package.cmake).
if(NOT FISCAL_DEBIAN)
  install(FILES ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/LICENSE
    DESTINATION ${FISCAL_DOC_DIR} COMPONENT service)
endif()
install(FILES ${FISCAL_DOCS} DESTINATION ${FISCAL_DOC_DIR}/docs COMPONENT service)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/scenarios
  DESTINATION ${FISCAL_DOC_DIR}/docs COMPONENT service)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/examples/
  DESTINATION ${FISCAL_INSTALL_EXAMPLES_DIR} COMPONENT dev)
install(FILES ${CMAKE_SOURCE_DIR}/service/60-fiscal-printer.rules
  DESTINATION ${FISCAL_DOC_DIR}/examples COMPONENT service)
# The chain link: its message schemas beside the API description they refer to, and the
# broker's example configuration, access rules and the fleet's alert rules.
file(GLOB FISCAL_CHAIN_SCHEMAS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/chain-link/*.schema.json)
install(FILES ${FISCAL_CHAIN_SCHEMAS} DESTINATION ${FISCAL_DOC_DIR}/docs/chain-link COMPONENT service)
install(FILES ${CMAKE_SOURCE_DIR}/docs/chain-link/mosquitto.conf
  ${CMAKE_SOURCE_DIR}/docs/chain-link/chain-link.acl ${CMAKE_SOURCE_DIR}/docs/chain-link/fleet-alerts.yml
  DESTINATION ${FISCAL_DOC_DIR}/examples/chain-link COMPONENT service)
# The print service's API description and its browser client go with its document.
install(FILES ${CMAKE_SOURCE_DIR}/docs/openapi.yaml ${CMAKE_SOURCE_DIR}/service/client/fiscal-printd.js
  DESTINATION ${FISCAL_DOC_DIR}/docs COMPONENT service)

# CMake package: find_package(fiscal-driver) gives fiscal::fiscalplat, fiscal::fiscalprinter and
# FISCAL_DRIVER_PACKAGE.
install(EXPORT fiscal-driverTargets
  NAMESPACE fiscal::
  DESTINATION ${FISCAL_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/fiscal-driverConfig.cmake.in
  ${CMAKE_BINARY_DIR}/fiscal-driverConfig.cmake
  INSTALL_DESTINATION ${FISCAL_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_BINDIR FISCAL_DOC_DIR)
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/fiscal-driverConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_BINARY_DIR}/fiscal-driverConfig.cmake
  ${CMAKE_BINARY_DIR}/fiscal-driverConfigVersion.cmake
  DESTINATION ${FISCAL_CMAKE_DIR} COMPONENT dev)

# pkg-config files, written when installing: their paths are the prefix installed to
# (cmake --install --prefix included), made absolute and normalised, so that pkg-config gives
# plain paths such as -I/opt/fiscal/include/fiscal. (pkg-config --define-prefix still moves them
# with a tree that was moved.)
foreach(pc fiscalplat fiscalprinter arfis770)
  install(CODE "
    set(FISCAL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    get_filename_component(FISCAL_PC_PREFIX \"\${FISCAL_PC_PREFIX}\" ABSOLUTE)
    cmake_path(NORMAL_PATH FISCAL_PC_PREFIX)
    string(REGEX REPLACE \"(.)/$\" \"\\\\1\" FISCAL_PC_PREFIX \"\${FISCAL_PC_PREFIX}\")
    set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in\"
      \"${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
      TYPE FILE FILES \"${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc\")
  " COMPONENT dev)
endforeach()

# The chain's fleet view, a program of the chain's operations: of the libraries it needs only the
# platform's (through the programs' common support).
if(TARGET fiscal-fleet)
  if(FISCAL_LIB_RPATH)
    set_target_properties(fiscal-fleet PROPERTIES INSTALL_RPATH "$ORIGIN/${FISCAL_BIN_TO_LIB}")
  endif()
  install(TARGETS fiscal-fleet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
endif()

# The print service and its systemd unit. The unit names the installed program and package, so
# it is written at install time, for the prefix installed into (also with --prefix).
if(TARGET fiscal-printd)
  if(FISCAL_LIB_RPATH)
    set_target_properties(fiscal-printd PROPERTIES INSTALL_RPATH "$ORIGIN/${FISCAL_BIN_TO_LIB}")
  endif()
  install(TARGETS fiscal-printd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
  set(FISCAL_PRINTD_UNIT_IN ${CMAKE_SOURCE_DIR}/service/fiscal-printd.service.in)
  install(CODE "
    set(FISCAL_PRINTD_BIN \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/fiscal-printd\")
    set(FISCAL_PRINTD_DOC \"\${CMAKE_INSTALL_PREFIX}/${FISCAL_DOC_DIR}\")
    set(unit_dir \"${FISCAL_UNIT_DIR}\")
    if(NOT IS_ABSOLUTE \"\${unit_dir}\")
      set(unit_dir \"\${CMAKE_INSTALL_PREFIX}/\${unit_dir}\")
    endif()
    set(unit \"\$ENV{DESTDIR}\${unit_dir}/fiscal-printd.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${FISCAL_PRINTD_UNIT_IN}\" \"\${unit}\" @ONLY)
  " COMPONENT service)
endif()

# The programs' manual pages.
include(${CMAKE_CURRENT_LIST_DIR}/man.cmake)
