// The registry store on POSIX: the library's REGEDIT4 file, through the
// typed access the host header gives.
#include <cstdlib>
#include <vector>

#include "../fields.h"
#include "../registry.h"
#include "raziza3z.h"
#include "raziza3z_host.h"

namespace setup {

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
  if (!reg_key_exists(root, key)) return 0;
  int32_t r = rz_host_reg_delete_key(root, key.c_str());
  if (r == 0 || r == 1) return 0;
  return r == 2 ? 1 : -1;
}

std::string reg_text(const std::string& text) {
  return text + std::string(1, '\0');
}

std::string reg_text_of(const RegValue& value) {
  return std::string(value.data.c_str());
}

void reg_installed_products(int32_t root, std::vector<std::string>* products) {
  std::vector<std::string> lines;
  read_lines(reg_store_path(), &lines);
  const std::string head =
      root == RZ_ROOT_CURRENT_USER ? "[HKEY_CURRENT_USER\\" : "[HKEY_LOCAL_MACHINE\\";
  const std::string sub = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  for (std::string line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < head.size() + sub.size() + 2 || line.back() != ']') continue;
    if (line.compare(0, head.size(), head) || line.compare(head.size(), sub.size(), sub)) continue;
    std::string product = line.substr(head.size() + sub.size());
    product.pop_back();
    if (product.find('\\') == std::string::npos) products->push_back(product);
  }
}

std::string reg_store_path() {
  const char* env = std::getenv("RAZIZA3Z_REGISTRY");
  if (env && *env) return env;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/raziza3z/registry.reg";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share/raziza3z/registry.reg";
  return "";
}

void reg_use_store(const std::string& path) {
  rz_host_set_registry_file(path.c_str());
}

bool reg_store_failed() {
  return rz_host_registry_status() != 0;
}

}  // namespace setup
