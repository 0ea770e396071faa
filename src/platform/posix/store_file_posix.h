// Whole-file reads and locked, atomic rewrites for the small text stores of
// the POSIX backend (profile files, the registry store, shortcut files).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace rz::plat {

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
