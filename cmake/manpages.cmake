# Manual pages of the installed programs: help2man turns each program's --help and --version into
# a page and adds what packaging/man/<program>.h2m says beyond them (exit status, environment,
# files). Options therefore need documenting once, in --help.
find_program(VIGIL_HELP2MAN help2man)
if(NOT VIGIL_HELP2MAN)
  message(STATUS "help2man not found: no manual pages (scripts/setup installs it)")
  return()
endif()

set(vigil_man_dir ${CMAKE_BINARY_DIR}/share/man/man1)
set(vigil_man_names
  "psvigil=watch the processes of a remote Unix host"
  "psvigil-cli=refresh, watch and print process tables of a remote Unix host from a shell"
  "comreg=register or unregister an in-process component server"
  "comcall=create a component by ProgID and drive it through its dispatch interface")
set(vigil_man_pages)
foreach(entry IN LISTS vigil_man_names)
  string(REGEX MATCH "^[^=]+" program "${entry}")
  string(REGEX REPLACE "^[^=]+=" "" summary "${entry}")
  if(NOT TARGET ${program})
    continue()
  endif()
  set(include ${CMAKE_SOURCE_DIR}/packaging/man/${program}.h2m)
  set(page ${vigil_man_dir}/${program}.1)
  # A fixed home and no hive variables: the pages name ~/.local/share, not the build machine's.
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${vigil_man_dir}
    COMMAND ${CMAKE_COMMAND} -E env --unset=COMRT_REGISTRY --unset=XDG_DATA_HOME
            --unset=XDG_CONFIG_HOME HOME=~ QT_QPA_PLATFORM=offscreen
            ${VIGIL_HELP2MAN} --no-info --section=1 --name=${summary} --include=${include}
            --output=${page} $<TARGET_FILE:${program}>
    DEPENDS ${program} ${include}
    COMMENT "Writing the manual page of ${program}"
    VERBATIM)
  list(APPEND vigil_man_pages ${page})
endforeach()

add_custom_target(man_pages ALL DEPENDS ${vigil_man_pages})
add_dependencies(installables man_pages)
install(FILES ${vigil_man_pages} DESTINATION share/man/man1)
