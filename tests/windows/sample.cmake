# Runs the ordinal host on the bundled Shift_JIS sample and compares its
# UTF-8 output with Python's shift_jis codec, when Python is there.
execute_process(COMMAND ${RUN} ${HOST} ${SAMPLE} OUTPUT_FILE ${OUT}.txt RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the ordinal host failed (${rc})")
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
