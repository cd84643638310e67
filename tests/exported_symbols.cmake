# Fails unless the shared object's dynamic symbol table defines exactly the
# eight exported functions.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(found "")
foreach(line ${lines})
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" sym "${line}")
  list(APPEND found ${sym})
endforeach()
list(SORT found)
set(expected KVT_getCharsetPath KVT_setCharsetPath cconvChgCharset cconvChkEncode
  cconvConvert cconvInitConvert cconvLoadRule cconvTermConvert)
list(SORT expected)
# The version-script node name may appear as an absolute symbol; ignore it.
list(FILTER found EXCLUDE REGEX "^ZRKVT16")
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
endif()
message(STATUS "exported symbols: ${found}")
