# One man page per program, written in scdoc's markup (docs/man/*.scd) and turned
# into compressed roff at build time. scdoc is small but optional: a build that
# only runs the server does without it.
if(QUORVANE_MANPAGES STREQUAL "OFF")
  return()
endif()
find_program(SCDOC_EXECUTABLE scdoc)
if(NOT SCDOC_EXECUTABLE)
  if(QUORVANE_MANPAGES STREQUAL "ON")
    message(FATAL_ERROR "QUORVANE_MANPAGES is ON but scdoc is missing (apt-get install scdoc)")
  endif()
  message(STATUS "scdoc not found: building no man pages")
  return()
endif()

set(pages)
foreach(program quorvane quorvane-client quorvane-data quorvane-ctl)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${program}.1.scd)
  set(roff ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
  set(page ${roff}.gz)
  # gzip -n keeps the time stamp out, so the page is the same on every build.
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${SCDOC_EXECUTABLE} ${source} ${roff}
    COMMAND gzip -9nf ${roff}
    DEPENDS ${source}
    COMMENT "Writing the man page ${program}(1)"
    VERBATIM)
  list(APPEND pages ${page})
endforeach()
add_custom_target(manpages ALL DEPENDS ${pages})
install(FILES ${pages}
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT quorvane)
