// The install record kept in the target (.qg-setup/record): everything the
// installation made, so that uninstalling removes exactly that.  One line of
// escaped fields per item, in the order the items were made:
//   qg-setup-record 1
//   product NAME VERSION PUBLISHER
//   target PATH
//   store PATH                       the registry store the installation wrote
//   uninstall-key ROOT KEY           the uninstall entry in the registry store
//   preuninstall DIR ARG...          a command run before uninstalling
//   dir PATH                         a directory it created
//   file PATH SIZE CRC32             a file of the payload (CRC-32 in hex)
//   link PATH TARGET                 a symbolic link of the payload
//   shortcut PATH SIZE CRC32
//   download PATH SIZE CRC32
//   program PATH                     the uninstaller
//   reg ROOT KEY NAME absent|TYPE HEX    a value it wrote, with its old value
//   regkey ROOT KEY                  a registry key it created
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fields.h"

namespace setup {

struct InstallRecord {
  std::string product, version, publisher, target, store;
  int32_t uninstall_root = 0;
  std::string uninstall_key;
  std::string preuninstall_dir;
  std::vector<std::string> preuninstall;
  std::vector<Fields> items;  // dir, file, link, shortcut, download, program, reg, regkey
};

// Writes the record to path through a temporary file renamed into place.
int write_record(const std::string& path, const InstallRecord& record);
// Reads a record; false when it is missing or not a record.
bool read_record(const std::string& path, InstallRecord* out);

// The CRC-32 of a file (through the library's SFXSIG for files below 2 GiB);
// false when it cannot be read or is too large.
bool file_crc32(const std::string& path, uint64_t size, uint32_t* crc);

// Hex text of a CRC-32, and back.
std::string crc_text(uint32_t crc);
bool parse_crc(const std::string& text, uint32_t* crc);

}  // namespace setup
