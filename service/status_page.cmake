# SPDX-License-Identifier: Apache-2.0
# The status page, embedded in the service: status_page.html becomes a C++ source at configure
# time (editing the page reconfigures). The service links fiscal_printd_page and serves
# fpd::StatusPageHtml() at "/".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/status_page.html ${CMAKE_CURRENT_LIST_DIR}/status_page.cpp.in)
file(READ ${CMAKE_CURRENT_LIST_DIR}/status_page.html FISCAL_STATUS_PAGE)
if(FISCAL_STATUS_PAGE MATCHES "\\)fpd_page\"")
  message(FATAL_ERROR "status_page.html must not hold the text ')fpd_page\"'")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/status_page.cpp.in
  ${CMAKE_CURRENT_BINARY_DIR}/status_page.cpp @ONLY)
add_library(fiscal_printd_page STATIC ${CMAKE_CURRENT_BINARY_DIR}/status_page.cpp)
target_include_directories(fiscal_printd_page PUBLIC ${CMAKE_SOURCE_DIR})
