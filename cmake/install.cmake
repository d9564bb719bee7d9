# Installing the driver package for integrators: the three shared libraries, the public headers,
# the tools, the documentation, a CMake package configuration and pkg-config files.
#
#   <prefix>/lib/libarfis770.so[.1[.0.0]]     the driver package (hosts dlopen the plain name)
#   <prefix>/lib/libfiscalplat.so[.1[.0.0]]   the platform library that hosts link
#   <prefix>/lib/libfiscalprinter.so[.1[.0.0]] the printer stack that hosts link
#   <prefix>/include/fiscal/driver/Arfis770.h, include/fiscal/platform/*.h and
#   include/fiscal/printer/*.h
#   <prefix>/bin/cdsdump (and the printer emulator program when it is built)
#   <prefix>/bin/fiscal-printd                the print service, and its systemd unit in
#   <prefix>/lib/systemd/system/fiscal-printd.service
#   <prefix>/share/doc/fiscal-driver/         README and the guides
#   <prefix>/lib/cmake/fiscal-driver/         find_package(fiscal-driver)
#   <prefix>/lib/pkgconfig/                   fiscalplat.pc, fiscalprinter.pc, arfis770.pc
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FISCAL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/fiscal-driver)
set(FISCAL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/fiscal-driver)

# The driver package carries its version in its file name and SONAME. It finds the platform
# library and the printer stack in its own folder wherever the prefix lands.
set_target_properties(arfis770 PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  INSTALL_RPATH "$ORIGIN")

# Libraries. The namelinks (libarfis770.so, libfiscalplat.so, libfiscalprinter.so) are
# installed with them: hosts open the package by its plain name. The printer stack finds the
# platform library beside it.
set_target_properties(fiscalprinter PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS fiscalplat fiscalprinter EXPORT fiscal-driverTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS arfis770
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# Public headers, keeping their folders: they include each other as "platform/x.h" and
# "printer/x.h". The printer stack's internals (printer/internal/) stay in the source tree.
file(GLOB FISCAL_PLATFORM_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/*.h)
install(FILES ${FISCAL_PLATFORM_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fiscal/platform)
file(GLOB FISCAL_PRINTER_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/printer/*.h)
install(FILES ${FISCAL_PRINTER_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fiscal/printer)
install(FILES ${CMAKE_SOURCE_DIR}/driver/Arfis770.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fiscal/driver)

# Tools. The demo host is a development tool and stays in the build tree.
file(RELATIVE_PATH FISCAL_BIN_TO_LIB
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
foreach(tool cdsdump fiscalctl printer-emulator printer_emulator)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${FISCAL_BIN_TO_LIB}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Documentation: the README and every guide it links, with the guides' compiled examples and
# the sample scenarios, so that the links of the installed README hold.
file(GLOB FISCAL_DOCS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${FISCAL_DOC_DIR})
install(FILES ${FISCAL_DOCS} DESTINATION ${FISCAL_DOC_DIR}/docs)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/examples ${CMAKE_SOURCE_DIR}/docs/scenarios
  DESTINATION ${FISCAL_DOC_DIR}/docs)
# The print service's API description and its browser client go with its document.
install(FILES ${CMAKE_SOURCE_DIR}/docs/openapi.yaml ${CMAKE_SOURCE_DIR}/service/client/fiscal-printd.js
  DESTINATION ${FISCAL_DOC_DIR}/docs)

# CMake package: find_package(fiscal-driver) gives fiscal::fiscalplat, fiscal::fiscalprinter and
# FISCAL_DRIVER_PACKAGE.
install(EXPORT fiscal-driverTargets
  NAMESPACE fiscal::
  DESTINATION ${FISCAL_CMAKE_DIR})
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
  DESTINATION ${FISCAL_CMAKE_DIR})

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
  ")
endforeach()

# The print service and its systemd unit. The unit names the installed program and package, so
# it is written at install time, for the prefix installed into (also with --prefix).
if(TARGET fiscal-printd)
  set_target_properties(fiscal-printd PROPERTIES INSTALL_RPATH "$ORIGIN/${FISCAL_BIN_TO_LIB}")
  install(TARGETS fiscal-printd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(FISCAL_PRINTD_UNIT_IN ${CMAKE_SOURCE_DIR}/service/fiscal-printd.service.in)
  install(CODE "
    set(FISCAL_PRINTD_BIN \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/fiscal-printd\")
    set(FISCAL_PRINTD_PACKAGE \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libarfis770.so\")
    set(FISCAL_PRINTD_DOC \"\${CMAKE_INSTALL_PREFIX}/${FISCAL_DOC_DIR}/docs\")
    set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/fiscal-printd.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${FISCAL_PRINTD_UNIT_IN}\" \"\${unit}\" @ONLY)
  ")
endif()
