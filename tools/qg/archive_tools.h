// Helpers shared by the qg subcommands that read archives.
#pragma once

#include <cstdint>
#include <string>

#include "raziza3z.h"

namespace qg {

// Offset of the first entry of `path`: 0 when the file begins with an entry,
// else the first place from which a consistent chain of entries runs to the
// end of the file (an archive appended to a program).  Returns 0 or 1.
int find_first_entry(const std::string& path, uint32_t* offset);

// Parses "--offset" text: "auto" or a number.  Returns 0 or 1.
int resolve_offset(const std::string& path, const std::string& text, uint32_t* offset);

// Where a walk over an archive starts.
struct WalkStart {
  uint32_t offset = 0;
  bool automatic = false;       // found by the search, not given
  bool entry_required = false;  // an end of archive at the start is an error
};

// Checks that the archive can be read and resolves --offset.  Returns 0, or
// an exit status after printing why.
int start_walk(const std::string& path, const std::string& offset_text, WalkStart* start);

// The error for a walk that found no entry where it started; returns the
// exit status.
int nothing_at_start(const std::string& path, const WalkStart& start);

// The text with control characters shown as \xHH, so that a name from an
// archive cannot move the cursor or rewrite the screen.
std::string printable(const std::string& text);

// Message for a result code of QEN_NEXTLOOP.
std::string nextloop_message(int32_t code);

// Message for a result code of QEN_UNPACK.
std::string unpack_message(int32_t code);

// False for a name that could leave the destination: empty, absolute, with
// a drive, or with a ".." component.
bool entry_name_is_safe(const std::string& name);

// Length of a file, or -1.
long long file_size(const std::string& path);

// "YYYY-MM-DD HH:MM:SS" of an entry header, with the seconds rule applied.
std::string entry_time_text(const EntryHeader& h);

// Attribute letters (R, H, S, A) of an attribute word.
std::string attribute_text(uint16_t attributes);

}  // namespace qg
