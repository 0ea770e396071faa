// Fuzz target for the archive walk and extraction, through the exports.
// Built with libFuzzer it takes inputs from the fuzzer; otherwise it is a
// plain program that replays the files (or the files of the folders) named
// on its command line, which is how CTest runs the seed corpus.
//
// An input is a small header and the archive's bytes:
//   byte 0  options: bits 0-1 the number of volume files (1-3), bit 2 the
//           stored directories are used, bit 3 existing files are
//           overwritten (else the replace prompt is answered), bit 4 the
//           entries' own names are used (else e0, e1, ...), bit 5 the
//           password "pw" is set, bit 6 no Create Path prompt, bit 7 the
//           walk marks the archive spanned;
//   byte 1  the answers to the disk prompt, one bit each (1 OK, 0 Cancel;
//           Cancel from the ninth on);
//   byte 2  the answers to the other prompts, two bits each (Yes, No,
//           Cancel, Yes);
//   bytes 3-4 the length of the first volume and bytes 5-6 that of the
//           second (little-endian, taken modulo what is left + 1);
//   the rest: the bytes of the volume files, one after the other.
//
// The archive is walked twice in a scratch folder: once test-only, once
// extracting into a destination folder.  What must hold, checked after
// every call (any breach aborts):
//   - a test-only walk creates, changes and deletes nothing;
//   - an extraction creates or changes at most its output file, inside the
//     destination, and only when it succeeds (so no temporary file
//     survives any result, and nothing appears outside the destination);
//     directories it makes are inside the destination;
//   - a file extracted with success has the entry's size and CRC-32;
//   - both walks give the same results entry by entry, until the first
//     result that only an extraction can give (a file that cannot be made,
//     a prompt answered No or Cancel, a name that leaves the destination);
//   - no descriptor is left open.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "raziza3z.h"
#include "raziza3z_host.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMaxEntries = 32;

struct Input {
  uint8_t options = 0, disk_answers = 0, other_answers = 0;
  std::vector<std::vector<uint8_t>> volumes;
};

struct Prompts {
  uint8_t disk = 0, other = 0;
  int disk_asked = 0, other_asked = 0;
  bool other_refused = false;  // No or Cancel given to a Create Path or replace prompt
};
Prompts g_prompts;

int32_t answer(void*, RZ_HWND, const char*, const char*, uint32_t style) {
  Prompts& p = g_prompts;
  switch (style & 0xF) {
    case RZ_MB_OKCANCEL:
      // The disk prompt is asked again for as long as OK comes and the
      // volume is missing: after eight answers the user gives up.
      if (p.disk_asked >= 8) return RZ_IDCANCEL;
      return (p.disk >> p.disk_asked++) & 1 ? RZ_IDOK : RZ_IDCANCEL;
    case RZ_MB_YESNOCANCEL: {
      static const int32_t kAnswers[] = {RZ_IDYES, RZ_IDNO, RZ_IDCANCEL, RZ_IDYES};
      int32_t a = kAnswers[(p.other >> (2 * (p.other_asked++ % 4))) & 3];
      if (a != RZ_IDYES) p.other_refused = true;
      return a;
    }
    default:
      return RZ_IDOK;
  }
}

Input parse(const uint8_t* data, size_t size) {
  Input in;
  uint8_t head[7] = {};
  size_t n = size < 7 ? size : 7;
  if (n == 0) return in;
  std::memcpy(head, data, n);
  in.options = head[0];
  in.disk_answers = head[1];
  in.other_answers = head[2];
  const uint8_t* rest = data + n;
  size_t left = size - n;
  int count = (in.options & 3) % 3 + 1;
  for (int v = 0; v < count; ++v) {
    size_t take = left;
    if (v + 1 < count) take = (head[3 + 2 * v] | head[4 + 2 * v] << 8) % (left + 1);
    in.volumes.emplace_back(rest, rest + take);
    rest += take;
    left -= take;
  }
  return in;
}

// What a folder tree holds: kind, size and identity of every entry.
struct Item {
  char kind;  // f file, d directory, l link, o other
  int64_t size;
  uint64_t inode;
  int64_t mtime_ns;
  bool operator==(const Item&) const = default;
};
using Snapshot = std::map<std::string, Item>;

Snapshot snapshot(const std::string& root) {
  Snapshot s;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st;
    std::string p = it->path().string();
    if (::lstat(p.c_str(), &st) != 0) continue;
    char kind = S_ISREG(st.st_mode)   ? 'f'
                : S_ISDIR(st.st_mode) ? 'd'
                : S_ISLNK(st.st_mode) ? 'l'
                                      : 'o';
    // A folder's own size and time change with what it holds, which shows
    // as entries of its own.
    bool folder = kind == 'd';
    s[p.substr(root.size())] = {
        kind, folder ? 0 : static_cast<int64_t>(st.st_size), static_cast<uint64_t>(st.st_ino),
        folder ? 0 : static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  }
  return s;
}

[[noreturn]] void breach(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "archive_fuzz: %s %s\n", what, detail.c_str());
  std::abort();
}

int open_descriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

struct Scratch {
  std::string root, in, out, first;
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "rzfuzz.XXXXXX").string();
    if (!::mkdtemp(pattern.data())) breach("cannot make a scratch folder");
    root = pattern;
    in = root + "/in";
    out = root + "/in/../out";  // the destination as a host may name it
    first = in + "/SETUP.QG";
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  void reset(const Input& input) {
    std::error_code ec;
    fs::remove_all(root + "/in", ec);
    fs::remove_all(root + "/out", ec);
    fs::create_directories(root + "/in");
    fs::create_directories(root + "/out");
    static const char* kNames[] = {"/SETUP.QG", "/SETUP.-02", "/SETUP.-03"};
    for (size_t v = 0; v < input.volumes.size(); ++v) {
      std::ofstream f(in + kNames[v], std::ios::binary);
      f.write(reinterpret_cast<const char*>(input.volumes[v].data()),
              static_cast<std::streamsize>(input.volumes[v].size()));
    }
  }
};

struct Step {
  int32_t next = 0, unpack = 0;
  bool refused = false;  // a Create Path or replace prompt was answered No or Cancel
};

uint32_t unpack_options(const Input& in, bool test_only) {
  uint32_t o = 0;
  if (in.options & 4) o |= UNPACK_USE_DIRECTORY;
  if (in.options & 8) o |= UNPACK_OVERWRITE;
  if (in.options & 64) o |= UNPACK_NO_PATH_PROMPT;
  if (test_only) o |= UNPACK_TEST_ONLY;
  return o;
}

// A file extracted with success is the entry.
void check_output(const Scratch& sc, const std::string& output, const EntryHeader& h) {
  std::ifstream f(sc.root + output, std::ios::binary);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  uLong crc = crc32(0L, data.data(), static_cast<uInt>(data.size()));
  bool decoded = h.method == 2;
  if ((decoded && data.size() != h.unpacked_size) || crc != h.crc32 || (!decoded && !data.empty()))
    breach("extracted file differs from its entry:", output);
}

// After one extraction: the only change is its output file, made on
// success, inside the destination; new directories are inside it too.
void check_extraction(const Scratch& sc, const Snapshot& before, const Snapshot& after,
                      int32_t result, const EntryHeader& h) {
  int changed_files = 0;
  for (const auto& [path, item] : after) {
    auto old = before.find(path);
    if (old != before.end() && old->second == item) continue;
    if (path.rfind("/out/", 0) != 0) breach("changed outside the destination:", path);
    if (item.kind == 'd' && old == before.end()) continue;
    if (item.kind != 'f' || result != 0 || ++changed_files > 1)
      breach("unexpected file after the result", std::to_string(result) + " " + path);
    check_output(sc, path, h);
  }
  for (const auto& [path, item] : before)
    if (!after.count(path)) breach("deleted:", path);
}

std::vector<Step> walk(const Scratch& sc, const Input& in, bool test_only) {
  QEN_RESETDLL();
  UDF1(0, 0);
  QEN_DECRYPTKEY((in.options & 32) ? "pw" : "");
  QEN_U_FILERENAME("");
  g_prompts = Prompts{in.disk_answers, in.other_answers};
  char path[256];
  std::snprintf(path, sizeof path, "%s", sc.first.c_str());
  std::vector<Step> steps;
  for (int i = 0; i < kMaxEntries; ++i) {
    Step st;
    EntryInfo info;
    st.next = QEN_NEXTLOOP(path, (in.options & 128) ? NEXT_MARK_SPANNED : 0, &info);
    if (st.next != 0) {
      steps.push_back(st);
      break;
    }
    std::string name = (in.options & 16) ? std::string(info.name) : "e" + std::to_string(i);
    Snapshot before = test_only ? Snapshot{} : snapshot(sc.root);
    g_prompts.other_refused = false;
    char spare[4] = "";
    st.unpack =
        QEN_UNPACK(name.c_str(), spare, path, sc.out.c_str(), unpack_options(in, test_only));
    st.refused = g_prompts.other_refused;
    if (!test_only) check_extraction(sc, before, snapshot(sc.root), st.unpack, info.header);
    steps.push_back(st);
  }
  QEN_RESETDLL();
  return steps;
}

// Results that only an extraction can give.
bool extraction_only(const Step& s) {
  switch (s.unpack) {
    case 7:   // a directory cannot be made
    case 15:  // the output file cannot be made or replaced
    case 20:  // a write failed
    case 53:  // the name leads out of the destination
    case -1:  // skipped: the file exists
      return true;
    default:
      return s.refused;  // -22 or -30 from a Create Path or replace prompt
  }
}

void compare(const std::vector<Step>& test, const std::vector<Step>& real) {
  for (size_t i = 0; i < test.size() && i < real.size(); ++i) {
    if (test[i].next != real[i].next) breach("walks differ at entry", std::to_string(i));
    if (test[i].next != 0) return;
    if (test[i].unpack == real[i].unpack) continue;
    if (extraction_only(real[i])) return;  // the walks may part from here
    breach("test-only and extraction differ at entry", std::to_string(i) + ": " +
                                                           std::to_string(test[i].unpack) + " vs " +
                                                           std::to_string(real[i].unpack));
  }
  if (test.size() != real.size()) breach("walks differ in length");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch sc;
  static bool host_set = false;
  if (!host_set) {
    rz_host_set_message_box(answer, nullptr);
    host_set = true;
  }
  Input in = parse(data, size);
  int descriptors = open_descriptors();
  sc.reset(in);
  Snapshot start = snapshot(sc.root);
  std::vector<Step> tested = walk(sc, in, true);
  if (!(snapshot(sc.root) == start)) breach("a test-only walk changed the scratch folder");
  std::vector<Step> extracted = walk(sc, in, false);
  compare(tested, extracted);
  if (open_descriptors() != descriptors) breach("a descriptor was left open");
  return 0;
}

#include "replay_main.h"
