// What the archive format cannot keep, restored from the setup data after
// extraction: permission bits (under the user's umask), symbolic links,
// empty directories and modification times to the second.
//
// Every operation works below an open directory (the destination's root)
// and walks the item's path one component at a time without following
// links, so nothing is ever created or changed outside that directory, even
// when the destination already holds links.  Links are made with symlinkat
// and are never followed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "setup_data.h"

namespace qgsetup {

struct MetadataHooks {
  // Called just before a directory or a link is created (not when it
  // already exists), so that a caller can journal it first.  A non-zero
  // result stops the operation with that result.
  std::function<int(const PayloadItem& item)> before_create;
  // Problems that do not stop the rest (one item that could not be set).
  std::function<void(const std::string& message)> warn;
};

#ifndef _WIN32
// Before extraction: every directory of the payload that is missing under
// root_fd is created (mode 0700 until apply_payload_metadata sets its own).
// An existing directory is kept; anything else in its place is an error.
// Returns 0, or 1 with *error, or a non-zero result of before_create.
int create_payload_directories(int root_fd, const SetupData& data, const MetadataHooks& hooks,
                               std::string* error);

// After extraction: creates the links (an existing link with the same target
// is kept; anything else in a link's place is an error, never replaced), sets
// every file's and directory's mode to (recorded mode & ~umask), and every
// item's modification time; directories last, deepest first, so that
// their times stay.  Items after a failed one are still done.  Returns 0, or
// 1 with the first problem in *error (the others go to hooks.warn), or a
// non-zero result of before_create.
int apply_payload_metadata(int root_fd, const SetupData& data, uint32_t umask,
                           const MetadataHooks& hooks, std::string* error);

// The per-item steps, for callers that journal or order items themselves.
int create_payload_directory(int root_fd, const PayloadItem& item, std::string* error);
int create_payload_link(int root_fd, const PayloadItem& item, std::string* error);
int set_item_mode_and_time(int root_fd, const PayloadItem& item, uint32_t umask,
                           std::string* error);

#else
// Windows: the same steps below the root folder's name.  A reparse point
// (junction or link) on the way is refused; there are no modes to set, and
// links are left to the caller.
int create_payload_directory(const std::string& root, const PayloadItem& item,
                             const MetadataHooks& hooks, std::string* error);
int create_payload_directories(const std::string& root, const SetupData& data,
                               const MetadataHooks& hooks, std::string* error);
int apply_payload_metadata(const std::string& root, const SetupData& data, uint32_t umask,
                           const MetadataHooks& hooks, std::string* error);
#endif

// The process's umask, read without changing it for longer than the call.
uint32_t current_umask();

// The archive entry name and stored directory of a payload path: "a/b/c"
// gives directory "\a\b" and name "c"; "c" gives "" and "c".
void entry_location(const std::string& path, std::string* directory, std::string* name);

// The file item that archive entry `entry` holds, or nullptr.
const PayloadItem* item_for_entry(const SetupData& data, uint32_t entry);

}  // namespace qgsetup
