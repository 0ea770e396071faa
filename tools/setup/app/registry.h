// The registry store as the setup program uses it: typed reads and writes
// of single values, so that every value the installation changes can be put
// back exactly as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

// Value types (the registry's own numbers).
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;

struct RegValue {
  bool present = false;
  uint32_t type = 0;
  std::string data;  // raw bytes
};

// Reads a value: 0 (present or not, in *out), -1 when the store cannot be read.
int reg_read(int32_t root, const std::string& key, const std::string& name, RegValue* out);
// Writes a value (present) or deletes it (absent): 0 or -1.
int reg_restore(int32_t root, const std::string& key, const std::string& name,
                const RegValue& value);
// Puts a value back as it was: nothing is written when it already is (so
// undoing a change that never landed needs no writable store).  0 or -1.
int reg_put_back(int32_t root, const std::string& key, const std::string& name,
                 const RegValue& old);
// 1 when the key exists, 0 when not.
int reg_key_exists(int32_t root, const std::string& key);
// Deletes a key when it is empty: 0 deleted or absent, 1 not empty, -1 failed.
int reg_delete_key_if_empty(int32_t root, const std::string& key);
// The raw bytes of a REG_SZ value holding text (UTF-8, or UTF-16LE in the
// Windows registry, with its terminating NUL), and the text of such bytes.
std::string reg_text(const std::string& text);
std::string reg_text_of(const RegValue& value);
// The products with an uninstall entry under root.
void reg_installed_products(int32_t root, std::vector<std::string>* products);
// The store's file, found as the library finds it ("" for the system's
// registry).
std::string reg_store_path();
// Makes the library use this store file from now on.
void reg_use_store(const std::string& path);

// True when the store reported a write failure or bad lines since the last call.
bool reg_store_failed();

}  // namespace setup
