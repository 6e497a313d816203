# The direction between folders, checked on every build: vardelle_layer(target FOLDER f USES a b
# [FORBIDS system/]) makes `target` fail to build when a file directly in `f` includes a project
# header from a folder outside `f` and the USES list, or a system header under a FORBIDS prefix.
function(vardelle_layer target)
  cmake_parse_arguments(arg "" "FOLDER" "USES;FORBIDS" ${ARGN})
  file(GLOB watched CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${arg_FOLDER}/*.h"
       "${PROJECT_SOURCE_DIR}/${arg_FOLDER}/*.cc")
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.layers")
  # Commas: a list would be split into separate arguments on the command line.
  string(REPLACE ";" "," uses "${arg_USES}")
  string(REPLACE ";" "," forbids "${arg_FORBIDS}")
  add_custom_command(OUTPUT "${stamp}"
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DFOLDER=${arg_FOLDER}
            -DALLOWED=${uses} -DFORBIDDEN=${forbids} -DSTAMP=${stamp}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    DEPENDS ${watched} ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake
    COMMENT "Checking what ${arg_FOLDER} includes" VERBATIM)
  add_custom_target(${target}_layers DEPENDS "${stamp}")
  add_dependencies(${target} ${target}_layers)
endfunction()
