// The script tests' view of the shared test folder helpers: texts instead
// of byte vectors, and file names inside the folder.
#pragma once

#include <string>

#include "../support/temp_dir.h"

namespace rz_test {

class TempDir : public rztest::TempDir {
 public:
  bool ok() const { return !path().empty(); }
  std::string file(const std::string& name) const { return path() + "/" + name; }
};

inline void write_file(const std::string& path, const std::string& data) {
  rztest::write_text(path, data);
}

// The UTF-16LE bytes of a text (for files saved in Unicode).
inline std::string utf16le(const std::u16string& s) {
  std::string out;
  for (char16_t u : s) {
    out.push_back(static_cast<char>(u & 0xff));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

inline std::string read_file(const std::string& path) {
  std::vector<uint8_t> bytes = rztest::read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace rz_test
