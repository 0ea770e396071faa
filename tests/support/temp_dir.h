// Test helpers: a private temporary directory and small file utilities.
#pragma once

#if defined(_WIN32)
#include <process.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace rztest {

class TempDir {
 public:
  TempDir() {
#if defined(_WIN32)
    // Under the user's temporary folder (GetTempPath); create_directory
    // reports whether it made the folder, so a name taken by another
    // process is passed over.
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    static unsigned made = 0;
    for (unsigned i = 0; i < 1000 && path_.empty() && !ec; ++i) {
      std::filesystem::path p =
          base / ("rztest." + std::to_string(::_getpid()) + "." + std::to_string(++made));
      if (std::filesystem::create_directory(p, ec)) path_ = p.string();
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "rztest.XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
#endif
  }
  ~TempDir() {
    std::error_code ec;
    // Read-only files and folders made by a test must not stop the clean-up.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::end(it); it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const {
    return path_;
  }
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void write_text(const std::string& path, const std::string& text) {
  write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

// The file's modification time in local time, whole seconds; a zeroed tm
// when the file cannot be read.
inline std::tm local_mtime(const std::string& path) {
  std::tm t{};
  std::error_code ec;
  auto written = std::filesystem::last_write_time(path, ec);
  if (ec) return t;
  auto seconds = std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(written));
  std::time_t when = static_cast<std::time_t>(seconds.time_since_epoch().count());
#if defined(_WIN32)
  if (localtime_s(&t, &when) != 0) t = std::tm{};
#else
  if (!localtime_r(&when, &t)) t = std::tm{};
#endif
  return t;
}

// Nobody may write the file: no write permission on POSIX, the read-only
// attribute on Windows (which the run-time library shows as permissions).
inline bool is_read_only(const std::string& path) {
  namespace fs = std::filesystem;
  constexpr fs::perms kWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  std::error_code ec;
  fs::perms p = fs::status(path, ec).permissions();
  return !ec && (p & kWrite) == fs::perms::none;
}

// Makes the file read-only for everyone (mode 0444; on Windows the
// read-only attribute).  Returns true when done.
inline bool make_read_only(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                  fs::perm_options::replace, ec);
  return !ec;
}

}  // namespace rztest
