# Ed25519 for the Windows programs (qg-setup.exe, qg.exe): libgcrypt and
# libgpg-error linked statically (Debian's libgcrypt-mingw-w64-dev), so the
# programs still need only system DLLs (libgpg-error adds ws2_32).  The
# interface target rz_gcrypt carries either the libraries or, when they are
# not found, QGSETUP_NO_ED25519: such a build cannot check publisher
# signatures and refuses --require-key.  RZ_HAVE_GCRYPT tells which.
option(RZ_GCRYPT "Windows builds: Ed25519 through a static libgcrypt when it is found" ON)
set(RZ_HAVE_GCRYPT OFF)
if(RZ_GCRYPT)
  find_path(RZ_GCRYPT_INCLUDE_DIR gcrypt.h)
  find_library(RZ_GCRYPT_STATIC NAMES libgcrypt.a)
  find_library(RZ_GPG_ERROR_STATIC NAMES libgpg-error.a)
  if(RZ_GCRYPT_INCLUDE_DIR AND RZ_GCRYPT_STATIC AND RZ_GPG_ERROR_STATIC)
    set(RZ_HAVE_GCRYPT ON)
  endif()
endif()
if(TARGET rz_gcrypt)
  return()
endif()
add_library(rz_gcrypt INTERFACE)
if(RZ_HAVE_GCRYPT)
  target_include_directories(rz_gcrypt INTERFACE ${RZ_GCRYPT_INCLUDE_DIR})
  target_link_libraries(rz_gcrypt INTERFACE ${RZ_GCRYPT_STATIC} ${RZ_GPG_ERROR_STATIC} ws2_32)
  message(STATUS "Ed25519 in the Windows programs: static libgcrypt (${RZ_GCRYPT_STATIC})")
else()
  target_compile_definitions(rz_gcrypt INTERFACE QGSETUP_NO_ED25519)
  message(STATUS "libgcrypt not found (install libgcrypt-mingw-w64-dev) or RZ_GCRYPT=OFF: "
                 "qg-setup.exe and qg.exe are built without Ed25519 (QGSETUP_NO_ED25519); they "
                 "cannot check publisher signatures and refuse --require-key")
endif()
