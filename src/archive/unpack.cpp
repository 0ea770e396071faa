// QEN_UNPACK: extracts the entry that the last QEN_NEXTLOOP positioned on.
//
// A new output file is created under its own name, exclusively; over an
// existing file the entry is decoded into a temporary file beside it, which
// replaces the output file only once the entry has decoded completely and
// its CRC-32 matched.  Either way a failed extraction removes what it made
// and never costs an existing file.
//
// Below the host's destination every level is reached by directory handle
// from the level above (the platform's open_beneath), and the temporary
// file is created exclusively under a name nobody can guess: a link placed
// in the tree cannot carry the output, or a directory made for it, out of
// the destination.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/decrypt.h"
#include "archive/format.h"
#include "archive/source.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "frame/extract_state.h"
#include "frame/messages.h"
#include "frame/progress.h"
#include "raziza3z.h"

namespace rz {

namespace {

constexpr uint32_t kChunkSize = 1024;
constexpr uint32_t kChunksPerReport = 64;
// Chunks are gathered into one write per progress group: fewer system calls,
// same bytes, same order.
constexpr uint32_t kWriteBuffer = kChunkSize * kChunksPerReport;

// Room for a temporary file's name: the output name's first bytes, random
// digits and ".tmp" stay within the usual 255-byte limit of a name.
constexpr size_t kTempNameRoom = 256;
constexpr size_t kTempStemLength = 200;
// The least the first read of an entry takes: header and short texts of an
// entry the walk did not read.
constexpr uint32_t kFirstRead = 1024;

struct UnpackCall {
  const char* name;
  uint32_t options;
  EntryHeader header{};
  std::string directory;    // the entry's stored directory
  std::string base;         // the host's destination: the root of the output
  std::string below;        // stored directory (when used) below the root
  std::string destination;  // base + below + backslash, for the texts shown
  std::string output_path;
  std::string leaf;                        // the output file's own name
  plat::DirHandle out_dir = plat::kNoDir;  // the folder that holds it
  bool out_dir_kept = false;               // out_dir belongs to the kept folder
  char temp_name[kTempNameRoom] = {};      // the temporary file over an existing one
  std::string writing;                     // the file being written; empty until created
};

// Ends the call after the archive was opened: clean-up, and the temporary
// file removed unless it became the output file.
int32_t finish(UnpackCall& c, int32_t code) {
  entry_cleanup();
  if (!c.writing.empty()) {
    plat::dir_remove(c.out_dir, c.writing.c_str());
    c.writing.clear();
  }
  if (c.out_dir != plat::kNoDir) {
    if (!c.out_dir_kept) plat::dir_close(c.out_dir);
    c.out_dir = plat::kNoDir;
  }
  return code;
}

bool is_separator(char ch) {
  return ch == '\\' || ch == '/';
}

// A stored directory must stay inside the destination: it begins with a
// separator (it is appended without one, so "sub" would name the sibling
// folder "<destination>sub"), and has no ".." component, no drive and no
// leading double separator.
bool directory_escapes(const std::string& dir) {
  if (!dir.empty() && !is_separator(dir[0])) return true;
  if (dir.size() >= 2 && is_separator(dir[0]) && is_separator(dir[1])) return true;
  if (dir.find(':') != std::string::npos) return true;
  size_t start = 0;
  while (start <= dir.size()) {
    size_t end = start;
    while (end < dir.size() && !is_separator(dir[end])) ++end;
    if (dir.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

// n bytes at offset `at` behind the signature: from the first read when it
// holds them, else from the file.  0, or -1 when the entry is cut short.
int take_entry_bytes(uint32_t got, uint64_t at, void* out, uint32_t n) {
  ExtractState& s = extract_state();
  if (at + n <= got) {
    std::memcpy(out, s.input_buffer + at, n);
    return 0;
  }
  return plat::file_read_at_most(s.archive_handle, s.read_position + at, out, n) == n ? 0 : -1;
}

// Leaves the data of the first read in the input buffer for the source,
// from offset `data` behind the signature, and the file positioned behind
// that read when the entry goes on beyond it.  0, or 8 when it cannot seek.
int32_t hand_over_data(uint32_t got, uint64_t data) {
  ExtractState& s = extract_state();
  s.input_buffered = 0;
  s.input_cursor = 0;
  s.input_plain_end = 0;
  uint64_t held = 0;
  if (data < got) {
    s.input_cursor = s.input_plain_end = static_cast<uint32_t>(data);
    s.input_buffered = static_cast<int32_t>(got - data);
    held = got - data;
  }
  if (held >= s.entry_packed_size) return 0;
  uint64_t next = s.read_position + std::max<uint64_t>(got, data);
  return plat::file_seek(s.archive_handle, static_cast<int64_t>(next), plat::SeekFrom::begin) < 0
             ? 8
             : 0;
}

// Reads the header, the texts, the encryption header and the first data
// behind the signature, with one read for an entry of up to a buffer.
// Returns 0, 8 (cut short), 32 (version) or 50 (password).
int32_t read_entry(UnpackCall& c) {
  ExtractState& s = extract_state();
  uint32_t want = static_cast<uint32_t>(
      std::clamp<uint64_t>(s.entry_span, kFirstRead, uint64_t{kInputBufferSize}));
  uint32_t got = plat::file_read_at_most(s.archive_handle, s.read_position, s.input_buffer, want);
  unsigned char raw[kEntryHeaderSize];
  if (take_entry_bytes(got, 0, raw, kEntryHeaderSize) != 0) return 8;
  parse_entry_header(raw, &c.header);
  const EntryHeader& h = c.header;
  bool encrypted = (h.attributes & RZ_ATTR_ENCRYPTED) != 0;
  s.entry_unpacked_size = h.unpacked_size;
  s.entry_packed_size = encrypted ? h.packed_size - kEncryptionHeaderSize : h.packed_size;
  progress_channel().progress_total = static_cast<int32_t>(h.unpacked_size >> 16);
  if (progress_channel().progress_total == 0) progress_channel().progress_total = 1;
  if (h.version_needed > kMaxVersionNeeded) {
    error_box(message_text(11), c.name, message_text(2));
    return 32;
  }
  uint32_t texts = uint32_t{h.name_length} + h.directory_length;
  std::vector<char> text(texts);
  if (texts && take_entry_bytes(got, kEntryHeaderSize, text.data(), texts) != 0) return 8;
  c.directory.assign(text.data() + h.name_length, h.directory_length);
  uint64_t data = uint64_t{kEntryHeaderSize} + texts;
  s.entry_encrypted = encrypted;
  if (encrypted) {
    if (h.packed_size < kEncryptionHeaderSize) return 8;
    unsigned char check[kEncryptionHeaderSize];
    if (take_entry_bytes(got, data, check, kEncryptionHeaderSize) != 0) return 8;
    data += kEncryptionHeaderSize;
    keys_init(s.password.c_str());
    unsigned char plain = 0;
    for (unsigned char b : check) {
      plain = b ^ keystream_byte();
      keys_update(plain);
    }
    if (plain != static_cast<unsigned char>(h.crc32 >> 24)) return 50;
    keys_init(s.password.c_str());  // the data starts from fresh keys
  }
  return hand_over_data(got, data);
}

// Destination directory with exactly one trailing backslash, the stored
// directory appended when asked.  Returns 0 or 53 (escaping directory).
int32_t build_destination(UnpackCall& c) {
  std::string& d = c.destination;
  if (!d.empty() && d.back() == '\\') d.pop_back();
  if (c.options & UNPACK_USE_DIRECTORY) {
    if (directory_escapes(c.directory)) return 53;
    d += c.directory;
    c.below = c.directory;
  }
  if (d.empty() || d.back() != '\\') d += '\\';
  return 0;
}

// The kept folder `k` when it was opened for `key` and `path` still names
// it: `seen` is what the path names now when the caller has looked already.
plat::DirHandle kept_if_same(const KeptFolder& k, const std::string& key, const std::string& path,
                             const plat::FileIdentity* seen) {
  if (k.dir == plat::kNoDir || k.key != key) return plat::kNoDir;
  plat::FileIdentity now;
  if (!seen) {
    if (plat::file_identity(path.c_str(), &now) != 0) return plat::kNoDir;
    seen = &now;
  }
  return plat::same_file(*seen, k.id) ? k.dir : plat::kNoDir;
}

// Makes `dir` the kept folder `k` when the platform can tell it again by
// its identity; true when it did (the kept folder owns it then).
bool keep_folder(KeptFolder& k, plat::DirHandle dir, const std::string& key) {
  plat::FileIdentity id;
  if (plat::dir_identity(dir, &id) != 0 || !id.known) return false;
  std::string stored = key;
  if (k.dir != plat::kNoDir) plat::dir_close(k.dir);
  k.dir = dir;
  k.key = std::move(stored);
  k.id = id;
  return true;
}

// The host's destination folder, kept or opened.  *kept tells whether it
// belongs to the kept root.
plat::DirHandle open_root(const UnpackCall& c, bool* kept) {
  ExtractState& s = extract_state();
  plat::DirHandle root = kept_if_same(s.kept_root, c.base, c.base, nullptr);
  *kept = root != plat::kNoDir;
  if (*kept) return root;
  root = plat::dir_open(c.base.c_str());
  if (root != plat::kNoDir) *kept = keep_folder(s.kept_root, root, c.base);
  return root;
}

// The folder that receives the file, from the root down: the stored
// directory's levels are made as needed, the output name's own folders (a
// name such as "sub\\f.txt") must exist.  The folder of the last call is
// used again while `dir` (its path) still names it; `seen` is what the
// existence check found there.  Returns 0, 7 (a level cannot be made or is
// not a directory), 15 (a folder of the name is missing: the file cannot be
// made) or 53 (a link or ".." leads out of the root).
int32_t open_output_folder(UnpackCall& c, const std::string& dir, const plat::FileIdentity* seen) {
  ExtractState& s = extract_state();
  size_t name_start = c.destination.size(), leaf_start = c.output_path.size() - c.leaf.size();
  std::string name_folder = c.output_path.substr(name_start, leaf_start - name_start);
  // The key holds both texts: a root "a" with levels "\\b" is another
  // folder than a root "a\\b".
  std::string key = c.base + '\0' + c.below;
  if (name_folder.empty()) {
    c.out_dir = kept_if_same(s.kept_folder, key, dir, seen);
    c.out_dir_kept = c.out_dir != plat::kNoDir;
    if (c.out_dir_kept) return 0;
  }
  bool root_kept = false;
  plat::DirHandle root = open_root(c, &root_kept);
  int r = root == plat::kNoDir ? -1 : plat::dir_open_beneath(root, c.below.c_str(), 1, &c.out_dir);
  bool in_name = false;
  if (r == 0 && !name_folder.empty()) {
    plat::dir_close(c.out_dir);
    c.out_dir = plat::kNoDir;
    r = plat::dir_open_beneath(root, (c.below + "\\" + name_folder).c_str(), 0, &c.out_dir);
    in_name = true;
  }
  if (root != plat::kNoDir && !root_kept) plat::dir_close(root);
  if (r == plat::kDirEscapes) return 53;
  if (r != 0 && in_name) return 15;
  if (r != 0) {
    error_box(message_text(7), dir.c_str(), message_text(2));
    return 7;
  }
  if (name_folder.empty()) c.out_dir_kept = keep_folder(s.kept_folder, c.out_dir, key);
  return 0;
}

// Creates a missing destination directory after the Create Path prompt.
// The existence check also tells what the path names, which decides
// whether the folder of the last call can serve again.
int32_t prepare_directory(UnpackCall& c) {
  ExtractState& s = extract_state();
  std::string dir = c.destination.substr(0, c.destination.size() - 1);
  plat::FileIdentity seen;
  bool looked = c.destination.size() > 3;
  if (looked && plat::file_identity(dir.c_str(), &seen) != 0) {
    seen = plat::FileIdentity{};
    if (!s.quiet && !(c.options & UNPACK_NO_PATH_PROMPT)) {
      int answer = create_path_prompt(dir.c_str());
      if (answer == kIdNo) return -22;
      if (answer == kIdCancel) return -30;
    }
    // The host's own folder is made as it named it; the levels below it
    // by handle, in open_output_folder.
    std::string base = c.base;
    if (QEN_CREATEPATH(base.data()) != 0) return 7;
  }
  return open_output_folder(c, dir, looked ? &seen : nullptr);
}

// Creates the output file.  A new file is made under its own name at once
// (exclusively: never through a link, never over anything).  Over an
// existing one: the decision about it, then a temporary file beside it.
int32_t prepare_output(UnpackCall& c) {
  ExtractState& s = extract_state();
  int made = plat::dir_create_new(c.out_dir, c.leaf.c_str(), &s.output_handle);
  if (made == 0) {
    c.writing = c.leaf;
    return 0;
  }
  if (made < 0) return 15;
  // Gone again since: decided as the file that was there.
  int64_t attrs = std::max<int64_t>(plat::dir_attributes(c.out_dir, c.leaf.c_str()), 0);
  if (!(c.options & UNPACK_OVERWRITE)) {
    if (c.options & UNPACK_SKIP_EXISTING) return -1;
    int answer = replace_prompt(c.output_path.c_str());
    if (answer == kIdNo) return -22;
    if (answer == kIdCancel) return -30;
  }
  // A file that could not be deleted (read-only, or a directory) is refused
  // here, where the deletion would have failed.
  if (attrs & (plat::kAttrReadOnly | plat::kAttrDirectory)) return 15;
  std::string prefix = c.leaf.substr(0, kTempStemLength) + ".rz";
  s.output_handle = plat::dir_create_temp(c.out_dir, prefix.c_str(), c.temp_name,
                                          static_cast<uint32_t>(sizeof c.temp_name));
  if (s.output_handle == plat::kNoFile) {
    c.temp_name[0] = 0;
    return 15;
  }
  c.writing = c.temp_name;
  return 0;
}

// The output path and the output file's own name.  Returns 0, or 15 when
// the name does not name a file (empty, "." or "..").
int32_t name_output(UnpackCall& c) {
  ExtractState& s = extract_state();
  bool rename = (c.options & UNPACK_RENAME) && !s.rename_to.empty();
  c.output_path = c.destination + (rename ? s.rename_to : std::string(c.name));
  size_t slash = c.output_path.find_last_of("\\/");
  c.leaf = c.output_path.substr(slash + 1);
  return (c.leaf.empty() || c.leaf == "." || c.leaf == "..") ? 15 : 0;
}

int32_t flush_output(std::vector<unsigned char>& pending) {
  ExtractState& s = extract_state();
  if (pending.empty() || s.test_only) {
    pending.clear();
    return 0;
  }
  uint32_t n = static_cast<uint32_t>(pending.size());
  int32_t written = plat::file_write(s.output_handle, pending.data(), n);
  pending.clear();
  return written == static_cast<int32_t>(n) ? 0 : 20;
}

ByteSource archive_source() {
  ByteSource src{};
  src.next_byte = next_compressed_byte;
  src.peek = source_peek;
  src.consume = source_consume;
  return src;
}

// Runs the inflater over the entry in 1024-byte chunks.  Returns 0 or the
// call's result code; the caller finishes the call.
int32_t decode_entry() {
  ExtractState& s = extract_state();
  s.volume_bytes_consumed = 0;
  s.input_fillers = 0;
  s.input_remaining = s.entry_packed_size;
  ByteSource src = archive_source();
  if (inflate_begin(&src) != 0) return inflate_error();
  std::vector<unsigned char> pending;
  pending.reserve(kWriteBuffer);
  unsigned char chunk[kChunkSize];
  uint32_t total = 0, chunks = 0;
  int32_t n;
  do {
    n = inflate_read(chunk, kChunkSize, s.entry_unpacked_size);
    if (n < 0) return inflate_error();
    if (s.input_failed) return -30;
    // A stream that needs more than its data (a truncated archive) would
    // otherwise decode filler bytes for as long as the size allows.
    if (s.input_fillers > 1) return 8;
    total += static_cast<uint32_t>(n);
    if (total > s.entry_unpacked_size || total < static_cast<uint32_t>(n)) return 38;
    if (!s.test_only) pending.insert(pending.end(), chunk, chunk + n);
    if (pending.size() >= kWriteBuffer && flush_output(pending) != 0) return 20;
    if (s.progress_enabled && ++chunks == kChunksPerReport) {
      chunks = 0;
      ++progress_channel().progress_done;
      if (report_progress() == 0) {
        inflate_end();
        return -2;
      }
    }
  } while (n == static_cast<int32_t>(kChunkSize));
  if (flush_output(pending) != 0) return 20;
  // Test-only mode runs the same end-of-stream checks as an extraction.
  if (inflate_end() != 0) return inflate_error();
  return 0;
}

// Stamps time and attributes, and swaps a temporary file in.  Where the
// platform sets attributes only by name, they follow once the file is in
// place.
int32_t commit_output(UnpackCall& c) {
  ExtractState& s = extract_state();
  const EntryHeader& h = c.header;
  // The seconds field s is applied as (2 * s) mod 32.
  uint16_t time =
      static_cast<uint16_t>((h.mod_time & ~0x1Fu) | ((2u * (h.mod_time & 0x1Fu)) % 32u));
  plat::file_set_dos_time(s.output_handle, h.mod_date, time);
  bool by_name = plat::file_set_attributes_open(s.output_handle, h.attributes) == 1;
  entry_cleanup();
  // One atomic replace: the existing file stays until the new one takes its
  // place, so a failing rename loses nothing.
  if (c.temp_name[0] && plat::dir_rename(c.out_dir, c.temp_name, c.leaf.c_str()) != 0)
    return finish(c, 15);
  c.writing.clear();
  if (by_name) plat::dir_set_attributes(c.out_dir, c.leaf.c_str(), h.attributes);
  return finish(c, 0);
}

int32_t unpack(UnpackCall& c, char* spare, const char* destination) {
  ExtractState& s = extract_state();
  plat::file_ops().fail_critical_errors();
  s.progress_enabled = (c.options & UNPACK_PROGRESS) != 0;
  progress_channel().progress_done = 0;
  if (!s.progress_enabled) s.owner_window = nullptr;
  if (!s.test_only) {
    c.base = (destination && *destination) ? destination : ".";
    c.destination = c.base;
  }
  if (spare && spare[0] == 0) std::strcpy(spare, "\\");
  s.archive_handle = plat::file_open_read(s.archive_path.c_str());
  if (s.archive_handle == plat::kNoFile) {
    error_box(message_text(8), s.archive_path.c_str(), message_text(2));
    return finish(c, 21);
  }
  if (!s.entry_positioned) {
    error_box(message_text(10), c.name, message_text(2));
    return finish(c, 6);
  }
  s.read_position = s.entry_offset + kSignatureSize;
  if (int32_t r = read_entry(c)) return finish(c, r);
  if (int32_t r = build_destination(c)) return finish(c, r);
  if (!s.test_only) {
    if (int32_t r = name_output(c)) return finish(c, r);
    if (int32_t r = prepare_directory(c)) return finish(c, r);
    if (int32_t r = prepare_output(c)) return finish(c, r);
  }
  if (c.header.method == kMethodDeflate) {
    if (int32_t r = decode_entry()) return finish(c, r);
  } else {
    running_crc_reset();
  }
  if (s.input_failed && !s.test_only) {
    finish(c, 28);
    error_box(message_text(14), c.output_path.c_str(), message_text(2));
    return 28;
  }
  if (c.header.crc32 != ~running_crc_value()) {
    error_box(message_text(15), c.output_path.c_str(), message_text(2));
    return finish(c, 31);
  }
  if (s.test_only) return finish(c, 0);
  return commit_output(c);
}

}  // namespace

}  // namespace rz

extern "C" RZ_API int32_t RZ_CALL QEN_UNPACK(const char* name, char* spare,
                                             const char* archive_path, const char* destination,
                                             uint32_t options) {
  using namespace rz;
  ExtractState& s = extract_state();
  store_text(s.archive_path, archive_path);
  progress_channel().progress_done = 0;
  progress_channel().progress_total = 0;
  s.quiet = (options & UNPACK_QUIET) != 0;
  s.test_only = (options & UNPACK_TEST_ONLY) != 0;
  if (!name || !*name || !archive_path || !*archive_path) return 52;
  UnpackCall call;
  call.name = name;
  call.options = options;
  try {
    return unpack(call, spare, destination);
  } catch (...) {
    // Out of memory in a working text: nothing is left open and the
    // temporary file goes, as on every other failure.
    return finish(call, 20);
  }
}
