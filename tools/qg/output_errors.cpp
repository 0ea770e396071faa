#include "output_errors.h"

#include <errno.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <filesystem>
#else
#include <sys/statvfs.h>
#include <unistd.h>
#endif

#include <cstring>
#include <vector>

#include "archive_tools.h"

namespace qg {

namespace {

// The levels from the destination down to the folder that receives the
// file: the destination itself, then one path per stored or name folder.
std::vector<std::string> folder_levels(const std::string& destination, const EntryInfo& entry) {
  std::string below = std::string(entry.directory) + "\\" + entry.name;
  below = below.substr(0, below.find_last_of("\\/") + 1);
  std::vector<std::string> levels{destination};
  std::string at = destination;
  size_t start = 0;
  while (start < below.size()) {
    size_t end = below.find_first_of("\\/", start);
    std::string part = below.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    at += "/" + part;
    levels.push_back(at);
  }
  return levels;
}

std::string system_reason(int error) {
  return std::strerror(error);
}

// Whether files can be made in `folder` (errno says why not).  Windows'
// access() knows no execute bit: asking for it fails with EINVAL.
bool folder_writable(const std::string& folder) {
#ifdef _WIN32
  return ::_access(folder.c_str(), 2) == 0;
#else
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
#endif
}

// Whether the file system that holds `folder` has no room left.
bool disk_full(const std::string& folder) {
#ifdef _WIN32
  std::error_code ec;
  std::filesystem::space_info fs = std::filesystem::space(folder, ec);
  return !ec && fs.available == 0;
#else
  struct statvfs fs;
  return ::statvfs(folder.c_str(), &fs) == 0 && fs.f_bavail == 0;
#endif
}

// The first level that is not a directory: a file in the way, or a missing
// one whose parent does not let it be made.
std::string folder_reason(const std::vector<std::string>& levels) {
  for (size_t i = 0; i < levels.size(); ++i) {
    struct stat st;
    if (::stat(levels[i].c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      return printable(levels[i]) + ": " + system_reason(ENOTDIR);
    }
    if (errno != ENOENT) return printable(levels[i]) + ": " + system_reason(errno);
    if (i > 0 && !folder_writable(levels[i - 1]))
      return printable(levels[i - 1]) + ": " + system_reason(errno);
    return printable(levels[i]) + ": " + system_reason(ENOENT);
  }
  return "";
}

// Why the file cannot be made in `folder`: a directory of that name, a
// read-only file there, or a folder that does not let files be made.
std::string file_reason(const std::string& folder, const std::string& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return printable(file) + ": " + system_reason(EISDIR);
    if ((st.st_mode & 0222) == 0) return printable(file) + ": the existing file is read-only";
  }
  if (!folder_writable(folder)) return printable(folder) + ": " + system_reason(errno);
  return "";
}

}  // namespace

std::string output_error_reason(int32_t code, const std::string& destination,
                                const EntryInfo& entry) {
  std::vector<std::string> levels = folder_levels(destination, entry);
  const std::string& folder = levels.back();
  std::string name = entry.name;
  std::string file = folder + "/" + name.substr(name.find_last_of("\\/") + 1);
  switch (code) {
    case 7:
      return folder_reason(levels);
    case 15: {
      std::string why = folder_reason(levels);
      return why.empty() ? file_reason(folder, file) : why;
    }
    case 20: {
      // A write that stops short is nearly always a full disk or quota.
      return disk_full(folder) ? system_reason(ENOSPC) : "";
    }
    default:
      return "";
  }
}

}  // namespace qg
