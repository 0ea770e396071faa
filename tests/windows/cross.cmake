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
# The "-win32" compilers of this GCC have no std::mutex, on which
# GoogleTest builds its Notification; a replacement is forced in.
string(APPEND CMAKE_CXX_FLAGS " -include ${CMAKE_CURRENT_LIST_DIR}/gtest_notification.h")
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
  # A type library for REGTLB, made by widl beside the program.
  find_program(RZ_WIDL NAMES ${RZ_MINGW_TRIPLE}-widl widl)
  if(RZ_WIDL AND EXISTS /usr/include/wine/wine/windows/oaidl.idl)
    set(rz_tlb_kind $<IF:$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>,--win64,--win32>)
    add_custom_command(TARGET test_win32 POST_BUILD
      COMMAND ${RZ_WIDL} ${rz_tlb_kind} -t -I /usr/include/wine/wine/windows
              -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
              -o $<TARGET_FILE_DIR:test_win32>/rz_demo.tlb ${CMAKE_CURRENT_LIST_DIR}/rz_demo.idl
      COMMENT "Type library for the REGTLB test")
  endif()
endif()

# A C host that loads the DLL through its import library and extracts an
# archive with it.
add_executable(rz_host_extract ${CMAKE_CURRENT_LIST_DIR}/host_extract.c)
target_include_directories(rz_host_extract PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(rz_host_extract PRIVATE raziza3z)
add_custom_command(TARGET rz_host_extract POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:raziza3z>
          $<TARGET_FILE_DIR:rz_host_extract>)
