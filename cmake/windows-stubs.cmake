# The Windows setup programs a Linux package ships: qg-setup.exe for x86_64
# and i686, each built from this source tree as a sub-build with its MinGW-w64
# toolchain file, and installed in the data folder, where
# `qg pack --target-os windows` finds them.
#
# They are not part of the ordinary build (each is a whole second build of
# the library): `cmake --build B --target windows-stubs` builds them, and
# `cmake --install` builds them first when that was not done.  Each is then
# also placed in the build tree at the path qg looks at from its own folder
# (tools/<RZ_BIN_TO_DATA>/raziza3z/windows/<arch>), so a build-tree qg finds
# them as an installed one does.

set(rz_stub_compilers_found ON)
foreach(triple x86_64-w64-mingw32 i686-w64-mingw32)
  string(MAKE_C_IDENTIFIER ${triple} id)
  find_program(RZ_MINGW_CXX_${id} NAMES ${triple}-g++-win32 ${triple}-g++)
  find_program(RZ_MINGW_RC_${id} NAMES ${triple}-windres)
  if(NOT RZ_MINGW_CXX_${id} OR NOT RZ_MINGW_RC_${id})
    set(rz_stub_compilers_found OFF)
  endif()
endforeach()
option(RZ_WINDOWS_STUBS "Ship qg-setup.exe for x86_64 and i686 (needs the MinGW-w64 cross compilers)"
       ${rz_stub_compilers_found})
if(NOT RZ_WINDOWS_STUBS)
  message(STATUS "Windows setup programs: not shipped (RZ_WINDOWS_STUBS is OFF; "
                 "the MinGW-w64 g++ and windres for x86_64 and i686 turn it on)")
  return()
endif()
if(NOT rz_stub_compilers_found)
  message(FATAL_ERROR "RZ_WINDOWS_STUBS is ON, but the MinGW-w64 g++ or windres for x86_64 or "
                      "i686 is missing")
endif()
message(STATUS "Windows setup programs: shipped for x86_64 and i686 "
               "(built by the target windows-stubs, or at install)")

include(ExternalProject)
# Installing without having built them: build them now (a no-op when they are
# up to date), so a package never lacks them.
install(CODE "
  execute_process(COMMAND \"${CMAKE_COMMAND}\" --build \"${PROJECT_BINARY_DIR}\" --target windows-stubs
                  RESULT_VARIABLE rz_result)
  if(NOT rz_result EQUAL 0)
    message(FATAL_ERROR \"the Windows setup programs could not be built (target windows-stubs)\")
  endif()")

set(RZ_WINDOWS_STUB_DIR ${PROJECT_BINARY_DIR}/tools/${RZ_BIN_TO_DATA}/raziza3z/windows)
cmake_path(NORMAL_PATH RZ_WINDOWS_STUB_DIR)
set(stub_targets "")
# Make's job server is shared with the sub-builds; other generators start
# their own build tool.
if(CMAKE_GENERATOR MATCHES "Makefiles")
  set(build_command "$(MAKE)" qg-setup)
else()
  set(build_command ${CMAKE_COMMAND} --build <BINARY_DIR> --target qg-setup)
endif()
foreach(arch x86_64 i686)
  ExternalProject_Add(qg-setup-${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/windows-stubs/${arch}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-${arch}.cmake
               -DCMAKE_BUILD_TYPE=Release -DRZ_TESTS=OFF -DRZ_TOOLS=ON -DRZ_SETUP=ON
               -DRZ_SETUP_PROGRAM_ONLY=ON -DRZ_WERROR=${RZ_WERROR}
    BUILD_COMMAND ${build_command}
    # The sub-build follows every change of the sources it shares with this one.
    BUILD_ALWAYS ON
    INSTALL_COMMAND ${CMAKE_COMMAND} -E make_directory ${RZ_WINDOWS_STUB_DIR}/${arch}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/tools/qg-setup.exe
            ${RZ_WINDOWS_STUB_DIR}/${arch}/qg-setup.exe
    EXCLUDE_FROM_ALL ON)
  list(APPEND stub_targets qg-setup-${arch})
  install(FILES ${RZ_WINDOWS_STUB_DIR}/${arch}/qg-setup.exe
          DESTINATION ${CMAKE_INSTALL_DATADIR}/raziza3z/windows/${arch})
endforeach()
add_custom_target(windows-stubs DEPENDS ${stub_targets})
