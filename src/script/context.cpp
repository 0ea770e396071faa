#include "script/context.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/hostfile.h"
#include "platform/profile.h"
#include "raziza3z.h"

namespace rz::script {

ScriptContext& script_context() {
  static ScriptContext context;
  return context;
}

int32_t script_int(const char* section, const char* key) {
  return static_cast<int32_t>(
      plat::profile_get_int(section, key, 0, script_context().script_path.c_str()));
}

uint32_t script_text(const char* section, const char* key, char* out, uint32_t size) {
  return plat::profile_get_string(section, key, "", out, size,
                                  script_context().script_path.c_str());
}

std::string item_key(const char* pattern, int32_t item) {
  char key[32];
  std::snprintf(key, sizeof key, pattern, static_cast<int>(item));
  return key;
}

// Both keys are always read; either one, when present with bits that the
// matching mask lacks, excludes the item.
int32_t check_condition(int32_t item, const char* section) {
  const ScriptContext& ctx = script_context();
  int32_t result = 0;
  auto os = static_cast<uint32_t>(script_int(section, item_key("+%ios", item).c_str()));
  if (os != 0 && (os & ctx.os_mask) == 0) result = 1;
  auto cv = static_cast<uint32_t>(script_int(section, item_key("+%icv", item).c_str()));
  if (cv != 0 && (cv & ctx.condition_mask) == 0) result = 1;
  return result;
}

// The whole line goes out in one write, however long label and value are.
int32_t log_line(const char* label, const char* value, int32_t log_handle) {
  std::string line = std::string(label ? label : "") + " " + (value ? value : "") + "\r\n";
  if (line.size() > 0x7fffffffu) return -1;
  return plat::file_write(plat::file_from_host(log_handle), line.data(),
                          static_cast<uint32_t>(line.size()));
}

}  // namespace rz::script

using rz::script::script_context;

extern "C" {

RZ_API int32_t RZ_CALL INITMAK(const char* script_path, int32_t install_mode, uint32_t os_mask,
                               uint32_t condition_mask, int32_t log_handle) {
  try {
    auto& ctx = script_context();
    ctx.script_path = script_path ? script_path : "";
    ctx.install_mode = install_mode;
    ctx.os_mask = os_mask;
    ctx.condition_mask = condition_mask;
    ctx.log_handle = log_handle;
  } catch (...) {
  }
  return log_handle;
}

RZ_API const char* RZ_CALL INITSCRIPT(const char* text) {
  try {
    script_context().script_name = text ? text : "";
  } catch (...) {
  }
  return script_context().script_name.c_str();
}

RZ_API int32_t RZ_CALL CHECKCONDITION(int32_t item, const char* section) {
  try {
    return rz::script::check_condition(item, section ? section : "");
  } catch (...) {
    return 0;
  }
}

RZ_API int32_t RZ_CALL LOGINFO(const char* label, const char* value, int32_t log_handle) {
  try {
    return rz::script::log_line(label, value, log_handle);
  } catch (...) {
    return -1;
  }
}

}  // extern "C"
