// The registry on POSIX: one text file in the registry editor's export
// format (registry_store_posix.cpp describes it), so that a person can read
// it and Windows can import it.  Key and value names are matched without
// regard to ASCII case and keep the spelling of their first writer.  The
// classes root lives under HKEY_LOCAL_MACHINE\SOFTWARE\Classes, where Windows
// keeps it.
//
// Every change reads the file, edits it and replaces it atomically while it
// holds the file's lock (store_lock), so concurrent writers in several
// processes lose nothing and a reader never sees half a file.  A batch
// (reg_batch_begin/end, one WRITEREG call) holds the lock from its first
// change to its end and replaces the file once for all its changes.  A file
// that is not a store is never overwritten.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/registry_store_posix.h"
#include "platform/posix/store_file_posix.h"
#include "platform/registry.h"
#include "raziza3z_host.h"

namespace rz::plat {

namespace {

using Key = StoreKey;
using Value = StoreValue;
using Store = RegStore;

// An open key: its full path below a predefined key, as the caller gave it.
struct KeyRef {
  std::string path;
};

std::string g_host_store_path;  // set by the host through raziza3z_host.h
// What the store met since the host last asked (rz_host_registry_status).
std::atomic<uint32_t> g_store_status{0};

void note_status(uint32_t bits) {
  g_store_status.fetch_or(bits, std::memory_order_relaxed);
}

// The batch of the running WRITEREG: the store held under its lock from the
// first change on, and whether it changed.  Script services run on the
// host's thread, one at a time, so one record serves.
struct Batch {
  int depth = 0;
  bool locked = false, failed = false, dirty = false;
  StoreLock lock;
  Store store;
};
Batch g_batch;

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

// In these helpers paths and names are as the store holds them (Store::text).
std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

Key* find_key(Store& store, std::string_view path) {
  if (!store.key_index_ready) {
    store.key_index.clear();
    for (size_t i = 0; i < store.keys.size(); ++i)
      if (!store.keys[i].kept) store.key_index.emplace(lower_ascii(store.keys[i].path), i);
    store.key_index_ready = true;
  }
  auto at = store.key_index.find(lower_ascii(path));
  return at == store.key_index.end() ? nullptr : &store.keys[at->second];
}

// A key below path (its subkey), listed in the store.
bool has_subkey(const Store& store, std::string_view path) {
  for (const Key& k : store.keys)
    if (!k.kept && k.path.size() > path.size() && k.path[path.size()] == '\\' &&
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
    Key k;
    k.path = prefix;
    store.keys.push_back(std::move(k));
    if (store.key_index_ready) store.key_index.emplace(lower_ascii(prefix), store.keys.size() - 1);
    added = true;
  }
  return added;
}

// Parses the file's bytes; a store with malformed lines is noted.
bool parse_noting(const std::string& text, Store& store) {
  if (!parse_store(text, store)) return false;
  if (store.bad_lines > 0) note_status(RZ_STORE_BAD_LINES);
  return true;
}

// The store to read: the batch's while it holds the lock, else the file
// read afresh into scratch.
int32_t read_store(Store& scratch, Store*& store) {
  if (g_batch.locked) {
    store = &g_batch.store;
    return kRegOk;
  }
  store = &scratch;
  std::string path = registry_store_path();
  if (path.empty()) return kRegBadStore;
  std::string text;
  if (store_read(path, text) < 0) return kRegBadStore;
  return parse_noting(text, scratch) ? kRegOk : kRegBadStore;
}

// Takes the store's lock for the batch at its first change.  A store that
// cannot be locked or is no store fails every change of the batch, as it
// would fail each of them on its own.
void lock_batch() {
  if (g_batch.locked || g_batch.failed) return;
  std::string path = registry_store_path(), text;
  g_batch.failed =
      path.empty() || store_make_parents(path) != 0 || store_lock(path, g_batch.lock, text) != 0;
  if (g_batch.failed) return;
  g_batch.locked = true;
  if (!parse_noting(text, g_batch.store)) {
    g_batch.failed = true;
    g_batch.locked = false;
    store_unlock(g_batch.lock);
  }
}

// Runs change on the store under the file's lock and writes the result when
// change reports a change: at once, or at the end of the running batch.
template <typename Change>
int32_t update_store(Change change) {
  if (g_batch.depth > 0) {
    lock_batch();
    if (g_batch.failed) {
      note_status(RZ_STORE_WRITE_FAILED);
      return kRegWriteFailed;
    }
    if (change(g_batch.store)) g_batch.dirty = true;
    return kRegOk;
  }
  std::string path = registry_store_path();
  if (path.empty() || store_make_parents(path) != 0) {
    note_status(RZ_STORE_WRITE_FAILED);
    return kRegWriteFailed;
  }
  int32_t result = kRegOk;
  int rc = store_update(path, [&](std::string& text) {
    Store store;
    if (!parse_noting(text, store)) {
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
  Store scratch, *store = nullptr;
  if ((rc = read_store(scratch, store)) != kRegOk) return rc;
  if (!key_exists(*store, root, store->text(path))) return kRegNotFound;
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
    rc = update_store([&](Store& store) { return add_key_chain(store, store.text(path)); });
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
      if (!v.kept && same_name(v.name, name)) found = &v;
  }
  return found;
}

bool is_text_type(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// RegQueryValueExA over the value at the caller's path: the type, the size,
// and the data when data is given and *size holds it.
int32_t query_in_store(Store& store, const std::string& path, const char* name, uint32_t* type,
                       void* data, uint32_t* size) {
  const Value* found = find_value(store, store.text(path), store.text(name ? name : ""));
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

// Sets name in the key at the caller's path (listing the key and the keys
// above it).  Returns true when the store changed.
bool set_in_store(Store& store, const std::string& caller_path, const std::string& caller_name,
                  uint32_t type, const std::string& caller_bytes) {
  std::string path = store.text(caller_path), name = store.text(caller_name);
  std::string bytes = is_text_type(type) ? store.text(caller_bytes) : caller_bytes;
  bool added = add_key_chain(store, path);
  if (Value* v = find_value(store, path, name)) {
    if (v->type == type && v->data == bytes && !v->verbatim) return added;
    v->type = type;
    v->data = bytes;
    v->verbatim = false;
    return true;
  }
  Value v;
  v.name = name;
  v.type = type;
  v.data = bytes;
  find_key(store, path)->values.push_back(std::move(v));
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
  Store scratch, *store = nullptr;
  int32_t rc = read_store(scratch, store);
  if (rc != kRegOk) return rc;
  return query_in_store(*store, ref_of(key)->path, name, type, data, size);
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

void reg_batch_begin() {
  ++g_batch.depth;
}

int32_t reg_batch_end() {
  if (g_batch.depth == 0 || --g_batch.depth > 0) return kRegOk;
  int32_t rc = kRegOk;
  if (g_batch.locked && g_batch.dirty &&
      store_commit(g_batch.lock, format_store(g_batch.store)) != 0)
    rc = kRegWriteFailed;
  if (g_batch.locked) store_unlock(g_batch.lock);
  if (g_batch.failed) rc = kRegWriteFailed;
  if (rc != kRegOk) note_status(RZ_STORE_WRITE_FAILED);
  g_batch = Batch();
  return rc;
}

// ---- the host's typed registry (raziza3z_host.h) ---------------------------

namespace {

int32_t host_query(int32_t root, const char* sub, const char* name, uint32_t* type, void* data,
                   uint32_t* size) {
  std::string path;
  if (full_path(root, sub, path) != kRegOk) return 1;
  Store scratch, *store = nullptr;
  if (read_store(scratch, store) != kRegOk) return -1;
  uint32_t capacity = size ? *size : 0;
  int32_t rc = query_in_store(*store, path, name, type, data, &capacity);
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
  bool existed = false;
  int32_t rc = update_store([&](Store& store) {
    Key* k = find_key(store, store.text(path));
    if (!k) return false;
    // Every copy of the name goes, so that no older one comes back.
    std::string wanted = store.text(name ? name : "");
    size_t before = k->values.size();
    std::erase_if(k->values, [&](const Value& v) { return !v.kept && same_name(v.name, wanted); });
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
    std::string held = store.text(path);
    if (has_subkey(store, held)) {
      outcome = 2;
      return false;
    }
    Key* k = find_key(store, held);
    if (!k) return false;
    // Values, and lines kept from a hand edit, make a key that is not empty.
    if (!k->values.empty()) {
      outcome = 2;
      return false;
    }
    std::erase_if(store.keys,
                  [&](const Key& other) { return !other.kept && same_name(other.path, held); });
    store.key_index_ready = false;
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
