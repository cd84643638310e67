# Installs the build tree into a scratch prefix and imports the installed
# package with the prefix's Python layout: it must find the installed library
# (not the build tree's) and the installed charset directory.
# Variables: BUILD_DIR WORK_DIR PYTHON PYDIR
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
set(script "import sys; sys.path.insert(0, sys.argv[1]); import zrkvt16, zrkvt16.codecs; print(zrkvt16.LIBRARY_PATH); print(zrkvt16.charset_dir()); print(zrkvt16.convert(b'\\x93\\xfa\\x96{', 'SJIS').decode(), b'\\xc6\\xfc'.decode('zrkvt16-euc-jp'))")
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=ZRKVT16_LIBRARY --unset=PYTHONPATH
    ${PYTHON} -c "${script}" ${WORK_DIR}/${PYDIR}
  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
get_filename_component(prefix ${WORK_DIR} REALPATH)
string(FIND "${out}" "${prefix}/" at)
if(NOT rc EQUAL 0 OR NOT at EQUAL 0 OR NOT out MATCHES "base2/\n日本 日\n$")
  message(FATAL_ERROR "the installed package gave (${rc}):\n${out}\n${err}")
endif()
message(STATUS "installed package: ${out}")
