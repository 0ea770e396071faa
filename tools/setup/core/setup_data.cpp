// Encoding and decoding of the setup data record (layout in setup_data.h).
#include "setup_data.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace qgsetup {

namespace {

constexpr char kMagic[8] = {'Q', 'G', 'S', 'E', 'T', 'U', 'P', 'D'};
constexpr uint32_t kKnownFlags = kSlotArchiveCrc | kSlotSigned;
constexpr uint32_t kAllowedMode = 01777;  // permission bits and sticky bit

void put_u(std::vector<uint8_t>* out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_text(std::vector<uint8_t>* out, const std::string& s) {
  put_u(out, s.size(), 4);
  out->insert(out->end(), s.begin(), s.end());
}

uint64_t get_u(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Reads fields from a byte span; every read checks what is left first.
struct Reader {
  const uint8_t* p;
  size_t left;
  bool ok = true;

  uint64_t u(int n) {
    if (!ok || left < static_cast<size_t>(n)) {
      ok = false;
      return 0;
    }
    uint64_t v = get_u(p, n);
    p += n;
    left -= n;
    return v;
  }
  bool text(std::string* s, size_t limit) {
    uint64_t n = u(4);
    if (!ok || n > limit || n > left) {
      ok = false;
      return false;
    }
    s->assign(reinterpret_cast<const char*>(p), n);
    p += n;
    left -= n;
    return true;
  }
};

bool all_zero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

int fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 1;
}

std::string parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int check_item(const PayloadItem& item, const SetupData& data, std::string* error) {
  if (check_item_path(item.path, error)) return 1;
  const std::string& p = item.path;
  if (item.mode & ~kAllowedMode)
    return fail(error, "mode with set-user/group-ID or type bits: " + p);
  switch (item.kind) {
    case ItemKind::file:
      if (item.entry >= data.entry_count) return fail(error, "file without archive entry: " + p);
      if (!item.link_target.empty()) return fail(error, "file with a link target: " + p);
      return 0;
    case ItemKind::directory:
      if (item.entry != kNoEntry || !item.link_target.empty())
        return fail(error, "directory with an entry or a link target: " + p);
      return 0;
    case ItemKind::symlink:
      if (item.entry != kNoEntry) return fail(error, "link with an archive entry: " + p);
      return check_link_target(p, item.link_target, error);
  }
  return fail(error, "unknown item kind: " + p);
}

}  // namespace

int check_item_path(const std::string& path, std::string* error) {
  if (path.empty()) return fail(error, "empty path");
  if (path.size() > kMaxPathBytes) return fail(error, "path too long");
  if (path.find('\0') != std::string::npos) return fail(error, "NUL byte in a path");
  if (path[0] == '/') return fail(error, "absolute path: " + path);
  size_t start = 0;
  for (;;) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..")
      return fail(error, "path with an empty, \".\" or \"..\" component: " + path);
    if (end == path.size()) return 0;
    start = end + 1;
  }
}

int check_link_target(const std::string& link_path, const std::string& target, std::string* error) {
  if (target.empty() || target.size() > kMaxPathBytes || target.find('\0') != std::string::npos)
    return fail(error, "link with an empty or invalid target: " + link_path);
  if (target[0] == '/')
    return fail(error, "link " + link_path + " -> " + target + " leads outside (absolute target)");
  // Depth of the link's folder below the root, then walk the target.
  long depth = static_cast<long>(std::count(link_path.begin(), link_path.end(), '/'));
  size_t start = 0;
  while (start <= target.size()) {
    size_t end = target.find('/', start);
    if (end == std::string::npos) end = target.size();
    std::string part = target.substr(start, end - start);
    if (part == "..") {
      if (--depth < 0)
        return fail(error, "link " + link_path + " -> " + target + " leads outside the folder");
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return 0;
}

int check_setup_data(const SetupData& data, std::string* error) {
  if (data.script_name.size() > kMaxNameBytes || data.license_name.size() > kMaxNameBytes)
    return fail(error, "script or licence name too long");
  if (data.script.size() > kMaxTextBytes || data.license.size() > kMaxTextBytes)
    return fail(error, "script or licence too long");
  if (data.items.size() > kMaxItems) return fail(error, "too many items");
  std::set<std::string> directories, seen;
  std::vector<bool> entry_used(data.entry_count <= kMaxItems ? data.entry_count : 0);
  if (data.entry_count > kMaxItems) return fail(error, "too many archive entries");
  size_t files = 0;
  for (const PayloadItem& item : data.items) {
    if (check_item(item, data, error)) return 1;
    std::string parent = parent_of(item.path);
    if (!parent.empty() && !directories.count(parent))
      return fail(error, "item before its folder: " + item.path);
    if (!seen.insert(item.path).second) return fail(error, "item listed twice: " + item.path);
    if (item.kind == ItemKind::directory) directories.insert(item.path);
    if (item.kind == ItemKind::file) {
      if (entry_used[item.entry]) return fail(error, "archive entry used twice: " + item.path);
      entry_used[item.entry] = true;
      ++files;
    }
  }
  if (files != data.entry_count) return fail(error, "archive entries without a file item");
  return 0;
}

void encode_slot(const IntegritySlot& slot, uint8_t* out) {
  std::vector<uint8_t> v;
  put_u(&v, slot.flags, 4);
  put_u(&v, slot.archive_crc, 4);
  for (const Digest* d :
       {&slot.file_sha256, &slot.stub_sha256, &slot.setup_sha256, &slot.public_key})
    v.insert(v.end(), d->begin(), d->end());
  v.insert(v.end(), slot.signature.begin(), slot.signature.end());
  v.resize(kSlotSize, 0);
  std::memcpy(out, v.data(), kSlotSize);
}

int decode_slot(const uint8_t* in, IntegritySlot* out, std::string* error) {
  out->flags = static_cast<uint32_t>(get_u(in, 4));
  out->archive_crc = static_cast<uint32_t>(get_u(in + 4, 4));
  size_t at = 8;
  for (Digest* d : {&out->file_sha256, &out->stub_sha256, &out->setup_sha256, &out->public_key}) {
    std::memcpy(d->data(), in + at, 32);
    at += 32;
  }
  std::memcpy(out->signature.data(), in + at, 64);
  at += 64;
  if (out->flags & ~kKnownFlags) return fail(error, "unknown flags in the integrity slot");
  if (!all_zero(in + at, kSlotSize - at))
    return fail(error, "reserved bytes of the integrity slot set");
  // An unsigned file has no key or signature: one left behind means the
  // slot was changed.
  if (!(out->flags & kSlotSigned) && !all_zero(in + 104, 96))
    return fail(error, "a signature without the signed flag");
  if (!(out->flags & kSlotArchiveCrc) && out->archive_crc != 0)
    return fail(error, "an archive CRC without its flag");
  return 0;
}

int encode_setup_data(const SetupData& data, std::vector<uint8_t>* out, std::string* error) {
  if (check_setup_data(data, error)) return 1;
  out->assign(kSetupBodyOffset, 0);
  std::memcpy(out->data(), kMagic, sizeof kMagic);
  for (int i = 0; i < 4; ++i) {
    (*out)[8 + i] = static_cast<uint8_t>(kSetupDataVersion >> (8 * i));
    (*out)[12 + i] = static_cast<uint8_t>(kSlotSize >> (8 * i));
  }
  encode_slot(data.slot, out->data() + kSlotOffset);
  put_u(out, data.archive_length, 8);
  put_u(out, data.entry_count, 4);
  for (const std::string* s : {&data.script_name, &data.script, &data.license_name, &data.license})
    put_text(out, *s);
  put_u(out, data.items.size(), 4);
  for (const PayloadItem& item : data.items) {
    put_u(out, static_cast<uint8_t>(item.kind), 1);
    put_u(out, item.mode, 4);
    put_u(out, static_cast<uint64_t>(item.mtime), 8);
    put_u(out, item.entry, 4);
    put_text(out, item.path);
    put_text(out, item.link_target);
  }
  return 0;
}

int decode_setup_data(const uint8_t* bytes, size_t size, SetupData* out, std::string* error) {
  if (size < kSetupBodyOffset || std::memcmp(bytes, kMagic, 8) != 0)
    return fail(error, "no setup data where the anchor says");
  uint32_t version = static_cast<uint32_t>(get_u(bytes + 8, 4));
  if (version != kSetupDataVersion)
    return fail(error, "setup data of version " + std::to_string(version) + " (this reads 1)");
  if (get_u(bytes + 12, 4) != kSlotSize) return fail(error, "setup data with another slot size");
  if (decode_slot(bytes + kSlotOffset, &out->slot, error)) return 1;
  Reader r{bytes + kSetupBodyOffset, size - kSetupBodyOffset};
  out->archive_length = r.u(8);
  out->entry_count = static_cast<uint32_t>(r.u(4));
  r.text(&out->script_name, kMaxNameBytes);
  r.text(&out->script, kMaxTextBytes);
  r.text(&out->license_name, kMaxNameBytes);
  r.text(&out->license, kMaxTextBytes);
  uint64_t count = r.u(4);
  // Each item takes at least 25 bytes: refuse a count the bytes cannot hold
  // before reserving room for it.
  if (!r.ok || count > kMaxItems || count > r.left / 25) return fail(error, "setup data cut short");
  out->items.clear();
  out->items.reserve(count);
  for (uint64_t i = 0; i < count && r.ok; ++i) {
    PayloadItem item;
    uint64_t kind = r.u(1);
    if (kind > static_cast<uint8_t>(ItemKind::symlink)) return fail(error, "unknown item kind");
    item.kind = static_cast<ItemKind>(kind);
    item.mode = static_cast<uint32_t>(r.u(4));
    item.mtime = static_cast<int64_t>(r.u(8));
    item.entry = static_cast<uint32_t>(r.u(4));
    r.text(&item.path, kMaxPathBytes);
    r.text(&item.link_target, kMaxPathBytes);
    out->items.push_back(std::move(item));
  }
  if (!r.ok) return fail(error, "setup data cut short");
  if (r.left != 0) return fail(error, "bytes after the end of the setup data");
  return check_setup_data(*out, error) ? 1 : 0;
}

}  // namespace qgsetup
