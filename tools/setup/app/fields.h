// Lines of escaped fields: the journal and the install record store paths,
// registry texts and byte values, any of which may hold spaces, newlines or
// bytes that are not text.  A field is written with every byte below '!',
// '%' and DEL as %XX, so fields split on single spaces and lines on '\n'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

using Fields = std::vector<std::string>;

// One field in escaped form (an empty field becomes "%").
std::string escape_field(const std::string& raw);

// Back to raw bytes; false for a malformed escape.
bool unescape_field(const std::string& text, std::string* raw);

// The fields joined by spaces, with a final newline.
std::string join_fields(const Fields& fields);

// Splits one line (without its newline) and unescapes every field; false
// for a malformed field.
bool split_fields(const std::string& line, Fields* out);

// Bytes as lower-case hex, and back (false for odd length or other text).
std::string to_hex(const std::string& bytes);
bool from_hex(const std::string& hex, std::string* bytes);

// Decimal text of an unsigned number, and back (false for anything else).
std::string num(uint64_t v);
bool parse_num(const std::string& text, uint64_t* v);

// Writes all of s to fd (retrying short writes): false on failure.
bool write_all(int fd, const std::string& s);

// Reads a whole file (at most limit bytes) into lines without their '\n';
// false when it cannot be read or is larger.
bool read_lines(const std::string& path, std::vector<std::string>* lines,
                size_t limit = 256u << 20);

}  // namespace setup
