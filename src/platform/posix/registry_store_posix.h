// The text of the POSIX registry store: the registry editor's export
// formats, parsed into keys and values and written back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/text_posix.h"

namespace rz::plat {

struct StoreValue {
  std::string name;
  uint32_t type = 0;
  std::string data;       // as the library's 8-bit calls see it
  bool verbatim = false;  // data are the file's bytes, written back unchanged
  bool kept = false;      // a line kept as it stood (in data); it names no value
};

struct StoreKey {
  std::string path;  // for a kept key, its whole header line
  std::vector<StoreValue> values;
  bool kept = false;  // a key deletion ("[-...]"), kept with its lines as they stood
};

// The first line: REGEDIT4 (8-bit texts and data), or the Unicode editor's
// "Windows Registry Editor Version 5.00" (data of texts in UTF-16LE).
enum class StoreHeader { regedit4, version5 };

struct RegStore {
  StoreHeader header = StoreHeader::regedit4;
  FileEncoding encoding = FileEncoding::bytes;
  std::vector<std::string> preamble;  // lines kept between the first line and the first key
  std::vector<StoreKey> keys;
  // A wrapped value that the file ends inside.  It is written last, so that
  // its continuation never swallows a line written behind it.
  std::string unfinished;
  int bad_lines = 0;  // malformed lines met by the parse, kept as they stood
  // Keys by their path in ASCII lower case (the first of two alike); built
  // on first use, dropped when keys are removed.
  std::unordered_map<std::string, size_t> key_index;
  bool key_index_ready = false;

  // Texts in the file are UTF-8 (the Unicode format, or a file with a mark).
  bool unicode() const {
    return header == StoreHeader::version5 || encoding != FileEncoding::bytes;
  }
  // A caller's 8-bit text as this store holds it (text_posix.h's rule in a
  // Unicode store, the bytes as they are in an 8-bit one).
  std::string text(std::string_view s) const {
    return unicode() ? utf8_of_text(s) : std::string(s);
  }
};

// Parses a store file's bytes.  An empty file is an empty REGEDIT4 store.
// False for a file that is not a store (no known first line): such a file is
// never written.  A malformed line is skipped, as the registry editor skips
// it, counted in bad_lines and kept in place for the rewrite.
bool parse_store(std::string_view raw, RegStore& store);

// The bytes of the store in the format and encoding it was found in.
std::string format_store(const RegStore& store);

}  // namespace rz::plat
