// QEN_NEXTLOOP: the walk over an archive's entries, one entry per call.
#include <cstring>

#include "archive/format.h"
#include "frame/extract_state.h"
#include "raziza3z.h"

namespace rz {

namespace {

// The most that a signature, a header and two texts that fit EntryInfo
// take: one read at the scan position brings all of it.
constexpr uint32_t kEntryHeadRoom = kSignatureSize + kEntryHeaderSize + 2 * kMaxTextLength;

// The little-endian value of the first (up to) 4 bytes read; missing
// high-order bytes count as zero.
uint32_t signature_of(const unsigned char* head, uint32_t got) {
  unsigned char raw[4] = {0, 0, 0, 0};
  std::memcpy(raw, head, got < 4 ? got : 4);
  return load_le32(raw);
}

// Step 6: classify a value that is not an entry signature.  The scan has
// already been reset.
int32_t classify_non_entry(uint32_t value) {
  ExtractState& s = extract_state();
  if (value == kSigStop) return 24;
  if (value == kSigZip) return 25;
  if (s.data_start == 0 && value != 0) return 2;
  if (value == 0) {
    s.read_position = 0;
    return 1;
  }
  return static_cast<int64_t>(s.data_start) != s.archive_length ? 8 : 1;
}

// Opens the archive named by the caller's buffer (or, once spanned, the
// volume in use, written back into that buffer).  Returns 0 or 21.
int32_t open_for_scan(char* path) {
  ExtractState& s = extract_state();
  if (s.spanned_archive) {
    // The caller's buffer holds 256 bytes; a longer path is refused, not cut.
    if (s.archive_path.size() > kMaxTextLength) return 21;
    std::memcpy(path, s.archive_path.c_str(), s.archive_path.size() + 1);
  } else {
    store_text(s.archive_path, path);
  }
  int64_t length = 0;
  s.archive_handle = plat::file_open_read_length(s.archive_path.c_str(), &length);
  s.read_position = s.data_start;
  if (s.archive_handle == plat::kNoFile) return 21;
  s.archive_length = length;
  return 0;
}

// Takes header, name and directory from the n bytes read behind the
// signature into *info; a text cut short keeps the bytes there are.
// Returns 0, or 8 when the entry is cut short or its texts do not fit.
int32_t parse_entry(const unsigned char* p, uint32_t n, EntryInfo* info, int64_t* data_offset) {
  ExtractState& s = extract_state();
  if (n < kEntryHeaderSize) return 8;
  parse_entry_header(p, &info->header);
  info->name[0] = 0;
  info->directory[0] = 0;
  uint32_t nl = info->header.name_length, dl = info->header.directory_length;
  if (nl > kMaxTextLength || dl > kMaxTextLength) return 8;
  p += kEntryHeaderSize;
  n -= kEntryHeaderSize;
  uint32_t take = n < nl ? n : nl;
  std::memcpy(info->name, p, take);
  if (take < nl) return 8;
  info->name[nl] = 0;
  p += nl;
  n -= nl;
  take = n < dl ? n : dl;
  std::memcpy(info->directory, p, take);
  if (take < dl) return 8;
  info->directory[dl] = 0;
  *data_offset = static_cast<int64_t>(s.entry_offset) + kSignatureSize + kEntryHeaderSize + nl + dl;
  s.entry_span = uint64_t{kEntryHeaderSize} + nl + dl + info->header.packed_size;
  return 0;
}

}  // namespace

}  // namespace rz

extern "C" RZ_API int32_t RZ_CALL QEN_NEXTLOOP(char* path, int32_t mode, EntryInfo* info) {
  using namespace rz;
  ExtractState& s = extract_state();
  s.entry_positioned = true;
  s.read_position = 0;
  if (s.archive_handle == plat::kNoFile) {
    int32_t r = open_for_scan(path);
    if (r != 0) return r;
  }
  if (s.data_start == 0) {
    s.read_position += s.scan_position;
  } else if (s.scan_position != 0) {
    s.read_position = s.scan_position;
  }
  s.entry_offset = s.read_position;
  unsigned char head[kEntryHeadRoom];
  uint32_t got = plat::file_read_at_most(s.archive_handle, s.read_position, head, sizeof head);
  uint32_t value = signature_of(head, got);
  if (value != kSigEntry && value != kSigContinued) {
    QEN_RESETDLL();
    return classify_non_entry(value);
  }
  EntryInfo local;
  std::memset(&local, 0, sizeof local);
  int64_t data_offset = 0;
  int32_t r = parse_entry(head + kSignatureSize, got - kSignatureSize, &local, &data_offset);
  if (info) {
    // Only whole fields are handed over: header always, texts when they fit.
    info->header = local.header;
    std::memcpy(info->name, local.name, sizeof local.name);
    std::memcpy(info->directory, local.directory, sizeof local.directory);
  }
  if (r != 0) {
    QEN_RESETDLL();
    return r;
  }
  int64_t next = data_offset + local.header.packed_size;
  s.read_position = static_cast<uint64_t>(next);
  s.scan_position = s.read_position;
  close_archive();
  if (value == kSigContinued || mode == NEXT_MARK_SPANNED) s.spanned_archive = true;
  if (mode == NEXT_READ_AND_RESET) {
    QEN_RESETDLL();
    s.entry_positioned = true;
    return 0;
  }
  if (next > s.archive_length && !s.spanned_archive) {
    QEN_RESETDLL();
    return 8;
  }
  return 0;
}
