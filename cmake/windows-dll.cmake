# The Windows DLL: its name, its export table and its run-time libraries.
#
# 32-bit: undecorated stdcall names at fixed ordinals from raziza3z.def
# (--kill-at drops the @N the .def uses to check argument sizes), and an
# import library made from the same .def with the decorated names kept, so
# that a host declaring the exports __stdcall links against it.
# 64-bit: there is no decoration; the same table with the @N removed, plus
# the host-side settings of raziza3z_host.h that Windows supports, by name.
set_target_properties(raziza3z PROPERTIES PREFIX "" IMPORT_PREFIX "lib")
target_link_options(raziza3z PRIVATE -static-libgcc -static-libstdc++)
set(rz_def ${PROJECT_SOURCE_DIR}/src/frame/raziza3z.def)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_sources(raziza3z PRIVATE ${rz_def})
  target_link_options(raziza3z PRIVATE -Wl,--kill-at)
  if(RZ_DLLTOOL)
    add_custom_command(TARGET raziza3z POST_BUILD
      COMMAND ${RZ_DLLTOOL} -d ${rz_def} -D raziza3z.dll -k -l $<TARGET_LINKER_FILE:raziza3z>
      COMMENT "Import library with stdcall names")
  endif()
else()
  file(READ ${rz_def} rz_def_text)
  string(REGEX REPLACE "@[0-9]+ @" " @" rz_def_text "${rz_def_text}")
  string(APPEND rz_def_text
    "  rz_host_set_message_box @29\n"
    "  rz_host_set_beep @30\n"
    "  rz_host_set_header_log @31\n"
    "  rz_host_header_log @32\n"
    "  rz_host_set_stall_time @33\n"
    "  rz_host_stall_time @34\n")
  file(WRITE ${PROJECT_BINARY_DIR}/raziza3z64.def "${rz_def_text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${rz_def})
  target_sources(raziza3z PRIVATE ${PROJECT_BINARY_DIR}/raziza3z64.def)
endif()
