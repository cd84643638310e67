# Converts the bundled Shift_JIS sample to UTF-8 with kvtconv.exe, from a
# fresh copy of the charset directory named by a drive-letter path with
# backslashes, and compares the result with Python's shift_jis codec (when
# Python is there). The tables it used must then be compiled beside their
# table files, with no temporary file left.
file(REMOVE_RECURSE ${OUT}-cs)
file(COPY ${CHARSETS}/ DESTINATION ${OUT}-cs PATTERN "*.cmp" EXCLUDE PATTERN "*.lock" EXCLUDE)
string(REPLACE "/" "\\" dir "Z:${OUT}-cs")  # wine's drive Z: is the root folder
execute_process(COMMAND ${RUN} ${KVTCONV} --charset-dir ${dir} -f SJIS -t UTF-8 ${SAMPLE}
  OUTPUT_FILE ${OUT}.txt RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kvtconv.exe failed (${rc})")
endif()
file(GLOB compiled RELATIVE ${OUT}-cs ${OUT}-cs/*.cmp)
file(GLOB temp ${OUT}-cs/*.tmp*)
list(SORT compiled)
if(NOT compiled STREQUAL "jisx0201kana.cmp;jisx0201latin.cmp;jisx0208.cmp" OR temp)
  message(FATAL_ERROR "compiled files in ${dir}: ${compiled}; temporary files: ${temp}")
endif()
if(PYTHON)
  execute_process(COMMAND ${PYTHON} -c
      "import sys; sys.stdout.buffer.write(open(sys.argv[1], 'rb').read().decode('shift_jis').encode())"
      ${SAMPLE} OUTPUT_FILE ${OUT}.expected RESULT_VARIABLE rc)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}.txt ${OUT}.expected
    RESULT_VARIABLE differ)
  if(NOT rc EQUAL 0 OR differ)
    message(FATAL_ERROR "${OUT}.txt differs from Python's decoding in ${OUT}.expected")
  endif()
  file(SIZE ${OUT}.txt size)
  message(STATUS "sample converted: ${size} bytes of UTF-8, as Python decodes it")
endif()
message(STATUS "compiled beside their tables in ${dir}: ${compiled}")
