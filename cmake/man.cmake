# SPDX-License-Identifier: Apache-2.0
# Manual pages of the installed programs, made by help2man from each program's --help and
# --version, with the sections of docs/man/<program>.h2m and the exit status that every program
# shares (docs/man/exit-status.h2m). Compressed, into <prefix>/share/man/man1.
find_program(FISCAL_HELP2MAN help2man)
find_program(FISCAL_GZIP gzip)
if(NOT FISCAL_HELP2MAN OR NOT FISCAL_GZIP)
  message(STATUS "help2man or gzip missing: the manual pages are not made (scripts/deps installs them)")
  return()
endif()

set(FISCAL_MAN_PAGES)
foreach(program fiscal-printd fiscalctl cdsdump printer-emulator fiscal-fleet)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(h2m ${CMAKE_SOURCE_DIR}/docs/man/${program}.h2m)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env FISCAL_PRINTER=emulator
      ${FISCAL_HELP2MAN} --no-info --section=1 --include=${h2m}
      --include=${CMAKE_SOURCE_DIR}/docs/man/exit-status.h2m --output=${page}
      $<TARGET_FILE:${program}>
    COMMAND ${FISCAL_GZIP} -9nf ${page}
    DEPENDS ${program} ${h2m} ${CMAKE_SOURCE_DIR}/docs/man/exit-status.h2m
    COMMENT "Manual page of ${program}"
    VERBATIM)
  list(APPEND FISCAL_MAN_PAGES ${page}.gz)
endforeach()
add_custom_target(man-pages ALL DEPENDS ${FISCAL_MAN_PAGES})
install(FILES ${FISCAL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT service)
