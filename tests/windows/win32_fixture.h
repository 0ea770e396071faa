// Helpers of the Win32 suite: a private folder under the user's temporary
// folder, and small file utilities over the Windows API.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

namespace rzwin {

// A fresh folder, removed with everything in it (read-only files included)
// when the test ends.
class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH];
    DWORD n = ::GetTempPathA(MAX_PATH, base);
    if (n == 0 || n >= MAX_PATH) return;
    for (unsigned i = 0; i < 1000 && path_.empty(); ++i) {
      std::string p = std::string(base) + "rzwin." + std::to_string(::GetCurrentProcessId()) + "." +
                      std::to_string(::GetTickCount() + i);
      if (::CreateDirectoryA(p.c_str(), nullptr)) path_ = p;
    }
  }
  ~TempDir() {
    if (!path_.empty()) remove_tree(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }

  static void remove_tree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        std::string p = dir + "\\" + name;
        ::SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          remove_tree(p);
        else
          ::DeleteFileA(p.c_str());
      } while (::FindNextFileA(h, &found));
      ::FindClose(h);
    }
    ::RemoveDirectoryA(dir.c_str());
  }

 private:
  std::string path_;
};

inline bool write_file(const std::string& path, const std::string& bytes) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  ::CloseHandle(h);
  return ok && put == bytes.size();
}

inline std::string read_file(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out;
  char buf[4096];
  DWORD got = 0;
  while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  ::CloseHandle(h);
  return out;
}

// The folder of the running test program.
inline std::string program_dir() {
  char p[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(nullptr, p, MAX_PATH);
  std::string s(p, n);
  size_t cut = s.find_last_of("\\/");
  return cut == std::string::npos ? "." : s.substr(0, cut);
}

}  // namespace rzwin
