# 32-bit Linux build with the host compiler (-m32, Debian's g++-multilib).
# The kernel of the CI machines runs no 32-bit programs, so tests run
# through qemu-i386 (Debian's qemu-user).  This exercises the data model of
# the 32-bit DLL (32-bit size_t, long and pointers) on every run.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Large files and 64-bit time, as a 32-bit program needs for archives over
# 2 GiB and times after 2038.
set(rz_m32_flags "-m32 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_C_FLAGS_INIT "${rz_m32_flags}")
set(CMAKE_CXX_FLAGS_INIT "${rz_m32_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ZLIB_LIBRARY /usr/lib32/libz.a CACHE FILEPATH "32-bit zlib (Debian's lib32z1-dev)")
set(ZLIB_INCLUDE_DIR /usr/include CACHE PATH "")
find_program(RZ_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${RZ_QEMU_I386})
