# Fails when MODULE needs (DT_NEEDED, directly or through the libraries it needs) a shared
# library whose name starts with one of FORBIDDEN: what a module loads is what its commands pay
# for at every start.
#   -DMODULE=build/vardelle-documents.so -DFORBIDDEN=libcups,libgtk
string(REPLACE "," ";" FORBIDDEN "${FORBIDDEN}")
execute_process(COMMAND ldd "${MODULE}" OUTPUT_VARIABLE needed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd could not read ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${needed}")
set(problems "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  foreach(forbidden IN LISTS FORBIDDEN)
    string(FIND "${line}" "${forbidden}" at)
    if(at EQUAL 0)
      string(APPEND problems "\n  ${line}")
    endif()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "${MODULE} loads what its commands never use:${problems}")
endif()
