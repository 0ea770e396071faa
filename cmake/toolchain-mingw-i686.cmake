# Cross build for 32-bit Windows with Debian's MinGW-w64 compilers (the
# "-win32" thread model: no winpthread DLL to ship beside the library).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(RZ_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# GCC notes that a function returning an SSE vector changes its calling
# convention when SSE is off (-Wpsabi).  The vector code is chosen at run
# time and called only inside its own translation unit, never across an
# interface built without SSE, so the note carries no risk here.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
