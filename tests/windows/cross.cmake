# Test programs of a cross build for Windows.  Included from
# tests/CMakeLists.txt before anything else; does nothing in native builds.
#
# GoogleTest is built from Debian's sources (/usr/src/googletest), zlib is
# linked statically, the run-time libraries too, so that a test program
# needs nothing beside it under Wine.  Tests are listed when CTest runs
# (through CMAKE_CROSSCOMPILING_EMULATOR), not at build time.
if(NOT (CMAKE_CROSSCOMPILING AND WIN32))
  return()
endif()

set(RZ_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${RZ_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
add_link_options(-static-libgcc -static-libstdc++ -static)

# The suite of the Win32 platform layer itself.
file(GLOB rz_win32_test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/win32_*.cpp)
if(rz_win32_test_srcs)
  add_executable(test_win32 ${rz_win32_test_srcs})
  target_include_directories(test_win32 PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(test_win32 PRIVATE rz_script rz_http rz_archive rz_frame rz_platform
                        GTest::gtest GTest::gtest_main rz_warnings ws2_32)
  add_test(NAME win32 COMMAND test_win32)
endif()

# A C host that loads the DLL through its import library and extracts an
# archive with it.
add_executable(rz_host_extract ${CMAKE_CURRENT_LIST_DIR}/host_extract.c)
target_include_directories(rz_host_extract PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(rz_host_extract PRIVATE raziza3z)
add_custom_command(TARGET rz_host_extract POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:raziza3z>
          $<TARGET_FILE_DIR:rz_host_extract>)
