// A temporary folder made for one test and removed with everything in it.
#pragma once

#if defined(_WIN32)
#include <process.h>
#else
#include <stdlib.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace rz_test {

class TempDir {
 public:
  TempDir() {
#if defined(_WIN32)
    // Under the user's temporary folder; create_directory reports whether it
    // made the folder, so a name another process holds is passed over.
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    static unsigned made = 0;
    for (unsigned i = 0; i < 1000 && path_.empty() && !ec; ++i) {
      std::filesystem::path p =
          base / ("rzscript." + std::to_string(::_getpid()) + "." + std::to_string(++made));
      if (std::filesystem::create_directory(p, ec)) path_ = p.string();
    }
#else
    std::string tmpl = (std::filesystem::temp_directory_path() / "rzscript.XXXXXX").string();
    char* made = ::mkdtemp(tmpl.data());
    if (made) path_ = made;
#endif
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const {
    return !path_.empty();
  }
  const std::string& path() const {
    return path_;
  }
  std::string file(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace rz_test
