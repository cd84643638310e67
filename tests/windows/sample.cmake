# Converts the bundled Shift_JIS sample to UTF-8 with kvtconv.exe (which
# finds the charset directory beside ZRKVT16.dll) and compares the result
# with Python's shift_jis codec, when Python is there.
execute_process(COMMAND ${RUN} ${KVTCONV} -f SJIS -t UTF-8 ${SAMPLE} OUTPUT_FILE ${OUT}.txt
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kvtconv.exe failed (${rc})")
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
