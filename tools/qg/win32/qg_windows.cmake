# qg.exe for 64-bit Windows: a console program with the library, zlib and
# the run-time libraries linked in, so that it needs only system DLLs.
# Included from tools/CMakeLists.txt (qg_srcs and qgwriter are defined).
#
# verify, keygen and pack --setup [--sign] work as on POSIX, with the
# system's SHA-256 (bcrypt.dll) and Ed25519 from a static libgcrypt
# (cmake/windows-gcrypt.cmake); key files are the same PEM bytes as
# OpenSSL's.  Configured without libgcrypt, keygen and pack --setup say
# they are unavailable (win32/unavailable_win32.cpp) and verify refuses
# --key.  POSIX-only parts have Windows counterparts in this folder:
# the console host (Ctrl-C through SetConsoleCtrlHandler), -j (one process).
option(RZ_QG_WINDOWS "Build qg.exe in Windows builds" ON)
if(NOT RZ_QG_WINDOWS OR NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  return()
endif()

# CLI11 is header-only: Debian's copy serves the cross build.  Only its own
# folder is put on the include path (a link in the build tree), never the
# host's /usr/include.
find_path(RZ_CLI11_HOST_DIR CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT RZ_CLI11_HOST_DIR)
  message(STATUS "qg.exe: CLI11 headers not found (libcli11-dev); qg.exe is not built")
  return()
endif()
set(rz_cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${rz_cli11_dir})
file(CREATE_LINK ${RZ_CLI11_HOST_DIR}/CLI ${rz_cli11_dir}/CLI SYMBOLIC)

set(qg_win_srcs ${qg_srcs})
foreach(posix_only terminal_host.cpp parallel.cpp installer_tools.cpp)
  list(REMOVE_ITEM qg_win_srcs ${CMAKE_CURRENT_SOURCE_DIR}/qg/${posix_only})
endforeach()
file(GLOB qg_win32_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/qg/win32/*.cpp)
# The installer readers and the verifier of the setup program's core.
set(qg_core ${CMAKE_CURRENT_SOURCE_DIR}/setup/core)
set(qg_core_srcs ${qg_core}/anchor.cpp ${qg_core}/locate.cpp ${qg_core}/setup_data.cpp
    ${qg_core}/file_reader.cpp ${qg_core}/pe_signing.cpp ${qg_core}/verify.cpp
    ${qg_core}/public_key.cpp ${qg_core}/pem.cpp ${qg_core}/sha256_bcrypt.cpp
    ${qg_core}/sha256_file.cpp)
include(${PROJECT_SOURCE_DIR}/cmake/windows-gcrypt.cmake)
if(RZ_HAVE_GCRYPT)
  # Ed25519 through libgcrypt: verify --key, keygen, and the packer with its
  # signing (pack --setup).
  list(APPEND qg_core_srcs ${qg_core}/ed25519_gcrypt.cpp ${qg_core}/sign_gcrypt.cpp
       ${qg_core}/pack_setup.cpp ${qg_core}/pack_scan.cpp ${qg_core}/payload_meta.cpp)
  list(REMOVE_ITEM qg_win32_srcs ${CMAKE_CURRENT_SOURCE_DIR}/qg/win32/unavailable_win32.cpp)
else()
  list(REMOVE_ITEM qg_win_srcs ${CMAKE_CURRENT_SOURCE_DIR}/qg/cmd_keygen.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/qg/setup_pack_cmd.cpp)
endif()

add_executable(qg ${qg_win_srcs} ${qg_win32_srcs} ${qg_core_srcs})
target_compile_definitions(qg PRIVATE QG_VERSION="${PROJECT_VERSION}")
target_include_directories(qg PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/qg ${qg_core} ${rz_cli11_dir})
target_link_libraries(qg PRIVATE raziza3z_static qgwriter rz_warnings bcrypt rz_gcrypt)
target_link_options(qg PRIVATE -static -static-libgcc -static-libstdc++)
install(TARGETS qg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
