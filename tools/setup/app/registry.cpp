#include "registry.h"

namespace setup {

int reg_put_back(int32_t root, const std::string& key, const std::string& name,
                 const RegValue& old) {
  RegValue now;
  if (reg_read(root, key, name, &now) == 0 && now.present == old.present &&
      (!old.present || (now.type == old.type && now.data == old.data)))
    return 0;
  return reg_restore(root, key, name, old);
}

}  // namespace setup
