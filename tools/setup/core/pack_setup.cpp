// qg pack --setup: [setup program][setup data][archive] in one file.
#include "pack_setup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "anchor.h"
#include "file_reader.h"
#include "installer.h"
#include "payload_meta.h"
#include "pe_signing.h"
#include "qgwriter.h"
#include "raziza3z.h"
#include "sha256.h"

namespace qgsetup {

namespace {

constexpr size_t kLibraryPathLimit = 255;

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

int read_file(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 1;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.bad() ? 1 : 0;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool same_text(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The default target as it would be on this machine: "~" and $HOME
// replaced; other variables stay as written.
std::string expand_target(std::string dir) {
  const char* home = std::getenv("HOME");
  std::string h = home ? home : "/root";
  if (dir.rfind("~", 0) == 0) dir = h + dir.substr(1);
  for (const char* v : {"${HOME}", "$HOME"}) {
    size_t at = dir.find(v);
    if (at != std::string::npos) dir.replace(at, std::strlen(v), h);
  }
  return dir;
}

bool windows_reserved(const std::string& part) {
  std::string stem = part.substr(0, part.find('.'));
  for (const char* r : {"CON", "PRN", "AUX", "NUL"})
    if (same_text(stem, r)) return true;
  if (stem.size() == 4 &&
      (same_text(stem.substr(0, 3), "COM") || same_text(stem.substr(0, 3), "LPT")))
    return stem[3] >= '1' && stem[3] <= '9';
  return false;
}

// Reads the script and the licence it names.
int read_script(const std::string& script, SetupData* data, std::string* error) {
  if (read_file(script, &data->script)) return fail(error, "cannot read the script " + script);
  data->script_name = name_of(script);
  std::string license = ini_value(data->script, "SETUP", "License");
  if (license.empty()) return 0;
  std::string path = license[0] == '/' ? license : folder_of(script) + "/" + license;
  if (read_file(path, &data->license))
    return fail(error, "the script names the licence file " + license + ", which cannot be read (" +
                           path + ")");
  data->license_name = name_of(license);
  return 0;
}

// The stub's bytes, with the one anchor's offset.
int read_stub(const std::string& path, std::vector<uint8_t>* stub, size_t* anchor,
              std::string* error) {
  std::string bytes;
  if (read_file(path, &bytes)) return fail(error, "cannot read the setup program " + path);
  stub->assign(bytes.begin(), bytes.end());
  size_t first = find_anchor_magic(stub->data(), stub->size(), 0);
  if (first == stub->size() || first + kAnchorSize > stub->size())
    return fail(error, path + " is not a setup program (it has no installer anchor)");
  if (find_anchor_magic(stub->data(), stub->size(), first + 1) != stub->size())
    return fail(error, path + " has more than one installer anchor");
  AnchorFields f = decode_anchor(stub->data() + first);
  if (f.version != kAnchorVersion || f.size != kAnchorSize)
    return fail(error, path + " has an installer anchor of another version");
  if (f.setup_data_offset || f.setup_data_length || f.file_length)
    return fail(error, path + " is an installer already, not a setup program without payload");
  *anchor = first;
  return 0;
}

// The fields that Authenticode signing will write, for a PE setup program.
// One whose headers do not parse, or that is signed already (signing the
// installer would replace that table, and its digests would not cover the
// program's), is refused.
int read_stub_pe(const std::string& path, const std::vector<uint8_t>& stub, PeSigningFields* pe,
                 std::string* error) {
  // As much of the head as the readers look at, so that they find the same.
  size_t head = std::min(stub.size(), kPeHeadBytes);
  switch (parse_pe_signing_fields(stub.data(), head, stub.size(), pe)) {
    case kPeNone:
      return 0;
    case kPeDamaged:
      return fail(error, path + " starts as a Windows program, but its PE headers do not parse");
  }
  if (pe->table_offset || pe->table_size)
    return fail(error, path +
                           " is Authenticode-signed already: pack an unsigned setup program and "
                           "sign the installer");
  return 0;
}

// After the archive of a PE installer: zero bytes, at least four (where the
// library's walk expects the next entry, four zero bytes end the archive,
// and the certificate table of a signature follows them), up to an 8-byte
// boundary, so that signing adds no padding of its own.
int append_end_marker(const std::string& path, uint64_t length) {
  static const unsigned char zeros[12] = {};
  size_t n = 4 + static_cast<size_t>((8 - (length + 4) % 8) % 8);
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return 1;
  bool ok = std::fwrite(zeros, 1, n, f) == n;
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}

qgw::Entry archive_entry(const ScannedItem& s) {
  qgw::Entry e;
  entry_location(s.item.path, &e.directory, &e.name);
  e.source_path = s.source;
  qgw::dos_date_time(static_cast<std::time_t>(s.item.mtime), &e.dos_date, &e.dos_time);
  e.attributes = 0x20;
  if ((s.item.mode & 0222) == 0) e.attributes |= 0x01;  // read-only, as on Windows
  return e;
}

// A fixed encryption seed made from the inputs, so that the same inputs give
// the same installer.  The files' contents count too: installers with other
// contents under one password must not share the encryption headers that
// the seed picks.  Returns 0, or 1 when a file cannot be read.
int seed_of(const SetupData& data, const std::vector<qgw::Entry>& entries, uint32_t* seed) {
  Sha256 h;
  h.update(data.script.data(), data.script.size());
  for (const PayloadItem& it : data.items) {
    uint64_t size = it.path.size();
    h.update(&size, sizeof size);
    h.update(it.path.data(), it.path.size());
    h.update(&it.mtime, sizeof it.mtime);
  }
  for (const qgw::Entry& e : entries) {
    Digest content;
    if (sha256_file(e.source_path, &content)) return 1;
    h.update(content.data(), content.size());
  }
  Digest d = h.final();
  uint32_t s = d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24;
  *seed = s ? s : 1;
  return 0;
}

// Writes `size` bytes at `offset` of an existing file and flushes them to
// the disk.  Returns 0 or 1.
int write_at(const std::string& path, uint64_t offset, const void* data, size_t size) {
#ifdef _WIN32
  if (size > 0x7FFFFFFF || offset > INT64_MAX) return 1;
  int fd = ::_open(path.c_str(), _O_WRONLY | _O_BINARY);
  if (fd < 0) return 1;
  bool ok =
      ::_lseeki64(fd, static_cast<int64_t>(offset), SEEK_SET) == static_cast<int64_t>(offset) &&
      ::_write(fd, data, static_cast<unsigned>(size)) == static_cast<int>(size);
  ok = ::_commit(fd) == 0 && ok;
  ok = ::_close(fd) == 0 && ok;
#else
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  bool ok = ::pwrite(fd, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
#endif
  return ok ? 0 : 1;
}

// The length of a file (64-bit everywhere).  Returns 0 or 1.
int length_of(const std::string& path, uint64_t* length) {
  FileReader in;
  int64_t n = in.open(path) ? -1 : in.length();
  if (n < 0) return 1;
  *length = static_cast<uint64_t>(n);
  return 0;
}

// Puts the finished temporary file in place of `to`, replacing what is
// there (rename does not on Windows).  Returns 0 or 1.
int move_into_place(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : 1;
#else
  mode_t mode = static_cast<mode_t>(0777 & ~current_umask());
  return ::chmod(from.c_str(), mode) == 0 && ::rename(from.c_str(), to.c_str()) == 0 ? 0 : 1;
#endif
}

// Fills the integrity slot of the written file: digests, CRC, signature.
int seal(const std::string& path, const InstallerLayout& l, const std::string& key,
         PackSetupReport* report, std::string* error) {
  InstallerDigests d;
  if (hash_installer(path, l, nullptr, &d)) return fail(error, "cannot read back " + path);
  IntegritySlot slot;
  slot.file_sha256 = d.file;
  slot.stub_sha256 = d.stub;
  slot.setup_sha256 = d.setup;
  uint64_t archive = l.file_length - l.archive_offset;
  if (archive <= 0x7FFFFFFF) {
    slot.flags |= kSlotArchiveCrc;
    slot.archive_crc = SFXSIG(path.c_str(), static_cast<int32_t>(archive));
  }
  if (!key.empty()) {
    if (sign_digest(key, d.file, &slot.public_key, &slot.signature, error)) return 1;
    slot.flags |= kSlotSigned;
    report->fingerprint = key_fingerprint(slot.public_key);
  }
  uint8_t raw[kSlotSize];
  encode_slot(slot, raw);
  if (write_at(path, l.setup_data_offset + kSlotOffset, raw, kSlotSize))
    return fail(error, "cannot write " + path);
  return 0;
}

struct Plan {
  SetupData data;
  std::vector<qgw::Entry> entries;
  std::vector<uint8_t> stub;
  size_t anchor = 0;
  PeSigningFields pe;  // of a PE setup program
};

int plan(const PackSetupOptions& o, Plan* p, PackSetupReport* report, std::string* error) {
  if (read_script(o.script, &p->data, error)) return 1;
  std::vector<ScannedItem> items;
  if (scan_payload(o.inputs, o.dereference, &items, &report->warnings, error)) return 1;
  std::string target = expand_target(ini_value(p->data.script, "SETUP", "DefaultDir"));
  for (const ScannedItem& s : items) {
    PayloadItem item = s.item;
    name_warnings(item.path, target, &report->warnings);
    std::string folder = item.kind == ItemKind::directory ? item.path : folder_of(item.path);
    if (folder != "." && folder.find(':') != std::string::npos)
      return fail(error, "the folder name " + folder +
                             " has a colon, which the library refuses in stored folders");
    if (item.kind == ItemKind::file) {
      item.entry = static_cast<uint32_t>(p->entries.size());
      p->entries.push_back(archive_entry(s));
      std::string n = p->entries.back().name, d = p->entries.back().directory;
      if (n.size() > 255 || d.size() > 255)
        return fail(error, item.path + ": name or folder longer than 255 bytes");
    }
    report->files += item.kind == ItemKind::file;
    report->directories += item.kind == ItemKind::directory;
    report->links += item.kind == ItemKind::symlink;
    p->data.items.push_back(std::move(item));
  }
  p->data.entry_count = static_cast<uint32_t>(p->entries.size());
  if (read_stub(o.stub, &p->stub, &p->anchor, error)) return 1;
  return read_stub_pe(o.stub, p->stub, &p->pe, error);
}

// Writes the file at `temp`; the anchor and the archive length are filled
// in once the archive's length is known, the slot last.
int write_installer(const PackSetupOptions& o, Plan& p, const std::string& temp,
                    PackSetupReport* report, std::string* error) {
  std::vector<uint8_t> setup;
  if (encode_setup_data(p.data, &setup, error)) return 1;
  qgw::Options opt;
  opt.level = o.level;
  opt.password = o.password;
  if (o.password && seed_of(p.data, p.entries, &opt.seed))
    return fail(error, "cannot read the payload's files");
  opt.stub = p.stub;
  opt.stub.insert(opt.stub.end(), setup.begin(), setup.end());
  if (qgw::write_archive(temp, p.entries, opt, nullptr, error)) return 1;
  uint64_t length = 0;
  if (length_of(temp, &length)) return fail(error, "cannot read back " + temp);
  if (p.pe.present) {
    if (append_end_marker(temp, length)) return fail(error, "cannot write " + temp);
    if (length_of(temp, &length)) return fail(error, "cannot read back " + temp);
  }
  InstallerLayout l;
  l.pe = p.pe;
  l.file_length = l.recorded_length = length;
  l.setup_data_offset = p.stub.size();
  l.setup_data_length = setup.size();
  l.archive_offset = l.setup_data_offset + l.setup_data_length;
  if (l.archive_offset > 0xFFFFFFFFu) return fail(error, "setup program and setup data over 4 GiB");
  p.data.archive_length = l.file_length - l.archive_offset;
  if (encode_setup_data(p.data, &setup, error)) return 1;
  AnchorFields f{kAnchorVersion, static_cast<uint32_t>(kAnchorSize), l.setup_data_offset,
                 l.setup_data_length, l.file_length};
  unsigned char anchor[kAnchorSize];
  std::memcpy(anchor, p.stub.data() + p.anchor, kAnchorSize);
  encode_anchor(f, anchor);
  if (write_at(temp, p.anchor, anchor, kAnchorSize) ||
      write_at(temp, l.setup_data_offset, setup.data(), setup.size()))
    return fail(error, "cannot write " + temp);
  report->size = l.file_length;
  return seal(temp, l, o.sign_key, report, error);
}

}  // namespace

std::string ini_value(const std::string& text, const std::string& section, const std::string& key) {
  bool inside = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = trim(text.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line[0] == '[') {
      size_t close = line.find(']');
      inside = close != std::string::npos && same_text(trim(line.substr(1, close - 1)), section);
      continue;
    }
    size_t eq = line.find('=');
    if (!inside || eq == std::string::npos || !same_text(trim(line.substr(0, eq)), key)) continue;
    std::string v = trim(line.substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return v;
  }
  return "";
}

void name_warnings(const std::string& path, const std::string& target,
                   std::vector<std::string>* warnings) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    bool bad = part.find_first_of("<>:\"|?*") != std::string::npos || part.back() == '.' ||
               part.back() == ' ' || windows_reserved(part) ||
               std::any_of(part.begin(), part.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 32; });
    if (bad) {
      warnings->push_back("Windows cannot create the name " + part + " (in " + path + ")");
      break;
    }
    start = end + 1;
  }
  if (!target.empty() && target.size() + 1 + path.size() > kLibraryPathLimit)
    warnings->push_back(path + " is longer than the library's 255-character paths under " + target);
}

int pack_installer(const PackSetupOptions& o, PackSetupReport* report, std::string* error) {
  Plan p;
  if (plan(o, &p, report, error)) return 1;
  // Beside the output, created exclusively, renamed into place when whole.
  std::string temp = o.output + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return fail(error, "cannot create a temporary file beside " + o.output);
  ::close(fd);
  int r = write_installer(o, p, temp, report, error);
  if (r == 0 && move_into_place(temp, o.output)) r = fail(error, "cannot write " + o.output);
  if (r) ::unlink(temp.c_str());
  return r;
}

}  // namespace qgsetup
