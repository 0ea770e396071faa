# Cross build for 32-bit Windows with Debian's MinGW-w64 compilers (the
# "-win32" thread model: no winpthread DLL to ship beside the library).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(RZ_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
