#include "registry.h"

#include <vector>

#include "raziza3z.h"
#include "raziza3z_host.h"

namespace setup {

#if defined(RZ_REG_SZ)

int reg_read(int32_t root, const std::string& key, const std::string& name, RegValue* out) {
  std::vector<char> buf(256);
  for (;;) {
    uint32_t type = 0;
    uint32_t size = static_cast<uint32_t>(buf.size());
    int32_t r = rz_host_reg_query(root, key.c_str(), name.c_str(), &type, buf.data(), &size);
    if (r == 1) {
      *out = RegValue{};
      return 0;
    }
    if (r == 2 && size > buf.size() && size < (64u << 20)) {
      buf.resize(size);
      continue;
    }
    if (r != 0 || size > buf.size()) return -1;
    out->present = true;
    out->type = type;
    out->data.assign(buf.data(), size);
    return 0;
  }
}

int reg_restore(int32_t root, const std::string& key, const std::string& name,
                const RegValue& value) {
  if (!value.present)
    return rz_host_reg_delete_value(root, key.c_str(), name.c_str()) >= 0 ? 0 : -1;
  return rz_host_reg_set(root, key.c_str(), name.c_str(), value.type, value.data.data(),
                         static_cast<uint32_t>(value.data.size())) == 0
             ? 0
             : -1;
}

int reg_key_exists(int32_t root, const std::string& key) {
  // GETREG with an empty name answers 1 exactly when the key exists.
  char result[128];
  return GETREG(root, key.c_str(), "", result, 0) == 1 ? 1 : 0;
}

int reg_delete_key_if_empty(int32_t root, const std::string& key) {
  int32_t r = rz_host_reg_delete_key(root, key.c_str());
  if (r == 0 || r == 1) return 0;
  return r == 2 ? 1 : -1;
}

bool reg_store_failed() {
  return rz_host_registry_status() != 0;
}

#else

// Until the library exports typed registry access, no value can be put back
// exactly: every registry step reports failure, so the installation stops
// and rolls back instead of writing what it could not undo.
int reg_read(int32_t, const std::string&, const std::string&, RegValue*) {
  return -1;
}
int reg_restore(int32_t, const std::string&, const std::string&, const RegValue&) {
  return -1;
}
int reg_key_exists(int32_t root, const std::string& key) {
  char result[128];
  return GETREG(root, key.c_str(), "", result, 0) == 1 ? 1 : 0;
}
int reg_delete_key_if_empty(int32_t, const std::string&) {
  return -1;
}
bool reg_store_failed() {
  return false;
}

#endif

}  // namespace setup
