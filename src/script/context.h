// The script context set by INITMAK, the script file's lookups, conditions
// and the install log.
#pragma once

#include <cstdint>
#include <string>

namespace rz::script {

// The one process-wide record that every script service reads.  Texts are
// held whole, whatever their length: a script path cut short would name
// another file.
struct ScriptContext {
  std::string script_path;
  int32_t install_mode = 0;
  uint32_t os_mask = 0;
  uint32_t condition_mask = 0;
  int32_t log_handle = 0;
  std::string script_name;
};

ScriptContext& script_context();

// Sections of the script file.
inline constexpr const char* kVariablesSection = "VARIABLES";
inline constexpr const char* kRegSection = "REG";

// An integer of the script file, 0 when absent.
int32_t script_int(const char* section, const char* key);
// A text of the script file cut to size - 1 characters into out (size
// bytes), "" when absent.  Returns the length.
uint32_t script_text(const char* section, const char* key, char* out, uint32_t size);
// A key formed from pattern with the item number in place of "%i".
std::string item_key(const char* pattern, int32_t item);

// 0 when item of section applies to this installation, 1 when excluded.
int32_t check_condition(int32_t item, const char* section);

// Writes "label value\r\n" to the host's log file: the bytes written, or -1.
int32_t log_line(const char* label, const char* value, int32_t log_handle);

}  // namespace rz::script
