# Shared part of the MinGW-w64 toolchain files; RZ_MINGW_TRIPLE names the
# target.  Prefers the "-win32" compilers, falls back to the default ones.
find_program(CMAKE_C_COMPILER NAMES ${RZ_MINGW_TRIPLE}-gcc-win32 ${RZ_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${RZ_MINGW_TRIPLE}-g++-win32 ${RZ_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${RZ_MINGW_TRIPLE}-windres)
find_program(RZ_DLLTOOL NAMES ${RZ_MINGW_TRIPLE}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${RZ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs can then be started through Wine, where it is installed.
find_program(RZ_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(RZ_WINE AND RZ_MINGW_TRIPLE STREQUAL "x86_64-w64-mingw32")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RZ_WINE})
endif()
