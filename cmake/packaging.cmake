# Installation (library with its SONAME links, public headers under include/pltfm, pkg-config
# file, tools, sample tuning directory) and the Debian package built by CPack.

install(TARGETS pltfm
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP COMPONENT runtime)
install(TARGETS pltfm
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_ONLY COMPONENT runtime)
file(GLOB PLTFM_PUBLIC_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/include/*.h)
install(FILES ${PLTFM_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pltfm)

# The prefix in pltfm.pc must be the one used at install time (CPack installs under /usr,
# a plain `cmake --install` under CMAKE_INSTALL_PREFIX or --prefix), so the file is written
# by the install step itself.
set(PLTFM_PC_TEMPLATE ${CMAKE_SOURCE_DIR}/cmake/pltfm.pc.in)
set(PLTFM_PC_OUT ${CMAKE_BINARY_DIR}/generated/pltfm.pc)
install(CODE "
  set(PROJECT_DESCRIPTION \"${PROJECT_DESCRIPTION}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PLTFM_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PLTFM_PC_TEMPLATE}\" \"${PLTFM_PC_OUT}\" @ONLY)
")
install(FILES ${PLTFM_PC_OUT} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(EXISTS ${CMAKE_SOURCE_DIR}/examples/platform/CSV)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/platform/CSV
    DESTINATION ${CMAKE_INSTALL_DATADIR}/pltfm/examples)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libpltfm)
set(CPACK_PACKAGE_VENDOR "libpltfm developers")
set(CPACK_PACKAGE_CONTACT "libpltfm developers <pltfm@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The library links hiredis (its native Redis mode) and otherwise runs redis-cli, sh, grep and
# awk; pltfm-sim also starts redis-server. The hiredis runtime package is the one that owns
# the library file linked here.
set(PLTFM_HIREDIS_PACKAGE libhiredis0.14)
find_library(PLTFM_HIREDIS_LIBRARY NAMES hiredis HINTS ${HIREDIS_LIBRARY_DIRS})
if(PLTFM_HIREDIS_LIBRARY)
  file(REAL_PATH ${PLTFM_HIREDIS_LIBRARY} PLTFM_HIREDIS_REAL)
  execute_process(COMMAND dpkg-query -S ${PLTFM_HIREDIS_REAL}
    OUTPUT_VARIABLE PLTFM_HIREDIS_OWNER ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX MATCH "^[^:,]+" PLTFM_HIREDIS_OWNER "${PLTFM_HIREDIS_OWNER}")
  if(PLTFM_HIREDIS_OWNER)
    set(PLTFM_HIREDIS_PACKAGE ${PLTFM_HIREDIS_OWNER})
  endif()
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, ${PLTFM_HIREDIS_PACKAGE}, redis-tools")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "redis-server")
set(CPACK_STRIP_FILES OFF)
include(CPack)
if(PLTFM_BUILD_TESTS)
  # Builds the package with CPack into a scratch directory, unpacks it with dpkg -x and
  # compiles and links a C consumer against it through pkg-config.
  add_test(NAME package_consumer
    COMMAND ${CMAKE_SOURCE_DIR}/tests/package_consumer.sh
            ${CMAKE_BINARY_DIR} ${CMAKE_C_COMPILER} "${PLTFM_SANITIZE}")
  set_tests_properties(package_consumer PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
