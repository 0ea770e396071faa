# qg-setup.exe: the setup program for Windows (MinGW builds).  The library
# is linked in statically, and libgcc and libstdc++ too, so an installer
# needs only system DLLs.  SHA-256 comes from the system (bcrypt.dll);
# Ed25519 from a static libgcrypt (cmake/windows-gcrypt.cmake), without
# which the program relies on the file's Authenticode signature and refuses
# --require-key.  Neither qg nor the packer is built here (qg.exe is
# tools/qg/win32/qg_windows.cmake).
include(${PROJECT_SOURCE_DIR}/cmake/windows-gcrypt.cmake)
file(GLOB setup_core_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/core/*.cpp)
file(GLOB setup_pack_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/core/pack*.cpp
     ${CMAKE_CURRENT_SOURCE_DIR}/core/sign*.cpp)
list(REMOVE_ITEM setup_core_srcs ${setup_pack_srcs} ${CMAKE_CURRENT_SOURCE_DIR}/core/sha256.cpp
     ${CMAKE_CURRENT_SOURCE_DIR}/core/ed25519_sodium.cpp)
if(NOT RZ_HAVE_GCRYPT)
  list(FILTER setup_core_srcs EXCLUDE REGEX "_gcrypt\\.cpp$")
endif()
file(GLOB setup_app_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/*.cpp
     ${CMAKE_CURRENT_SOURCE_DIR}/app/win32/*.cpp)

add_library(qgsetup_core STATIC ${setup_core_srcs})
target_include_directories(qgsetup_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/core ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(qgsetup_core PUBLIC bcrypt rz_gcrypt PRIVATE rz_warnings)

enable_language(RC)
add_executable(qg-setup WIN32 ${setup_app_srcs} ${CMAKE_CURRENT_SOURCE_DIR}/app/win32/qg-setup.rc)
target_compile_definitions(qg-setup PRIVATE QG_VERSION="${PROJECT_VERSION}" UNICODE _UNICODE)
target_include_directories(qg-setup PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(qg-setup PRIVATE qgsetup_core raziza3z_static rz_warnings shell32 ole32 comctl32)
target_compile_options(qg-setup PRIVATE -ffunction-sections -fdata-sections)
target_compile_options(qgsetup_core PRIVATE -ffunction-sections -fdata-sections)
target_compile_options(raziza3z_static PRIVATE -ffunction-sections -fdata-sections)
# Every installer carries this program: no debug information in it.
target_link_options(qg-setup PRIVATE -static -static-libstdc++ -static-libgcc -Wl,--gc-sections
                    $<$<NOT:$<CONFIG:Debug>>:-s>)
set_target_properties(qg-setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tools)
install(TARGETS qg-setup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
