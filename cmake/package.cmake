# SPDX-License-Identifier: Apache-2.0
# The Debian packages, made by cpack -G DEB from the install components (scripts/package):
#
#   libfiscal-driver1     "runtime": libarfis770.so.1, libfiscalprinter.so.1, libfiscalplat.so.1
#   libfiscal-driver-dev  "dev": headers, the CMake package, the .pc files, the namelinks and
#                         the host guide's examples
#   fiscal-printd         "service": the print service with its unit and settings, fiscalctl,
#                         cdsdump, printer-emulator, fiscal-fleet, the documents, the chain
#                         link's broker example and the manual pages
#   python3-fiscal-printd "python": the Python client package fiscal_printd, for the system's
#                         Python 3
#
# Each package carries its copyright file and Debian changelog; fiscal-printd its maintainer
# scripts (cmake/debian/), which enable and start the unit through the system's helpers, and
# python3-fiscal-printd its own (cmake/debian/python/), which compile and remove its modules'
# bytecode as Debian's Python packages do.
if(NOT FISCAL_DEBIAN)
  return()
endif()

set(FISCAL_PACKAGE_CONTACT "Fiscal driver maintainers <maintainers@fiscal-driver.example>"
  CACHE STRING "maintainer of the Debian packages: Name <address>")
set(FISCAL_DEB_REVISION 1 CACHE STRING "Debian revision of the packages")
set(FISCAL_DEB_VERSION ${PROJECT_VERSION}-${FISCAL_DEB_REVISION})
string(TIMESTAMP FISCAL_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(FISCAL_DEB_DIR ${CMAKE_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${FISCAL_DEB_DIR}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${FISCAL_DEB_DIR}/changelog.Debian
  @ONLY)
execute_process(COMMAND gzip -9nf ${FISCAL_DEB_DIR}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
# The user's changelog, CHANGELOG.md, as the service package's changelog.gz.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md)
execute_process(COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/CHANGELOG.md
  OUTPUT_FILE ${FISCAL_DEB_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${FISCAL_DEB_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/fiscal-printd COMPONENT service)

set(FISCAL_DEB_COMPONENTS runtime dev service python)
set(FISCAL_DEB_NAMES libfiscal-driver1 libfiscal-driver-dev fiscal-printd python3-fiscal-printd)
foreach(component package IN ZIP_LISTS FISCAL_DEB_COMPONENTS FISCAL_DEB_NAMES)
  install(FILES ${FISCAL_DEB_DIR}/copyright ${FISCAL_DEB_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/fiscal-printd.default
  DESTINATION /etc/default RENAME fiscal-printd COMPONENT service)
# The Python client where the system's Python 3 finds modules of every version.
file(GLOB FISCAL_PYTHON_CLIENT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/service/client/fiscal_printd/*.py)
install(FILES ${FISCAL_PYTHON_CLIENT}
  DESTINATION lib/python3/dist-packages/fiscal_printd COMPONENT python)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fiscal-driver)
set(CPACK_PACKAGE_VENDOR "The fiscal-driver authors")
set(CPACK_PACKAGE_CONTACT "${FISCAL_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${FISCAL_DEB_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${FISCAL_DEB_COMPONENTS})
# The absolute folders (/etc/default, /lib/systemd/system) land in the package, not on this
# machine, and the installed paths (pkg-config, the unit) are those of /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME fiscal-driver-${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs need the libraries of libfiscal-driver1, which they depend on by name: the
# dependencies are computed with that package's staged files in view.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${CMAKE_BINARY_DIR}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_FILE_NAME}/runtime${CMAKE_INSTALL_FULL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libfiscal-driver1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "fiscal printer driver package for point-of-sale hosts
The driver package that point-of-sale hosts load at run time to print
tickets, invoices, X and Z readings and closing reports on an Argentine
fiscal printer, with the printer stack it talks through (the built-in
printer emulator and the serial line) and the platform library that hosts
and the driver share.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libfiscal-driver-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libfiscal-driver1 (= ${FISCAL_DEB_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "fiscal printer driver package for point-of-sale hosts - development files
Headers, the CMake package (find_package(fiscal-driver)), the pkg-config
files and the compiled examples of the host guide, for building a
point-of-sale host that loads the fiscal printer driver package.")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME fiscal-printd)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "libfiscal-driver1 (= ${FISCAL_DEB_VERSION})")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles
  ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
  ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_COMPONENT_SERVICE_DESCRIPTION "local print service for a fiscal printer, and its tools
fiscal-printd serves the fiscal printer driver's operations as a JSON API
over HTTP on the till, with a journal that prints every request at most
once and a status page. The package also holds fiscalctl (the printer
from the command line), cdsdump (dataset files as text), printer-emulator
(the printer's model on a serial line), fiscal-fleet (a chain's printers
from its MQTT broker, on one page and one /metrics), the chain link's
broker example and the documents.")
set(CPACK_DEBIAN_SERVICE_PACKAGE_RECOMMENDS python3-fiscal-printd)

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-fiscal-printd)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-paho-mqtt)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/python/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/python/prerm)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python client of the local fiscal print service
The Python 3 package fiscal_printd, which uses only the standard library:
a client of fiscal-printd's JSON API with typed errors for the answers
that need the till's attention (a request in doubt, a key used for
another request, a bad field, a busy or absent service), and its command
line, python3 -m fiscal_printd; and fiscal_printd.cloud, which sends
jobs to a shop through a chain's MQTT broker (with python3-paho-mqtt).")

include(CPack)
