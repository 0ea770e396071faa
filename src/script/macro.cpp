#include "script/macro.h"

#include <cstring>
#include <string>

#include "raziza3z.h"
#include "script/context.h"

namespace rz::script {

char* substitute_first(char* text, const char* search, const char* replacement, int32_t capacity) {
  if (!text || !search || !replacement) return nullptr;
  size_t a = std::strlen(search), n = std::strlen(replacement);
  if (std::strcmp(search, replacement) == 0) return nullptr;
  char* at = std::strstr(text, search);
  if (!at) return nullptr;
  size_t length = std::strlen(text);
  // The changed text and its terminator must fit: length + n - a < capacity.
  if (capacity <= 0 || length + n >= static_cast<size_t>(capacity) + a) return nullptr;
  std::memmove(at + n, at + a, length - static_cast<size_t>(at - text) - a + 1);
  std::memcpy(at, replacement, n);
  auto address = reinterpret_cast<uintptr_t>(at) + n - a;
  return reinterpret_cast<char*>(address);
}

// The pass counter is 16 bits wide, so no more than 32767 passes are made
// whatever limit is asked for.  A pass that replaces nothing ends the work:
// the file is not changed between passes, so every later pass would find
// the same and replace nothing either.
int32_t convert_macro(char* text, int32_t pass_limit) {
  if (!text || !std::strchr(text, '%')) return 0;
  int32_t limit = pass_limit > 32767 ? 32767 : pass_limit;
  int32_t pass = 1;
  char name[50];
  char value[255];
  while (pass < limit) {
    int32_t count = script_int(kVariablesSection, "#");
    bool changed = false;
    for (int32_t i = 1; i <= count && i > 0; ++i) {
      script_text(kVariablesSection, std::to_string(i).c_str(), name, sizeof name);
      if (!std::strstr(text, name)) continue;
      script_text(kVariablesSection, name, value, sizeof value);
      if (substitute_first(text, name, value, kMacroCapacity)) changed = true;
    }
    if (!changed) return limit;
    ++pass;
  }
  return pass;
}

// Walks from the end of the path towards its root, one component per step,
// and never looks at a prefix of three characters or fewer (a drive root).
int32_t path_macro(const char* path, const char* component, char* result, uint32_t result_size) {
  if (!path || !component || !result) return 0;
  std::string prefix = path;
  std::string tail;
  while (prefix.size() > 3) {
    if (!tail.empty()) prefix.resize(prefix.size() - tail.size());
    size_t slash = prefix.rfind('\\');
    if (slash == std::string::npos) return 0;
    tail = prefix.substr(slash);
    if (tail != component) continue;
    prefix.resize(prefix.size() - tail.size());
    if (prefix.size() < 3) prefix.push_back('\\');
    if (prefix.size() + 1 > result_size) return 0;
    std::memcpy(result, prefix.c_str(), prefix.size() + 1);
    return 1;
  }
  return 0;
}

}  // namespace rz::script

extern "C" {

RZ_API char* RZ_CALL strnsub(char* text, const char* search, const char* replacement,
                             int32_t capacity) {
  return rz::script::substitute_first(text, search, replacement, capacity);
}

RZ_API int32_t RZ_CALL CONVERTMACRO(char* text, int32_t pass_limit) {
  try {
    return rz::script::convert_macro(text, pass_limit);
  } catch (...) {
    return 0;
  }
}

RZ_API int32_t RZ_CALL PATHMACRO(const char* path, const char* component, char* result) {
  try {
    return rz::script::path_macro(path, component, result, 128);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
