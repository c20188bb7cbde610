# varnox_embed(TARGET NAME BASE DIR FILES f...): a static library NAME that
# holds the files' bytes, found by their path relative to DIR through
# `std::span<const varnox::EmbeddedFile> NAME_files()` (declared in
# platform/embedded_file.h; NAME as a C identifier). The files are read at
# build time, so the program needs none of them at run time.
function(varnox_embed)
  cmake_parse_arguments(E "" "TARGET;BASE" "FILES" ${ARGN})
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${E_TARGET}_embedded.cpp")
  set(script "${PROJECT_SOURCE_DIR}/cmake/embed_files.cmake")
  # The list's semicolons must reach the script unsplit and unseen by the shell.
  string(REPLACE ";" "$<SEMICOLON>" files "${E_FILES}")
  add_custom_command(OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} -DNAME=${E_TARGET} -DBASE=${E_BASE}
            "-DFILES=${files}" -P ${script}
    DEPENDS ${E_FILES} ${script}
    COMMENT "Embedding ${E_TARGET}"
    VERBATIM)
  add_library(${E_TARGET} STATIC "${out}")
  target_include_directories(${E_TARGET} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
