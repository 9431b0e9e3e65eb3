# Manual pages, written in Markdown beside the code of their program and
# converted by pandoc at build time (gzip -9n, as Debian installs them).
find_program(KVPO_PANDOC pandoc REQUIRED)
find_program(KVPO_GZIP gzip REQUIRED)

# kvpo_man_page(NAME SECTION SOURCE COMPONENT): NAME.SECTION.gz from the
# Markdown SOURCE (relative to the calling folder), built with `all` and
# installed under share/man/manSECTION with the install COMPONENT.
function(kvpo_man_page name section source component)
  set(page ${PROJECT_BINARY_DIR}/man/${name}.${section})
  string(TOUPPER ${name} title)
  if(section STREQUAL "8")
    set(header "System Administration")
  else()
    set(header "User Commands")
  endif()
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${KVPO_PANDOC} --standalone --to man --output ${page}
            --metadata title=${title} --metadata section=${section}
            --metadata "header=${header}" --metadata "footer=kvprtobj ${PROJECT_VERSION}"
            ${CMAKE_CURRENT_SOURCE_DIR}/${source}
    COMMAND ${KVPO_GZIP} -9 -n -f ${page}
    DEPENDS ${source}
    COMMENT "Manual page ${name}(${section})"
    VERBATIM)
  add_custom_target(${name}-man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()
