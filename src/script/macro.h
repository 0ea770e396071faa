// Variable substitution in texts, and cutting a path back to a component.
#pragma once

#include <cstdint>

namespace rz::script {

// The capacity that CONVERTMACRO assumes for every text it changes.
inline constexpr int32_t kMacroCapacity = 1024;
// The pass limit the library's own callers use (four passes).
inline constexpr int32_t kMacroPasses = 5;

// Replaces the first occurrence of search in text by replacement when the
// changed text with its terminator fits capacity bytes.  Returns 0 when text
// is unchanged, else the address replacement's length minus search's length
// behind the start of the occurrence (computed without leaving the rules of
// pointer arithmetic; callers in the library ignore it).
char* substitute_first(char* text, const char* search, const char* replacement, int32_t capacity);

// Replaces the script's variables in text (kMacroCapacity bytes) over
// pass_limit - 1 passes.  0 when text holds no '%', else the final pass
// number.
int32_t convert_macro(char* text, int32_t pass_limit);

// The directory above the deepest component of path equal to component, into
// result (result_size bytes).  1 when found and it fits, else 0 with result
// untouched.
int32_t path_macro(const char* path, const char* component, char* result, uint32_t result_size);

}  // namespace rz::script
