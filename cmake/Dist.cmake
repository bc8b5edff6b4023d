# Copies dist/ next to the executable so the build tree runs like an install.
file(GLOB_RECURSE deckrun_dist_files CONFIGURE_DEPENDS
     RELATIVE ${DECKRUN_DIST_DIR} ${DECKRUN_DIST_DIR}/*)
set(deckrun_dist_outputs)
foreach(f IN LISTS deckrun_dist_files)
    if(f MATCHES "^(icons|desktop|systemd)/")
        continue()
    endif()
    add_custom_command(
        OUTPUT ${DECKRUN_PROGRAM_DIR}/${f}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DECKRUN_DIST_DIR}/${f} ${DECKRUN_PROGRAM_DIR}/${f}
        DEPENDS ${DECKRUN_DIST_DIR}/${f}
        VERBATIM)
    list(APPEND deckrun_dist_outputs ${DECKRUN_PROGRAM_DIR}/${f})
endforeach()
add_custom_target(deckrun_dist ALL DEPENDS ${deckrun_dist_outputs})
