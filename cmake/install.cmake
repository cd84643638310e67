# Installation: the shared library with its soname links, the public header,
# the charset directory beside the library (where it looks by default),
# kvtconv, a pkg-config file and a CMake package with zrkvt16::zrkvt16.
include(CMakePackageConfigHelpers)

set(ZK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zrkvt16)

install(TARGETS zrkvt16 EXPORT zrkvt16Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/zrkvt16.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The library defaults its charset directory to its own directory + "base2/"
# (on Windows the DLL's, in the binary folder). Only the source files are
# installed: compiled tables are made on first use.
if(WIN32)
  set(ZK_DATA_DIR ${CMAKE_INSTALL_BINDIR}/base2)
else()
  set(ZK_DATA_DIR ${CMAKE_INSTALL_LIBDIR}/base2)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/data/base2)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/base2/ DESTINATION ${ZK_DATA_DIR}
    PATTERN "*.cmp" EXCLUDE PATTERN "CtableMutex.lock" EXCLUDE)
else()
  message(WARNING "data/base2 is missing: the charset directory will not be installed")
endif()

if(TARGET kvtconv)
  install(TARGETS kvtconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The host component for bindings (ctypes), beside the library it uses.
if(TARGET zrkvt16host)
  install(TARGETS zrkvt16host LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# pkg-config: paths relative to the .pc file, so the tree can be installed
# under any prefix (cmake --install --prefix) or moved.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(ZK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(ZK_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(ZK_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH ZK_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" ZK_PC_UP "${ZK_PC_UP}")
  set(ZK_PC_PREFIX "\${pcfiledir}/${ZK_PC_UP}")
  set(ZK_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(ZK_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/zrkvt16.pc.in ${CMAKE_BINARY_DIR}/zrkvt16.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zrkvt16.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(EXPORT zrkvt16Targets NAMESPACE zrkvt16:: DESTINATION ${ZK_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zrkvt16Config.cmake.in
  ${CMAKE_BINARY_DIR}/zrkvt16Config.cmake INSTALL_DESTINATION ${ZK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zrkvt16ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/zrkvt16Config.cmake ${CMAKE_BINARY_DIR}/zrkvt16ConfigVersion.cmake
  DESTINATION ${ZK_CMAKE_DIR})

# Installs into a scratch prefix and builds and runs small C hosts against it.
# The hosts are plain builds, which cannot load a sanitized library.
if(ZRKVT16_TESTS AND NOT ZRKVT16_SANITIZE AND NOT WIN32)
  add_test(NAME install
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DWORK_DIR=${CMAKE_BINARY_DIR}/install-test -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DC_COMPILER=${CMAKE_C_COMPILER} -DGENERATOR=${CMAKE_GENERATOR}
      -P ${PROJECT_SOURCE_DIR}/tests/install/run.cmake)
  set_tests_properties(install PROPERTIES TIMEOUT 600)
endif()
