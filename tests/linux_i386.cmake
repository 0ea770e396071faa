# Test programs of the 32-bit Linux build (toolchain-linux-i386.cmake).
# Included from tests/CMakeLists.txt; does nothing in other builds.
#
# GoogleTest is built from Debian's sources with -m32 (there is no i386
# package without multiarch).  Tests are listed when CTest runs, through
# qemu-i386, not at build time.
if(NOT (CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Linux"))
  return()
endif()
set(RZ_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${RZ_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Tests start qg by path.  This build has no qg of its own when the setup
# program is left out (its crypto libraries have no 32-bit packages without
# multiarch): RZ_QG_FOR_TESTS then names a native qg.  A 32-bit qg, where
# there is one, runs through the emulator, since the kernel may not run it.
set(RZ_QG_FOR_TESTS "" CACHE FILEPATH "qg for the tests of the 32-bit build")
if(TARGET qg AND NOT RZ_QG_FOR_TESTS)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/qg-i386
       CONTENT "#!/bin/sh\nexec ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:qg> \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(RZ_QG_FOR_TESTS ${CMAKE_BINARY_DIR}/qg-i386)
endif()
# Tests that run their own program again do it through the emulator too.
set(RZ_TEST_EMULATOR ${CMAKE_CROSSCOMPILING_EMULATOR})
