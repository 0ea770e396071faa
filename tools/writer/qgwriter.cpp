#include "qgwriter.h"

#include <zlib.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

namespace qgw {

namespace {

constexpr uint32_t kSigEntry = 0x04034751;
constexpr uint32_t kSigStop = 0x06034751;
constexpr uint8_t kContinuedSigByte = 0x05;  // fourth signature byte of a continued entry
constexpr uint32_t kEncryptionHeader = 12;
constexpr uint16_t kAttrEncrypted = 0x4000;
constexpr size_t kChunk = 64 * 1024;
constexpr int kMaxVolumes = 99;
constexpr uint16_t kVersionNeeded = 16;          // the highest version readers accept
constexpr uint64_t kMaxEntrySize = 0xFFFFFFFFu;  // the sizes are 32-bit fields

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

// The message followed by the system's reason for the last failed call.
int fail_errno(std::string* error, const std::string& message) {
  return fail(error, message + ": " + std::strerror(errno));
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// The traditional key schedule, on zlib's CRC table so that the writer does
// not share code with the reader it is meant to check.
class Cipher {
 public:
  explicit Cipher(const std::string& password) {
    for (unsigned char c : password) update(c);
  }
  uint8_t encrypt(uint8_t plain) {
    uint32_t t = (k2_ | 2) & 0xFFFF;
    uint8_t c = plain ^ static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
    update(plain);
    return c;
  }

 private:
  static uint32_t step(uint32_t crc, uint8_t b) {
    static const z_crc_t* table = get_crc_table();
    return static_cast<uint32_t>(table[(crc ^ b) & 0xFF]) ^ (crc >> 8);
  }
  void update(uint8_t b) {
    k0_ = step(k0_, b);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = step(k2_, static_cast<uint8_t>(k1_ >> 24));
  }
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

// An entry's compressed data, staged in a temporary file so that memory
// stays flat whatever the size of the input.
struct Payload {
  FilePtr file{nullptr, fclose};
  uint64_t packed = 0;
  uint64_t unpacked = 0;
  uint32_t crc = 0;
};

int stage_raw(const std::vector<uint8_t>& raw, Payload* p, std::string* error) {
  if (!raw.empty() && std::fwrite(raw.data(), 1, raw.size(), p->file.get()) != raw.size())
    return fail_errno(error, "cannot write temporary file");
  p->packed = raw.size();
  return 0;
}

// Feeds `in` (size n, final when last) through the deflater into p->file.
int deflate_chunk(z_stream* z, const uint8_t* in, size_t n, bool last, Payload* p,
                  std::string* error) {
  std::vector<uint8_t> out(kChunk);
  z->next_in = const_cast<Bytef*>(in);
  z->avail_in = static_cast<uInt>(n);
  int rc;
  do {
    z->next_out = out.data();
    z->avail_out = static_cast<uInt>(out.size());
    rc = deflate(z, last ? Z_FINISH : Z_NO_FLUSH);
    if (rc == Z_STREAM_ERROR) return fail(error, "deflate failed");
    size_t have = out.size() - z->avail_out;
    if (have && std::fwrite(out.data(), 1, have, p->file.get()) != have)
      return fail_errno(error, "cannot write temporary file");
    p->packed += have;
  } while (z->avail_out == 0 || (last && rc != Z_STREAM_END));
  return 0;
}

// Reads the entry's content (file or memory) chunk by chunk into `sink`.
template <typename Sink>
int read_content(const Entry& e, Sink sink, std::string* error) {
  if (e.source_path.empty()) return sink(e.data.data(), e.data.size(), true);
  FilePtr in(std::fopen(e.source_path.c_str(), "rb"), fclose);
  if (!in) return fail_errno(error, "cannot open " + e.source_path);
  std::vector<uint8_t> buf(kChunk);
  for (;;) {
    size_t n = std::fread(buf.data(), 1, buf.size(), in.get());
    if (std::ferror(in.get())) return fail_errno(error, "cannot read " + e.source_path);
    bool last = n < buf.size() && std::feof(in.get());
    if (int r = sink(buf.data(), n, last)) return r;
    if (last) return 0;
  }
}

#if defined(_WIN32)
// The run-time library's tmpfile makes its file in the root folder of the
// current drive, which a user may not write to; this one goes to the
// user's temporary folder and is deleted when closed.
FILE* staging_file() {
  static unsigned made = 0;
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string leaf = "qgw" + std::to_string(::_getpid()) + "." + std::to_string(++made) + ".tmp";
    std::string name = (base / leaf).string();
    int fd = ::_open(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                     _S_IREAD | _S_IWRITE);
    if (fd < 0) continue;
    FILE* f = ::_fdopen(fd, "w+b");
    if (!f) ::_close(fd);
    return f;
  }
  return nullptr;
}
#else
FILE* staging_file() {
  return std::tmpfile();
}
#endif

std::string too_large(const std::string& name) {
  return "entry too large for the format (4294967295 bytes at most): " + name;
}

int make_payload(const Entry& e, int level, Payload* p, std::string* error) {
  p->file.reset(staging_file());
  if (!p->file) return fail(error, "cannot create a temporary file");
  z_stream z{};
  bool compress = !e.raw_data.has_value();
  if (compress && deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return fail(error, "cannot start deflate");
  uLong crc = crc32(0L, Z_NULL, 0);
  int r = read_content(
      e,
      [&](const uint8_t* data, size_t n, bool last) -> int {
        crc = crc32(crc, data, static_cast<uInt>(n));
        p->unpacked += n;
        // A file that grew past the limit while it was read stops here.
        if (p->unpacked > kMaxEntrySize) return fail(error, too_large(e.name));
        return compress ? deflate_chunk(&z, data, n, last, p, error) : 0;
      },
      error);
  if (compress) deflateEnd(&z);
  if (r) return r;
  if (!compress && stage_raw(*e.raw_data, p, error)) return 1;
  p->crc = static_cast<uint32_t>(crc);
  if (p->unpacked > kMaxEntrySize || p->packed + kEncryptionHeader > kMaxEntrySize)
    return fail(error, too_large(e.name));
  std::rewind(p->file.get());
  return 0;
}

// Signature, header, name and directory of one entry.
std::vector<uint8_t> entry_record(const Entry& e, const Payload& p, bool encrypted) {
  std::vector<uint8_t> h;
  put32(h, kSigEntry);
  put16(h, e.version_needed.value_or(kVersionNeeded));
  put16(h, encrypted ? (e.attributes | kAttrEncrypted) : e.attributes);
  put16(h, e.method.value_or(2));
  put16(h, e.dos_time);
  put16(h, e.dos_date);
  put32(h, e.crc32.value_or(p.crc));
  uint64_t packed = p.packed + (encrypted ? kEncryptionHeader : 0);
  put32(h, e.packed_size.value_or(static_cast<uint32_t>(packed)));
  put32(h, e.unpacked_size.value_or(static_cast<uint32_t>(p.unpacked)));
  put16(h, e.reserved_22);
  put16(h, e.reserved_24);
  put16(h, e.reserved_26);
  put32(h, e.reserved_28);
  put16(h, static_cast<uint32_t>(e.name.size()));
  put16(h, static_cast<uint32_t>(e.directory.size()));
  h.insert(h.end(), e.name.begin(), e.name.end());
  h.insert(h.end(), e.directory.begin(), e.directory.end());
  return h;
}

uint64_t record_size(const Entry& e, bool encrypted) {
  return 40 + e.name.size() + e.directory.size() + (encrypted ? kEncryptionHeader : 0);
}

// A new file beside `final_name`, created exclusively under a random name.
// Returns the stream, or null with errno set; *temp receives the name.
FILE* create_beside(const std::string& final_name, std::string* temp) {
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".qgtmp%08x", static_cast<unsigned>(random()));
    *temp = final_name + suffix;
#if defined(_WIN32)
    int fd =
        ::_open(temp->c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
#if defined(_WIN32)
    FILE* f = ::_fdopen(fd, "wb");
    if (!f) ::_close(fd);
#else
    FILE* f = ::fdopen(fd, "wb");
    if (!f) ::close(fd);
#endif
    return f;
  }
  return nullptr;
}

// The files of the archive: the first volume, then .-02, .-03, ...  Each is
// written to a temporary file beside it; commit() puts them in place, and
// until then (or when the writing fails) files of the same names stay as
// they were.
class Volumes {
 public:
  Volumes(std::string path, uint64_t max) : path_(std::move(path)), max_(max) {}
  ~Volumes() {
    close(nullptr);
    std::error_code ec;
    for (const std::string& t : temps_) std::filesystem::remove(t, ec);
  }
  Volumes(const Volumes&) = delete;
  Volumes& operator=(const Volumes&) = delete;
  int open_first(std::string* error) { return open(path_, error); }
  int next(std::string* error) {
    if (number_ >= kMaxVolumes) return fail(error, "more than 99 volumes needed");
    ++number_;
    return open(next_volume_name(names_.back(), number_), error);
  }
  uint64_t room() const { return max_ == 0 ? UINT64_MAX : (used_ < max_ ? max_ - used_ : 0); }
  uint64_t used() const { return used_; }
  int put(const uint8_t* data, size_t n, std::string* error) {
    if (n && std::fwrite(data, 1, n, file_.get()) != n)
      return fail_errno(error, "cannot write " + names_.back());
    used_ += n;
    return 0;
  }
  // Rewrites one byte already written to the current volume.
  int patch(uint64_t offset, uint8_t byte, std::string* error) {
    if (std::fflush(file_.get()) != 0 ||
        std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fputc(byte, file_.get()) == EOF || std::fseek(file_.get(), 0, SEEK_END) != 0)
      return fail_errno(error, "cannot write " + names_.back());
    return 0;
  }
  int close(std::string* error) {
    if (file_ && std::fclose(file_.release()) != 0)
      return fail_errno(error, "cannot write " + names_.back());
    return 0;
  }
  // Closes the last volume and renames every temporary file into place.
  int commit(std::string* error) {
    if (close(error)) return 1;
    for (size_t i = 0; i < temps_.size(); ++i) {
      std::error_code ec;
      std::filesystem::rename(temps_[i], names_[i], ec);
      if (ec) return fail(error, "cannot write " + names_[i] + ": " + ec.message());
      temps_[i].clear();
    }
    temps_.clear();
    return 0;
  }
  const std::vector<std::string>& names() const { return names_; }

 private:
  int open(const std::string& name, std::string* error) {
    if (close(error)) return 1;
    std::string temp;
    file_.reset(create_beside(name, &temp));
    if (!file_) return fail_errno(error, "cannot create " + name);
    names_.push_back(name);
    temps_.push_back(temp);
    used_ = 0;
    return 0;
  }
  std::string path_;
  uint64_t max_;
  FilePtr file_{nullptr, fclose};
  uint64_t used_ = 0;
  int number_ = 1;
  std::vector<std::string> names_;
  std::vector<std::string> temps_;  // written, not yet renamed into place
};

// Copies `n` bytes of the staged data, enciphered when a cipher is given.
int copy_data(FILE* from, uint64_t n, Cipher* cipher, Volumes& vol, std::string* error) {
  std::vector<uint8_t> buf(kChunk);
  while (n > 0) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(n, buf.size()));
    if (std::fread(buf.data(), 1, want, from) != want) return fail(error, "temporary file short");
    if (cipher)
      for (size_t i = 0; i < want; ++i) buf[i] = cipher->encrypt(buf[i]);
    if (vol.put(buf.data(), want, error)) return 1;
    n -= want;
  }
  return 0;
}

// Writes an entry's compressed data.  Only data crosses a volume boundary,
// and a volume never ends exactly where an entry's data ends: the reader
// finds the next entry only behind the data in the volume where it ends, so
// `need_after` bytes (the next entry's record, or the end marker) must fit
// there.  The entry that crosses gets the continuation signature.
int place_data(Payload& p, uint64_t sig_offset, uint64_t need_after, Cipher* cipher, Volumes& vol,
               std::string* error) {
  uint64_t rem = p.packed;
  bool crossed = false;
  for (;;) {
    uint64_t room = vol.room();
    if (rem + need_after <= room) return copy_data(p.file.get(), rem, cipher, vol, error);
    uint64_t take = rem <= room ? (rem == 0 ? 0 : rem - 1) : room;
    if (rem == 0 || (take == 0 && vol.used() == 0))
      return fail(error, "volume size too small for the entries' headers");
    if (!crossed) {
      if (vol.patch(sig_offset + 3, kContinuedSigByte, error)) return 1;
      crossed = true;
    }
    if (copy_data(p.file.get(), take, cipher, vol, error)) return 1;
    rem -= take;
    if (vol.next(error)) return 1;
  }
}

std::vector<uint8_t> encryption_header(uint32_t crc, std::mt19937& rng) {
  std::vector<uint8_t> h(kEncryptionHeader);
  for (uint32_t i = 0; i + 1 < kEncryptionHeader; ++i) h[i] = static_cast<uint8_t>(rng());
  h[kEncryptionHeader - 1] = static_cast<uint8_t>(crc >> 24);
  return h;
}

}  // namespace

std::string next_volume_name(const std::string& previous, int number) {
  size_t slash = previous.find_last_of("/\\");
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = previous.rfind('.');
  std::string stem =
      (dot != std::string::npos && dot >= start) ? previous.substr(0, dot) : previous;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%02d", number);
  return stem + ".-" + digits;
}

void dos_date_time(std::time_t when, uint16_t* date, uint16_t* time) {
  std::tm t{};
#if defined(_WIN32)
  if (localtime_s(&t, &when) != 0) t.tm_year = 0;
#else
  if (!localtime_r(&when, &t)) t.tm_year = 0;
#endif
  if (t.tm_year < 80) {  // the format starts in 1980
    *date = (1 << 5) | 1;
    *time = 0;
    return;
  }
  *date = static_cast<uint16_t>(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
  *time = static_cast<uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 4));
}

std::vector<uint8_t> deflate_raw(const std::vector<uint8_t>& data, int level) {
  z_stream z{};
  std::vector<uint8_t> out;
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return out;
  out.resize(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

int entry_from_file(const std::string& file, const std::string& name, const std::string& directory,
                    Entry* out, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::file_status status = fs::status(file, ec);
  if (ec || !fs::is_regular_file(status)) return fail(error, "not a readable file: " + file);
  fs::file_time_type written = fs::last_write_time(file, ec);
  if (ec) return fail(error, "not a readable file: " + file);
  if (name.size() > 255 || directory.size() > 255)
    return fail(error, "name or directory longer than 255 bytes: " + file);
  // Refused before any of it is compressed.
  uintmax_t size = fs::file_size(file, ec);
  if (!ec && size > kMaxEntrySize) return fail(error, too_large(file));
  Entry e;
  e.name = name;
  e.directory = directory;
  e.source_path = file;
  // Whole seconds, rounded down as the file system's own seconds are.
  auto seconds = std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(written));
  dos_date_time(static_cast<std::time_t>(seconds.time_since_epoch().count()), &e.dos_date,
                &e.dos_time);
  e.attributes = 0x20;
  // Nobody may write: read-only (on Windows, the read-only attribute).
  constexpr fs::perms kWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if ((status.permissions() & kWrite) == fs::perms::none) e.attributes |= 0x01;
  *out = std::move(e);
  return 0;
}

int entries_from_folder(const std::string& folder, std::vector<Entry>* out, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(it->path());
  }
  if (ec) return fail(error, "cannot walk " + folder + ": " + ec.message());
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    fs::path rel = f.lexically_relative(folder);
    std::string dir;
    for (const auto& part : rel.parent_path()) {
      dir += '\\';
      dir += part.string();
    }
    Entry e;
    if (entry_from_file(f.string(), rel.filename().string(), dir, &e, error)) return 1;
    out->push_back(std::move(e));
  }
  return 0;
}

int write_archive(const std::string& path, const std::vector<Entry>& entries,
                  const Options& options, Report* report, std::string* error) {
  bool encrypted = options.password.has_value();
  std::mt19937 rng(options.seed ? options.seed : std::random_device{}());
  Volumes vol(path, options.volume_size);
  if (vol.open_first(error)) return 1;
  if (vol.put(options.stub.data(), options.stub.size(), error)) return 1;
  uint32_t first = static_cast<uint32_t>(options.stub.size());
  uint64_t end_size = options.end == End::none ? 0 : 4;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.name.size() > 255 || e.directory.size() > 255)
      return fail(error, "name or directory longer than 255 bytes: " + e.name);
    Payload p;
    if (make_payload(e, options.level, &p, error)) return 1;
    std::vector<uint8_t> record = entry_record(e, p, encrypted);
    if (encrypted) {
      Cipher header_cipher(*options.password);
      for (uint8_t b : encryption_header(p.crc, rng)) record.push_back(header_cipher.encrypt(b));
    }
    if (record.size() > vol.room()) return fail(error, "volume size too small for an entry header");
    uint64_t sig_offset = vol.used();
    if (vol.put(record.data(), record.size(), error)) return 1;
    uint64_t need_after =
        i + 1 < entries.size() ? record_size(entries[i + 1], encrypted) : end_size;
    std::optional<Cipher> data_cipher;
    if (encrypted) data_cipher.emplace(*options.password);
    if (place_data(p, sig_offset, need_after, data_cipher ? &*data_cipher : nullptr, vol, error))
      return 1;
  }
  if (options.end != End::none) {
    std::vector<uint8_t> marker;
    put32(marker, options.end == End::stop ? kSigStop : 0);
    if (vol.put(marker.data(), marker.size(), error)) return 1;
  }
  if (vol.commit(error)) return 1;
  if (report) {
    report->first_entry_offset = first;
    report->volumes = vol.names();
    report->entries = static_cast<uint32_t>(entries.size());
  }
  return 0;
}

}  // namespace qgw
