// Whole-file reads and locked, atomic rewrites for the small text stores of
// the POSIX backend (profile files, the registry store, shortcut files).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rz::plat {

// What identifies one state of a file: its inode, its size and its
// modification and change times to the nanosecond.
struct FileStamp {
  uint64_t device = 0, inode = 0;
  int64_t size = -1, modified_ns = 0, changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
  // False where the file system keeps whole seconds only (both times end in
  // zero nanoseconds): such a stamp cannot tell two states of a second apart.
  bool fine() const { return modified_ns % 1000000000 != 0 || changed_ns % 1000000000 != 0; }
};

// The stamp of the file at path: 0, 1 when it does not exist, -1 on failure.
int store_stamp(const std::string& path, FileStamp& stamp);
// Reads the whole file like store_read, with the stamp of the descriptor
// taken before the read.
int store_read_stamped(const std::string& path, std::string& out, FileStamp& stamp);
// The wall clock in nanoseconds, the clock that file times are taken from.
int64_t store_clock_ns();

// Reads the whole file at a native path into out.  Returns 0 when read, 1 when
// the file does not exist (out empty), -1 on any other failure.
int store_read(const std::string& path, std::string& out);

// What an edit asks of store_update.
enum class StoreEdit { keep, replace, abort };

// Runs edit on the current contents of the file (empty when it does not
// exist) while holding an exclusive lock on it, then, when edit answers
// replace, writes the new contents to a temporary file in the same folder,
// flushes it and renames it over the file.  Readers therefore see the old or
// the new file, never a mixture, and two processes that update the same file
// at once are serialised, so neither loses the other's change.  A file that
// did not exist and is not written is not left behind.
// Returns 0 when done (kept or replaced), 1 when edit aborted, -1 on a
// failure of the file system (the file is then unchanged).
int store_update(const std::string& path, const std::function<StoreEdit(std::string&)>& edit);

// Writes data as the new contents of path atomically (temporary file and
// rename), without the lock.  Returns 0 or -1.
int store_replace(const std::string& path, const std::string& data);

// Names of sections, keys and values compare without regard to ASCII case,
// as the Windows profile calls and the registry do.
bool same_name(std::string_view a, std::string_view b);

// Creates the folders above path that are missing.  Returns 0 or -1.
int store_make_parents(const std::string& path);

}  // namespace rz::plat
