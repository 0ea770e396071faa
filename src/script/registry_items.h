// Registry items of the script: WRITEREG and GETREG.
#pragma once

#include <cstdint>
#include <string>

namespace rz::script {

// Item data types of "+%ie".
inline constexpr int32_t kItemDword = 1;
inline constexpr int32_t kItemText = 2;
inline constexpr int32_t kItemBytes = 3;

// The number in a data text: blanks, a sign, decimal digits, wrapping in 32
// bits; 0 without digits.
uint32_t number_of(const char* text);
// The bytes of a data text: one per space-separated token, from the token's
// leading hexadecimal digits (the last two count); a token that does not
// begin with one gives 0.
std::string bytes_of(const char* text);

// Writes the selected items of the "REG" section; returns "Ndx" + 1.
int32_t write_registry_items(const char* tags);

// Reads one value's raw data into result (at least 127 bytes, of which at
// most 127 are written): 1 when read or when the name is empty and the key
// exists, else 0 with result empty.
int32_t get_registry_value(int32_t root, const char* key_path, const char* name, char* result,
                           int32_t selector);

}  // namespace rz::script
