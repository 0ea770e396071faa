// The registry on POSIX: one text file in the registry editor's REGEDIT4
// export format, so that a person can read it and Windows can import it:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Example]
//   @="default value"
//   "Text"="C:\\Program Files\\Example"
//   "Number"=dword:0000002a
//   "Bytes"=hex:01,02,ff
//   "Other"=hex(2):25,00
//
// Strings escape '\' and '"' with a backslash.  A text that the quoted form
// cannot carry (no single terminator at its end, or a line break inside) is
// kept as hex(1).  Key and value names are matched without regard to ASCII
// case and keep the spelling of their first writer.  The classes root lives
// under HKEY_LOCAL_MACHINE\SOFTWARE\Classes, where Windows keeps it.
//
// Every change reads the file, edits it and replaces it atomically while it
// holds the file's lock (store_update), so concurrent writers in several
// processes lose nothing and a reader never sees half a file.  A file that
// is not a store is never overwritten.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/store_file_posix.h"
#include "platform/registry.h"
#include "raziza3z_host.h"

namespace rz::plat {

namespace {

struct Value {
  std::string name;
  uint32_t type = kRegNone;
  std::string data;
};

struct Key {
  std::string path;
  std::vector<Value> values;
};

struct Store {
  std::vector<Key> keys;
};

// An open key: its full path below a predefined key.
struct KeyRef {
  std::string path;
};

std::string g_host_store_path;  // set by the host through raziza3z_host.h
// What the store met since the host last asked (rz_host_registry_status).
std::atomic<uint32_t> g_store_status{0};

void note_status(uint32_t bits) {
  g_store_status.fetch_or(bits, std::memory_order_relaxed);
}

// ---- reading the file ----------------------------------------------------

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string at s[at] (the opening quote) into out; at moves
// behind the closing quote.
bool parse_quoted(std::string_view s, size_t& at, std::string& out) {
  if (at >= s.size() || s[at] != '"') return false;
  out.clear();
  for (++at; at < s.size(); ++at) {
    char c = s[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\' && at + 1 < s.size()) c = s[++at];
    out.push_back(c);
  }
  return false;
}

// "hex:..." bytes: pairs of digits separated by commas and blanks.
bool parse_hex_bytes(std::string_view s, std::string& out) {
  out.clear();
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == ',' || c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    if (i + 1 >= s.size() || hex_digit(c) < 0 || hex_digit(s[i + 1]) < 0) return false;
    out.push_back(static_cast<char>(hex_digit(c) * 16 + hex_digit(s[i + 1])));
    i += 2;
  }
  return true;
}

bool parse_data(std::string_view s, Value& v) {
  if (!s.empty() && s.front() == '"') {
    size_t at = 0;
    if (!parse_quoted(s, at, v.data)) return false;
    v.data.push_back('\0');
    v.type = kRegSz;
    return true;
  }
  if (s.substr(0, 6) == "dword:") {
    std::string_view digits = s.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t n = 0;
    for (char c : digits) {
      if (hex_digit(c) < 0) return false;
      n = n * 16 + static_cast<uint32_t>(hex_digit(c));
    }
    v.type = kRegDword;
    v.data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) v.data[i] = static_cast<char>((n >> (8 * i)) & 0xff);
    return true;
  }
  if (s.substr(0, 4) == "hex:") {
    v.type = kRegBinary;
    return parse_hex_bytes(s.substr(4), v.data);
  }
  if (s.substr(0, 4) == "hex(") {
    size_t close = s.find("):");
    if (close == std::string_view::npos || close == 4) return false;
    uint32_t type = 0;
    for (char c : s.substr(4, close - 4)) {
      if (hex_digit(c) < 0 || type > 0x0fffffff) return false;
      type = type * 16 + static_cast<uint32_t>(hex_digit(c));
    }
    v.type = type;
    return parse_hex_bytes(s.substr(close + 2), v.data);
  }
  return false;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Splits the file into logical lines: a line that ends with a backslash
// outside a string (hex data wrapped by the registry editor) continues on
// the next.
std::vector<std::string> logical_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    std::string_view raw =
        trim(text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at));
    at = nl == std::string_view::npos ? text.size() : nl + 1;
    bool continued = !raw.empty() && raw.back() == '\\' && (!current.empty() || raw.front() != '[');
    if (continued) raw.remove_suffix(1);
    current.append(raw);
    if (!continued) {
      lines.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

// Parses a whole store.  An empty file is an empty store; anything else must
// begin with the REGEDIT4 line.  Returns false for a file that is not a store.
bool parse_store(std::string_view text, Store& store) {
  store.keys.clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string> lines = logical_lines(text);
  size_t i = 0;
  while (i < lines.size() && lines[i].empty()) ++i;
  if (i == lines.size()) return true;
  if (lines[i] != "REGEDIT4") return false;
  Key* key = nullptr;
  for (++i; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == std::string_view::npos) return false;
      store.keys.push_back(Key{std::string(line.substr(1, close - 1)), {}});
      key = &store.keys.back();
      continue;
    }
    if (!key) return false;
    Value v;
    size_t at = 0;
    if (line.front() == '@') {
      at = 1;
    } else if (!parse_quoted(line, at, v.name)) {
      return false;
    }
    std::string_view rest = trim(line.substr(at));
    if (rest.empty() || rest.front() != '=') return false;
    rest = trim(rest.substr(1));
    if (rest == "-") continue;  // a deletion in an exported file: nothing to hold
    if (!parse_data(rest, v)) return false;
    key->values.push_back(std::move(v));
  }
  return true;
}

// ---- writing the file ----------------------------------------------------

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string hex_bytes(std::string_view data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(data[i]);
    if (i) out.push_back(',');
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

// A text that fits the quoted form: one terminator, at its end, and no line
// break (the format has no escape for one).
bool plain_text(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  std::string_view body = data.substr(0, data.size() - 1);
  return body.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

std::string format_value(const Value& v) {
  std::string out = v.name.empty() ? "@=" : quoted(v.name) + "=";
  if (v.type == kRegSz && plain_text(v.data))
    return out + quoted(v.data.substr(0, v.data.size() - 1));
  if (v.type == kRegDword && v.data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v.data[i]);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", n);
    return out + text;
  }
  if (v.type == kRegBinary) return out + "hex:" + hex_bytes(v.data);
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
  return out + prefix + hex_bytes(v.data);
}

std::string format_store(const Store& store) {
  std::string out = "REGEDIT4\r\n";
  for (const Key& k : store.keys) {
    out += "\r\n[" + k.path + "]\r\n";
    for (const Value& v : k.values) out += format_value(v) + "\r\n";
  }
  return out;
}

// ---- keys ----------------------------------------------------------------

const char* root_path(int32_t root) {
  switch (root) {
    case 1:
      return "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
    case 2:
      return "HKEY_CURRENT_USER";
    case 3:
      return "HKEY_LOCAL_MACHINE";
    case 4:
      return "HKEY_USERS";
    case 5:
      return "HKEY_CURRENT_CONFIG";
    default:
      return nullptr;
  }
}

// The full path of root\sub.  Separators at both ends of sub are dropped;
// an empty component inside, or a character the file cannot hold, is
// refused.
int32_t full_path(int32_t root, const char* sub, std::string& out) {
  const char* base = root_path(root);
  if (!base) return kRegBadKey;
  std::string_view s = sub ? sub : "";
  while (!s.empty() && s.front() == '\\') s.remove_prefix(1);
  while (!s.empty() && s.back() == '\\') s.remove_suffix(1);
  if (s.find("\\\\") != std::string_view::npos) return kRegInvalid;
  if (s.find_first_of("\r\n") != std::string_view::npos) return kRegInvalid;
  out = base;
  if (!s.empty()) out.append("\\").append(s);
  return kRegOk;
}

Key* find_key(Store& store, std::string_view path) {
  for (Key& k : store.keys)
    if (same_name(k.path, path)) return &k;
  return nullptr;
}

// A key below path (its subkey), listed in the store.
bool has_subkey(const Store& store, std::string_view path) {
  for (const Key& k : store.keys)
    if (k.path.size() > path.size() && k.path[path.size()] == '\\' &&
        same_name(std::string_view(k.path).substr(0, path.size()), path))
      return true;
  return false;
}

// A key exists when it is listed, when a key below it is listed, or when it
// is one of the predefined keys.
bool key_exists(Store& store, int32_t root, std::string_view path) {
  return same_name(path, root_path(root)) || find_key(store, path) || has_subkey(store, path);
}

// Lists path and every key between it and its predefined key.  Returns true
// when a key was added.
bool add_key_chain(Store& store, std::string_view path) {
  std::vector<std::string_view> chain;
  size_t at = path.find('\\');
  // The first component is the predefined key itself, which is never listed
  // on its own unless values are set in it.
  if (at != std::string_view::npos) at = path.find('\\', at + 1);
  for (; at != std::string_view::npos; at = path.find('\\', at + 1))
    chain.push_back(path.substr(0, at));
  chain.push_back(path);
  bool added = false;
  for (std::string_view prefix : chain) {
    if (find_key(store, prefix)) continue;
    store.keys.push_back(Key{std::string(prefix), {}});
    added = true;
  }
  return added;
}

int32_t load_store(Store& store) {
  std::string path = registry_store_path();
  if (path.empty()) return kRegBadStore;
  std::string text;
  int rc = store_read(path, text);
  if (rc < 0) return kRegBadStore;
  return parse_store(text, store) ? kRegOk : kRegBadStore;
}

// Runs change on the store under the file's lock and writes the result when
// change reports a change.
template <typename Change>
int32_t update_store(Change change) {
  std::string path = registry_store_path();
  if (path.empty() || store_make_parents(path) != 0) {
    note_status(RZ_STORE_WRITE_FAILED);
    return kRegWriteFailed;
  }
  int32_t result = kRegOk;
  int rc = store_update(path, [&](std::string& text) {
    Store store;
    if (!parse_store(text, store)) {
      result = kRegBadStore;
      return StoreEdit::abort;
    }
    if (!change(store)) return StoreEdit::keep;
    text = format_store(store);
    return StoreEdit::replace;
  });
  if (rc < 0) result = kRegWriteFailed;
  if (result != kRegOk) note_status(RZ_STORE_WRITE_FAILED);
  return result;
}

RegKey new_handle(std::string path) {
  auto* ref = new (std::nothrow) KeyRef{std::move(path)};
  return reinterpret_cast<RegKey>(ref);
}

KeyRef* ref_of(RegKey key) {
  return reinterpret_cast<KeyRef*>(key);
}

// ---- the operations -------------------------------------------------------

int32_t posix_open_key(int32_t root, const char* sub, RegKey* key) {
  if (!key) return kRegInvalid;
  *key = kNoKey;
  std::string path;
  int32_t rc = full_path(root, sub, path);
  if (rc != kRegOk) return rc;
  Store store;
  if ((rc = load_store(store)) != kRegOk) return rc;
  if (!key_exists(store, root, path)) return kRegNotFound;
  *key = new_handle(path);
  return *key ? kRegOk : kRegWriteFailed;
}

int32_t posix_create_key(int32_t root, const char* sub, RegKey* key) {
  if (!key) return kRegInvalid;
  *key = kNoKey;
  std::string path;
  int32_t rc = full_path(root, sub, path);
  if (rc != kRegOk) return rc;
  if (!same_name(path, root_path(root)) || root == 1) {
    rc = update_store([&](Store& store) { return add_key_chain(store, path); });
    if (rc != kRegOk) return rc;
  }
  *key = new_handle(path);
  return *key ? kRegOk : kRegWriteFailed;
}

// The value named name of the key at path, or nullptr.  When a name occurs
// twice (a hand-edited file), the last one counts, as an import would leave it.
Value* find_value(Store& store, std::string_view path, std::string_view name) {
  Key* k = find_key(store, path);
  Value* found = nullptr;
  if (k) {
    for (Value& v : k->values)
      if (same_name(v.name, name)) found = &v;
  }
  return found;
}

// RegQueryValueExA over the value at path: the type, the size, and the data
// when data is given and *size holds it.
int32_t query_in_store(Store& store, const std::string& path, const char* name, uint32_t* type,
                       void* data, uint32_t* size) {
  const Value* found = find_value(store, path, name ? name : "");
  if (!found) return kRegNotFound;
  if (type) *type = found->type;
  uint32_t needed = static_cast<uint32_t>(found->data.size());
  if (data && *size < needed) {
    *size = needed;
    return kRegMoreData;
  }
  if (data) std::memcpy(data, found->data.data(), needed);
  if (size) *size = needed;
  return kRegOk;
}

// Sets name in the key at path (listing the key and the keys above it).
// Returns true when the store changed.
bool set_in_store(Store& store, const std::string& path, const std::string& name, uint32_t type,
                  const std::string& bytes) {
  bool added = add_key_chain(store, path);
  if (Value* v = find_value(store, path, name)) {
    if (v->type == type && v->data == bytes) return added;
    v->type = type;
    v->data = bytes;
    return true;
  }
  find_key(store, path)->values.push_back(Value{name, type, bytes});
  return true;
}

// A value name the file can hold: no line break.
bool storable_name(const char* name) {
  return !name || std::strpbrk(name, "\r\n") == nullptr;
}

int32_t posix_query_value(RegKey key, const char* name, uint32_t* type, void* data,
                          uint32_t* size) {
  if (key == kNoKey) return kRegBadKey;
  if (data && !size) return kRegInvalid;
  Store store;
  int32_t rc = load_store(store);
  if (rc != kRegOk) return rc;
  return query_in_store(store, ref_of(key)->path, name, type, data, size);
}

int32_t posix_set_value(RegKey key, const char* name, uint32_t type, const void* data,
                        uint32_t size) {
  if (key == kNoKey) return kRegBadKey;
  if (!data && size) return kRegInvalid;
  if (!storable_name(name)) return kRegInvalid;
  std::string wanted = name ? name : "";
  std::string bytes(static_cast<const char*>(data ? data : ""), size);
  const std::string& path = ref_of(key)->path;
  return update_store([&](Store& store) { return set_in_store(store, path, wanted, type, bytes); });
}

int32_t posix_close_key(RegKey key) {
  if (key == kNoKey) return kRegBadKey;
  delete ref_of(key);
  return kRegOk;
}

const RegistryOps kPosixOps = {posix_open_key, posix_create_key, posix_query_value, posix_set_value,
                               posix_close_key};

}  // namespace

const RegistryOps& native_registry_ops() {
  return kPosixOps;
}

std::string registry_store_path() {
  if (!g_host_store_path.empty()) return g_host_store_path;
  const char* env = std::getenv("RAZIZA3Z_REGISTRY");
  if (env && *env) return env;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/raziza3z/registry.reg";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share/raziza3z/registry.reg";
  return std::string();
}

void set_registry_store_path(const char* path) {
  g_host_store_path = path ? path : "";
}

// ---- the host's typed registry (raziza3z_host.h) ---------------------------

namespace {

int32_t host_query(int32_t root, const char* sub, const char* name, uint32_t* type, void* data,
                   uint32_t* size) {
  std::string path;
  if (full_path(root, sub, path) != kRegOk) return 1;
  Store store;
  if (load_store(store) != kRegOk) return -1;
  uint32_t capacity = size ? *size : 0;
  int32_t rc = query_in_store(store, path, name, type, data, &capacity);
  if (rc == kRegNotFound) return 1;
  if (size) *size = capacity;
  return rc == kRegMoreData ? 2 : 0;
}

int32_t host_set(int32_t root, const char* sub, const char* name, uint32_t type, const void* data,
                 uint32_t size) {
  std::string path;
  if (full_path(root, sub, path) != kRegOk || !storable_name(name) || (!data && size)) return -1;
  std::string wanted = name ? name : "";
  std::string bytes(static_cast<const char*>(data ? data : ""), size);
  int32_t rc =
      update_store([&](Store& store) { return set_in_store(store, path, wanted, type, bytes); });
  return rc == kRegOk ? 0 : -1;
}

int32_t host_delete_value(int32_t root, const char* sub, const char* name) {
  std::string path;
  if (full_path(root, sub, path) != kRegOk) return 1;
  std::string_view wanted = name ? name : "";
  bool existed = false;
  int32_t rc = update_store([&](Store& store) {
    Key* k = find_key(store, path);
    if (!k) return false;
    // Every copy of the name goes, so that no older one comes back.
    size_t before = k->values.size();
    std::erase_if(k->values, [&](const Value& v) { return same_name(v.name, wanted); });
    existed = k->values.size() != before;
    return existed;
  });
  if (rc != kRegOk) return -1;
  return existed ? 0 : 1;
}

int32_t host_delete_key(int32_t root, const char* sub, int32_t& outcome) {
  std::string path;
  if (full_path(root, sub, path) != kRegOk) return outcome = 1, kRegOk;
  if (same_name(path, root_path(root))) return outcome = 2, kRegOk;
  outcome = 1;
  return update_store([&](Store& store) {
    if (has_subkey(store, path)) {
      outcome = 2;
      return false;
    }
    Key* k = find_key(store, path);
    if (!k) return false;
    if (!k->values.empty()) {
      outcome = 2;
      return false;
    }
    std::erase_if(store.keys, [&](const Key& other) { return same_name(other.path, path); });
    outcome = 0;
    return true;
  });
}

}  // namespace

}  // namespace rz::plat

extern "C" RZ_API int32_t rz_host_set_registry_file(const char* path) {
  try {
    rz::plat::set_registry_store_path(path);
    return 0;
  } catch (...) {
    return -1;
  }
}

extern "C" RZ_API int32_t rz_host_reg_query(int32_t root, const char* key, const char* name,
                                            uint32_t* type, void* data, uint32_t* size) {
  try {
    return rz::plat::host_query(root, key, name, type, data, size);
  } catch (...) {
    return -1;
  }
}

extern "C" RZ_API int32_t rz_host_reg_set(int32_t root, const char* key, const char* name,
                                          uint32_t type, const void* data, uint32_t size) {
  try {
    return rz::plat::host_set(root, key, name, type, data, size);
  } catch (...) {
    return -1;
  }
}

extern "C" RZ_API int32_t rz_host_reg_delete_value(int32_t root, const char* key,
                                                   const char* name) {
  try {
    return rz::plat::host_delete_value(root, key, name);
  } catch (...) {
    return -1;
  }
}

extern "C" RZ_API int32_t rz_host_reg_delete_key(int32_t root, const char* key) {
  try {
    int32_t outcome = 1;
    return rz::plat::host_delete_key(root, key, outcome) == rz::plat::kRegOk ? outcome : -1;
  } catch (...) {
    return -1;
  }
}

extern "C" RZ_API uint32_t rz_host_registry_status(void) {
  return rz::plat::g_store_status.exchange(0, std::memory_order_relaxed);
}
