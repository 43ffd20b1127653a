# Installs the build into a fresh prefix and checks that exactly the files
# of the package land there: the tools, both libraries, the public headers,
# the man pages, the CMake package and kestrine.pc.
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPREFIX=... -DLIBDIR=... -DCONFIG=... -DVERSION=...
#       -P installed_files.cmake
foreach(variable BUILD_DIR SOURCE_DIR PREFIX LIBDIR CONFIG VERSION)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${output}")
endif()

string(TOLOWER "${CONFIG}" config)
string(REGEX MATCH "^[0-9]+" major "${VERSION}")
set(expected
  bin/kestrine
  bin/kestrine-casc
  include/kestrine.h
  ${LIBDIR}/libkestrine.a
  ${LIBDIR}/libkestrine.so
  ${LIBDIR}/libkestrine.so.${major}
  ${LIBDIR}/libkestrine.so.${VERSION}
  ${LIBDIR}/cmake/kestrine/kestrineConfig.cmake
  ${LIBDIR}/cmake/kestrine/kestrineConfigVersion.cmake
  ${LIBDIR}/cmake/kestrine/kestrineTargets.cmake
  ${LIBDIR}/cmake/kestrine/kestrineTargets-${config}.cmake
  ${LIBDIR}/pkgconfig/kestrine.pc
  share/man/man1/kestrine.1
  share/man/man1/kestrine-casc.1
  include/kestrine.hpp)
list(SORT expected)

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
if(NOT installed STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${installed})
  set(extra ${installed})
  list(REMOVE_ITEM extra ${expected})
  message(FATAL_ERROR "installed files differ\n  missing: ${missing}\n  not expected: ${extra}")
endif()

# The library's name carries the major version, and the links lead to it.
foreach(link libkestrine.so libkestrine.so.${major})
  if(NOT IS_SYMLINK "${PREFIX}/${LIBDIR}/${link}")
    message(FATAL_ERROR "${LIBDIR}/${link} is not a symbolic link")
  endif()
endforeach()
file(READ_SYMLINK "${PREFIX}/${LIBDIR}/libkestrine.so.${major}" target)
if(NOT target STREQUAL "libkestrine.so.${VERSION}")
  message(FATAL_ERROR "libkestrine.so.${major} leads to ${target}")
endif()
message(STATUS "${PREFIX} holds the package's files and no more")
