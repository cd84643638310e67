# Installs the build tree into a scratch prefix, checks the installed layout,
# then builds two C hosts against the installed tree (find_package and
# pkg-config) and runs them, and runs the installed kvtconv.
# Variables: BUILD_DIR SOURCE_DIR WORK_DIR LIBDIR C_COMPILER GENERATOR.
cmake_minimum_required(VERSION 3.20)

function(zk_run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(ZK_OUT "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)
zk_run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

foreach(f ${LIBDIR}/libzrkvt16.so ${LIBDIR}/libzrkvt16.so.0 include/zrkvt16.h bin/kvtconv
    ${LIBDIR}/pkgconfig/zrkvt16.pc ${LIBDIR}/cmake/zrkvt16/zrkvt16Config.cmake)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
if(NOT IS_SYMLINK ${PREFIX}/${LIBDIR}/libzrkvt16.so OR NOT IS_SYMLINK ${PREFIX}/${LIBDIR}/libzrkvt16.so.0)
  message(FATAL_ERROR "the soname links are not symbolic links")
endif()
file(GLOB xml ${PREFIX}/${LIBDIR}/base2/*.xml)
file(GLOB cmp ${PREFIX}/${LIBDIR}/base2/*.cmp)
if(NOT xml)
  message(FATAL_ERROR "no rule files in ${PREFIX}/${LIBDIR}/base2")
endif()
if(cmp)
  message(FATAL_ERROR "compiled tables were installed: ${cmp}")
endif()

# The installed library must use the installed charset directory.
get_filename_component(want_dir "${PREFIX}/${LIBDIR}/base2/" ABSOLUTE)

# 1. find_package(zrkvt16) and zrkvt16::zrkvt16.
zk_run("configure the find_package host" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer
  -B ${WORK_DIR}/consumer -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER}
  -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_BUILD_TYPE=Release)
zk_run("build the find_package host" ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
zk_run("run the find_package host" ${WORK_DIR}/consumer/consumer)
message(STATUS "find_package host: ${ZK_OUT}")
string(FIND "${ZK_OUT}" "charset directory: ${want_dir}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the host did not use ${want_dir}:\n${ZK_OUT}")
endif()

# 2. pkg-config.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
  zk_run("pkg-config" ${PKG_CONFIG} --cflags --libs zrkvt16)
  string(STRIP "${ZK_OUT}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  zk_run("build the pkg-config host" ${C_COMPILER} ${SOURCE_DIR}/tests/install/consumer/main.c
    ${flags} -Wl,-rpath,${PREFIX}/${LIBDIR} -o ${WORK_DIR}/pc_consumer)
  zk_run("run the pkg-config host" ${WORK_DIR}/pc_consumer)
  message(STATUS "pkg-config host: ${ZK_OUT}")
else()
  message(STATUS "pkg-config not found; that host is skipped")
endif()

# 3. The installed kvtconv on the bundled sample.
zk_run("installed kvtconv" ${PREFIX}/bin/kvtconv -f SJIS -t UTF-8
  ${SOURCE_DIR}/data/samples/sample-sjis.txt)
string(FIND "${ZK_OUT}" "日本語の文字コードについて" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "installed kvtconv gave:\n${ZK_OUT}")
endif()
message(STATUS "install test passed")
