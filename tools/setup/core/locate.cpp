// Finding an installer's parts from the anchor in its setup program.
#include <algorithm>
#include <cstring>
#include <vector>

#include "anchor.h"
#include "file_reader.h"
#include "installer.h"

namespace qgsetup {

namespace {

// The setup program part is searched this far: an anchor further in is not
// looked for, so a large plain archive is not read to its end.
constexpr uint64_t kSearchLimit = 64u << 20;
constexpr size_t kBlock = 1u << 20;

int set_error(std::string* error, const std::string& message, int code) {
  if (error) *error = message;
  return code;
}

// Offset of the first anchor magic in the first kSearchLimit bytes, or -1.
int64_t search_magic(FileReader& in, uint64_t length) {
  std::vector<unsigned char> buf(kBlock + kAnchorMagicSize);
  uint64_t limit = length < kSearchLimit ? length : kSearchLimit;
  uint64_t base = 0;  // file offset of buf[0]
  size_t have = 0;
  if (in.seek(0)) return -1;
  while (base + have < limit) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, limit - base - have));
    int64_t n = in.read(buf.data() + have, want);
    if (n <= 0) return -1;
    have += static_cast<size_t>(n);
    size_t at = find_anchor_magic(buf.data(), have, 0);
    if (at < have) return static_cast<int64_t>(base + at);
    // Keep the last bytes: a magic may straddle two blocks.
    size_t keep = have < kAnchorMagicSize - 1 ? have : kAnchorMagicSize - 1;
    std::memmove(buf.data(), buf.data() + have - keep, keep);
    base += have - keep;
    have = keep;
  }
  return -1;
}

// A plain archive begins with an entry's signature ("QG" 03 04, or 03 05
// for an entry that continues from another volume); a setup program, the
// first part of every installer, never does.  Such a file is not searched
// (it would be read up to kSearchLimit for nothing).
bool starts_with_entry(FileReader& in) {
  unsigned char head[4];
  if (in.seek(0) || in.read_exact(head, sizeof head)) return false;
  return head[0] == 'Q' && head[1] == 'G' && head[2] == 3 && (head[3] == 4 || head[3] == 5);
}

int check_fields(const AnchorFields& f, uint64_t anchor_offset, std::string* error) {
  if (f.version != kAnchorVersion || f.size != kAnchorSize)
    return set_error(error, "installer anchor of an unknown version", kLocateBadAnchor);
  if (f.setup_data_offset == 0 && f.setup_data_length == 0 && f.file_length == 0)
    return set_error(error, "a setup program without payload (not packed)", kLocateNotInstaller);
  uint64_t end = f.setup_data_offset + f.setup_data_length;
  bool bad = f.setup_data_offset < anchor_offset + kAnchorSize ||
             f.setup_data_length < kSetupBodyOffset || end < f.setup_data_offset ||
             end > f.file_length || end > 0xFFFFFFFFu;
  if (bad)
    return set_error(error, "damaged installer anchor (its offsets contradict each other)",
                     kLocateBadAnchor);
  return kLocateOk;
}

// The PE fields of the setup program part, when it is a PE file.  One whose
// headers do not parse is treated as any other program: every byte counts.
// A file cut short may hold less than the head: what is there is parsed.
int read_pe_fields(FileReader& in, uint64_t stub_length, PeSigningFields* pe) {
  std::vector<unsigned char> head(
      static_cast<size_t>(std::min<uint64_t>(kPeHeadBytes, stub_length)));
  size_t have = 0;
  if (in.seek(0)) return 1;
  while (have < head.size()) {
    int64_t n = in.read(head.data() + have, head.size() - have);
    if (n < 0) return 1;
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  PeSigningFields found;
  if (parse_pe_signing_fields(head.data(), have, stub_length, &found) == kPeOk) *pe = found;
  return 0;
}

}  // namespace

int locate_installer(const std::string& path, InstallerLayout* out, std::string* error) {
  FileReader in;
  if (in.open(path)) return set_error(error, "cannot open " + path, kLocateUnreadable);
  int64_t length = in.length();
  if (length < 0) return set_error(error, "cannot read " + path, kLocateUnreadable);
  if (starts_with_entry(in))
    return set_error(error, "not an installer (a plain archive)", kLocateNotInstaller);
  int64_t at = search_magic(in, static_cast<uint64_t>(length));
  if (at < 0 || static_cast<uint64_t>(at) + kAnchorSize > static_cast<uint64_t>(length))
    return set_error(error, "not an installer (no installer anchor found; or cut short before it)",
                     kLocateNotInstaller);
  unsigned char raw[kAnchorSize];
  if (in.seek(static_cast<uint64_t>(at)) || in.read_exact(raw, kAnchorSize))
    return set_error(error, "cannot read " + path, kLocateUnreadable);
  AnchorFields f = decode_anchor(raw);
  if (int r = check_fields(f, static_cast<uint64_t>(at), error)) return r;
  out->file_length = static_cast<uint64_t>(length);
  out->anchor_offset = static_cast<uint64_t>(at);
  out->setup_data_offset = f.setup_data_offset;
  out->setup_data_length = f.setup_data_length;
  out->archive_offset = f.setup_data_offset + f.setup_data_length;
  out->recorded_length = f.file_length;
  out->pe = PeSigningFields();
  if (read_pe_fields(in, f.setup_data_offset, &out->pe))
    return set_error(error, "cannot read " + path, kLocateUnreadable);
  return kLocateOk;
}

int read_setup_data(const std::string& path, const InstallerLayout& layout, SetupData* out,
                    std::string* error) {
  if (layout.archive_offset > layout.file_length)
    return set_error(error, "the file ends inside its setup data (truncated)", 1);
  if (layout.setup_data_length > kSetupBodyOffset + 2 * kMaxTextBytes + (size_t{1} << 30))
    return set_error(error, "setup data too large", 1);
  FileReader in;
  std::vector<uint8_t> bytes(static_cast<size_t>(layout.setup_data_length));
  if (in.open(path) || in.seek(layout.setup_data_offset) ||
      in.read_exact(bytes.data(), bytes.size()))
    return set_error(error, "cannot read the setup data of " + path, 1);
  std::string why;
  if (decode_setup_data(bytes.data(), bytes.size(), out, &why))
    return set_error(error, "damaged setup data: " + why, 1);
  return 0;
}

}  // namespace qgsetup
