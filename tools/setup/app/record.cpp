#include "record.h"

#include "sys.h"

#include <cerrno>
#include <cstdio>

#include "raziza3z.h"

namespace setup {

std::string crc_text(uint32_t crc) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", crc);
  return buf;
}

bool parse_crc(const std::string& text, uint32_t* crc) {
  std::string bytes;
  if (text.size() != 8 || !from_hex(text, &bytes)) return false;
  *crc = 0;
  for (char c : bytes) *crc = (*crc << 8) | static_cast<unsigned char>(c);
  return true;
}

bool file_crc32(const std::string& path, uint64_t size, uint32_t* crc) {
  if (size > 0x7fffffffu) return false;
  // SFXSIG gives the CRC register before its final inversion, 0 when the
  // file cannot be opened (which a real register value can also be: a file
  // that cannot be opened is caught by the caller's size check).
  *crc = ~SFXSIG(path.c_str(), static_cast<int32_t>(size));
  return true;
}

int write_record(const std::string& path, const InstallRecord& r) {
  std::string text = "qg-setup-record 1\n";
  text += join_fields({"product", r.product, r.version, r.publisher});
  text += join_fields({"target", r.target});
  if (!r.store.empty()) text += join_fields({"store", r.store});
  if (!r.uninstall_key.empty())
    text += join_fields(
        {"uninstall-key", num(static_cast<uint64_t>(r.uninstall_root)), r.uninstall_key});
  if (!r.preuninstall.empty()) {
    Fields f = {"preuninstall", r.preuninstall_dir};
    f.insert(f.end(), r.preuninstall.begin(), r.preuninstall.end());
    text += join_fields(f);
  }
  for (const Fields& item : r.items) text += join_fields(item);
  std::string tmp = path + ".new";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | sys::kOpenPrivate, 0644);
  if (fd < 0) return -1;
  bool ok = write_all(fd, text);
  ok = sys::sync_fd(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || sys::rename_replace(tmp, path) != 0) {
    ::unlink(tmp.c_str());
    return -1;
  }
  return 0;
}

bool read_record(const std::string& path, InstallRecord* out) {
  std::vector<std::string> lines;
  if (!read_lines(path, &lines) || lines.empty() || lines[0] != "qg-setup-record 1") return false;
  *out = InstallRecord{};
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    Fields f;
    if (!split_fields(line, &f) || f.empty()) return false;
    uint64_t root = 0;
    if (f[0] == "product" && f.size() == 4) {
      out->product = f[1];
      out->version = f[2];
      out->publisher = f[3];
    } else if (f[0] == "target" && f.size() == 2) {
      out->target = f[1];
    } else if (f[0] == "store" && f.size() == 2) {
      out->store = f[1];
    } else if (f[0] == "uninstall-key" && f.size() == 3 && parse_num(f[1], &root) && root <= 5) {
      out->uninstall_root = static_cast<int32_t>(root);
      out->uninstall_key = f[2];
    } else if (f[0] == "preuninstall" && f.size() >= 3) {
      out->preuninstall_dir = f[1];
      out->preuninstall.assign(f.begin() + 2, f.end());
    } else {
      out->items.push_back(f);
    }
  }
  return !out->target.empty();
}

}  // namespace setup
