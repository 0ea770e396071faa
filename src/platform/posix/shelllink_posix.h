// Shortcut files and type libraries of the POSIX backend.
#pragma once

#include <cstdint>
#include <string>

#include "platform/shell.h"

namespace rz::plat {

// The bytes of a Shell Link file for link.  False when a text is too long
// for the format.
bool shell_link_bytes(const ShellLink& link, std::string& out);
// The text of a desktop entry for link, named after link_path.
std::string desktop_entry_text(const ShellLink& link, const std::string& link_path);
// Writes the shortcut (a desktop entry for a ".desktop" path): 0 or -1.
int32_t save_shell_link(const ShellLink& link, const char* link_path);

// What the registration of a type library needs from its header.
struct TypeLibInfo {
  unsigned char libid[16] = {};
  uint32_t lcid = 0;
  uint32_t syskind = 0;
  uint16_t major = 0, minor = 0;
  uint32_t flags = 0;
  bool has_help_string = false;
  std::string help_string;
  std::string name;
};

// Reads the header of an MSFT type library: 0, kFileNotFound or
// kTypeLibCantLoad.
int32_t read_type_library(const std::string& bytes, TypeLibInfo& info);
// Loads the type library at path and registers it below the classes root:
// 0 or an HRESULT; nothing is registered on failure to load.
int32_t register_type_library_posix(const char* path);

}  // namespace rz::plat
