#include "script/registry_items.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "raziza3z.h"
#include "script/context.h"
#include "script/macro.h"

namespace rz::script {

namespace {

// Stores for the substituted texts: as large as the substitution capacity,
// so that no substituted text is ever cut or overflows.
struct ItemTexts {
  char key_path[kMacroCapacity] = {};
  char value_name[kMacroCapacity] = {};
  char data_text[kMacroCapacity] = {};
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int32_t low16(int32_t v) {
  return static_cast<int16_t>(static_cast<uint16_t>(v & 0xffff));
}

// True when the value exists and holds anything but an empty text: a number
// (0 included), bytes, or a text of any length.  A missing key or value, a
// value of no bytes and an empty text count as nothing.  An empty name is
// the key's default value.
bool value_holds_something(int32_t root, const char* key_path, const char* name) {
  plat::RegKey key = plat::kNoKey;
  if (plat::reg_open_key(root, key_path, &key) != plat::kRegOk) return false;
  uint32_t type = 0, size = 0;
  bool holds = false;
  if (plat::reg_query_value(key, name, &type, nullptr, &size) == plat::kRegOk && size > 0) {
    holds = true;
    if (type == plat::kRegSz || type == plat::kRegExpandSz || type == plat::kRegMultiSz) {
      std::vector<char> data(size);
      holds = plat::reg_query_value(key, name, &type, data.data(), &size) != plat::kRegOk ||
              (size > 0 && data[0] != 0);
    }
  }
  plat::reg_close_key(key);
  return holds;
}

// Writes the value of one item in the open key according to its type code.
// Returns true when a value was written.
bool write_value(plat::RegKey key, int32_t type_code, const ItemTexts& t) {
  int32_t rc;
  if (type_code == kItemDword) {
    uint32_t n = number_of(t.data_text);
    unsigned char le[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                           static_cast<unsigned char>(n >> 16),
                           static_cast<unsigned char>(n >> 24)};
    rc = plat::reg_set_value(key, t.value_name, plat::kRegDword, le, 4);
  } else if (type_code == kItemText) {
    rc = plat::reg_set_value(key, t.value_name, plat::kRegSz, t.data_text,
                             static_cast<uint32_t>(std::strlen(t.data_text) + 1));
  } else if (type_code == kItemBytes) {
    std::string bytes = bytes_of(t.data_text);
    rc = plat::reg_set_value(key, t.value_name, plat::kRegBinary, bytes.data(),
                             static_cast<uint32_t>(bytes.size()));
  } else {
    return false;
  }
  return rc == plat::kRegOk;
}

void write_item(int32_t n, const char* tags) {
  const ScriptContext& ctx = script_context();
  char tag[2];
  script_text(kRegSection, item_key("+%iz", n).c_str(), tag, sizeof tag);
  int32_t excluded = check_condition(n, kRegSection);
  // An empty tag matches the terminator of tags, so untagged items always
  // qualify.
  if (!std::strchr(tags, tag[0]) || excluded != 0) return;
  int32_t root = low16(script_int(kRegSection, item_key("+%ia", n).c_str()));
  auto texts = std::make_unique<ItemTexts>();
  ItemTexts& t = *texts;
  script_text(kRegSection, item_key("+%ib", n).c_str(), t.key_path, 256);
  convert_macro(t.key_path, kMacroPasses);
  script_text(kRegSection, item_key("+%ic", n).c_str(), t.value_name, 127);
  convert_macro(t.value_name, kMacroPasses);
  script_text(kRegSection, item_key("+%id", n).c_str(), t.data_text, 256);
  convert_macro(t.data_text, kMacroPasses);
  if (script_int(kRegSection, item_key("+%ino", n).c_str()) == 1 &&
      value_holds_something(root, t.key_path, t.value_name))
    return;
  log_line("RegRoot:", std::to_string(root).c_str(), ctx.log_handle);
  int32_t type_code = low16(script_int(kRegSection, item_key("+%ie", n).c_str()));
  plat::RegKey key = plat::kNoKey;
  if (plat::reg_create_key(root, t.key_path, &key) != plat::kRegOk) return;
  log_line("RegKey :", t.key_path, ctx.log_handle);
  if (write_value(key, type_code, t)) {
    log_line("RegName:", t.value_name, ctx.log_handle);
    log_line("RegVal :", t.data_text, ctx.log_handle);
  }
  plat::reg_close_key(key);
}

}  // namespace

uint32_t number_of(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint32_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) n = n * 10u + static_cast<uint32_t>(*p - '0');
  return negative ? 0u - n : n;
}

// Every token counts, a one-character token as much as a longer one, so
// "5 6" gives 05 06.
std::string bytes_of(const char* text) {
  std::string bytes;
  const char* p = text;
  while (*p) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    uint32_t value = 0;
    for (; hex_value(*p) >= 0; ++p) value = value * 16u + static_cast<uint32_t>(hex_value(*p));
    bytes.push_back(static_cast<char>(value & 0xff));
    while (*p && *p != ' ') ++p;
  }
  return bytes;
}

// One batch of the store for a WRITEREG call, ended on every path out.
struct StoreBatch {
  StoreBatch() { plat::reg_batch_begin(); }
  ~StoreBatch() { plat::reg_batch_end(); }
  StoreBatch(const StoreBatch&) = delete;
  StoreBatch& operator=(const StoreBatch&) = delete;
};

// All the items' changes reach the store in one commit at the end of the
// call; a commit that fails is reported through the store's status.
int32_t write_registry_items(const char* tags) {
  int32_t count = script_int(kRegSection, "Ndx");
  StoreBatch batch;
  for (int32_t n = 1; n <= count && n > 0; ++n) write_item(n, tags ? tags : "");
  return static_cast<int32_t>(static_cast<uint32_t>(count) + 1u);
}

int32_t get_registry_value(int32_t root, const char* key_path, const char* name, char* result,
                           int32_t selector) {
  if (!result) return 0;
  result[0] = 0;
  std::string wanted = name ? name : "";
  if (script_context().install_mode == 2 && selector == 3) wanted = "Common " + wanted;
  plat::RegKey key = plat::kNoKey;
  if (plat::reg_open_key(root, key_path ? key_path : "", &key) != plat::kRegOk) return 0;
  int32_t found = wanted.empty() ? 1 : 0;
  char scratch[128];
  uint32_t type = 0, size = 127;
  if (plat::reg_query_value(key, wanted.c_str(), &type, scratch, &size) == plat::kRegOk) {
    found = 1;
    std::memcpy(result, scratch, size);
    // A terminator behind the raw data, where it still falls inside the 127
    // bytes, so that data stored without one cannot lead a reader astray.
    if (size < 127) result[size] = 0;
  }
  plat::reg_close_key(key);
  return found;
}

}  // namespace rz::script

extern "C" {

RZ_API int32_t RZ_CALL WRITEREG(const char* tags) {
  try {
    return rz::script::write_registry_items(tags);
  } catch (...) {
    return 0;
  }
}

RZ_API int32_t RZ_CALL GETREG(int32_t root, const char* key_path, const char* name, char* result,
                              int32_t selector) {
  try {
    return rz::script::get_registry_value(root, key_path, name, result, selector);
  } catch (...) {
    if (result) result[0] = 0;
    return 0;
  }
}

}  // extern "C"
