// Checks the export table of a built raziza3z.dll by reading the PE file
// itself: machine, library name, ordinal base, the count of functions and
// names, every name at its ordinal (undecorated, case as given), and that
// the DLL imports only system DLLs (libgcc and libstdc++ are linked in).
//
//   pe_exports i686 raziza3z.dll      the 28 exports, nothing else
//   pe_exports x86_64 raziza3z.dll    the 28, then the host settings
//
// Runs on the build machine; exit status 0 when every check holds.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kExports[] = {
    "QEN_UNPACK",     "QEN_UINIT_MP", "UDF1",           "QEN_DECRYPTKEY",   "QEN_NEXTLOOP",
    "CREATELINK",     "CREATEFOLDER", "PATHMACRO",      "LOGINFO",          "INITMAK",
    "QEN_CREATEPATH", "WRITEREG",     "strnsub",        "QEN_U_FILERENAME", "GETSFP",
    "SETSFP",         "INITSCRIPT",   "CHECKCONDITION", "CONVERTMACRO",     "GETREG",
    "REGTLB",         "SFXSIG",       "QEN_FILEEXISTS", "QEN_U_SETMSG",     "WEBSTARTUP",
    "WEBCLEANUP",     "GETHTTP",      "QEN_RESETDLL",
};

// Exported by name behind the table on 64-bit Windows only.
const char* const kHostExports[] = {
    "rz_host_set_message_box", "rz_host_set_beep",       "rz_host_set_header_log",
    "rz_host_header_log",      "rz_host_set_stall_time", "rz_host_stall_time",
};

const char* const kSystemDlls[] = {"kernel32.dll", "user32.dll",  "advapi32.dll", "ole32.dll",
                                   "oleaut32.dll", "shell32.dll", "wsock32.dll",  "msvcrt.dll"};

struct Section {
  uint32_t va = 0, size = 0, raw_size = 0, raw_offset = 0;
};

class Pe {
 public:
  explicit Pe(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {}

  bool ok(size_t at, size_t n) const { return at <= b_.size() && n <= b_.size() - at; }
  uint16_t u16(size_t at) const { return ok(at, 2) ? uint16_t(b_[at] | b_[at + 1] << 8) : 0; }
  uint32_t u32(size_t at) const {
    return ok(at, 4) ? uint32_t(b_[at]) | uint32_t(b_[at + 1]) << 8 | uint32_t(b_[at + 2]) << 16 |
                           uint32_t(b_[at + 3]) << 24
                     : 0;
  }

  // The file offset of an RVA, or -1 when no section holds it.
  long offset(uint32_t rva) const {
    for (const Section& s : sections_) {
      uint32_t span = s.size > s.raw_size ? s.size : s.raw_size;
      if (rva >= s.va && rva - s.va < span && rva - s.va < s.raw_size)
        return static_cast<long>(s.raw_offset + (rva - s.va));
    }
    return -1;
  }

  // A zero-terminated text at an RVA; false when it runs off the file.
  bool text(uint32_t rva, std::string& out) const {
    long at = offset(rva);
    if (at < 0) return false;
    out.clear();
    for (size_t i = static_cast<size_t>(at); i < b_.size(); ++i) {
      if (b_[i] == 0) return true;
      out += static_cast<char>(b_[i]);
    }
    return false;
  }

  // Reads the headers: machine, the export and import directories.
  bool parse(std::string& error) {
    if (!ok(0, 64) || b_[0] != 'M' || b_[1] != 'Z') return fail(error, "no MZ header");
    size_t pe = u32(0x3c);
    if (!ok(pe, 24) || std::memcmp(&b_[pe], "PE\0\0", 4) != 0) return fail(error, "no PE header");
    machine = u16(pe + 4);
    size_t nsections = u16(pe + 6);
    size_t opt_size = u16(pe + 20);
    size_t opt = pe + 24;
    if (!ok(opt, opt_size)) return fail(error, "optional header cut short");
    uint16_t magic = u16(opt);
    size_t dirs = magic == 0x10b ? opt + 96 : magic == 0x20b ? opt + 112 : 0;
    if (!dirs) return fail(error, "unknown optional header");
    uint32_t ndirs = u32(dirs - 4);
    if (ndirs < 2 || !ok(dirs, 16) || dirs + 16 > opt + opt_size)
      return fail(error, "no export or import directory");
    export_rva = u32(dirs);
    import_rva = u32(dirs + 8);
    size_t table = opt + opt_size;
    if (!ok(table, nsections * 40)) return fail(error, "section table cut short");
    for (size_t i = 0; i < nsections; ++i) {
      size_t s = table + i * 40;
      sections_.push_back({u32(s + 12), u32(s + 8), u32(s + 16), u32(s + 20)});
    }
    return true;
  }

  uint16_t machine = 0;
  uint32_t export_rva = 0, import_rva = 0;

 private:
  static bool fail(std::string& error, const char* what) {
    error = what;
    return false;
  }
  std::vector<uint8_t> b_;
  std::vector<Section> sections_;
};

int g_failures = 0;

void check(bool good, const std::string& what) {
  if (!good) {
    std::printf("FAIL: %s\n", what.c_str());
    ++g_failures;
  }
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The names at ordinal base + i, in order; exactly these and no others.
void check_exports(const Pe& pe, const std::vector<std::string>& expected) {
  long dir = pe.offset(pe.export_rva);
  if (pe.export_rva == 0 || dir < 0) return check(false, "no export directory");
  size_t d = static_cast<size_t>(dir);
  std::string name;
  check(pe.text(pe.u32(d + 12), name) && lower(name) == "raziza3z.dll",
        "library name is raziza3z.dll, found \"" + name + "\"");
  uint32_t base = pe.u32(d + 16), nfunctions = pe.u32(d + 20), nnames = pe.u32(d + 24);
  check(base == 1, "ordinal base is 1, found " + std::to_string(base));
  check(nfunctions == expected.size(), "function count " + std::to_string(expected.size()) +
                                           ", found " + std::to_string(nfunctions));
  check(nnames == expected.size(),
        "name count " + std::to_string(expected.size()) + ", found " + std::to_string(nnames));
  long functions = pe.offset(pe.u32(d + 28));
  long names = pe.offset(pe.u32(d + 32));
  long ordinals = pe.offset(pe.u32(d + 36));
  if (functions < 0 || names < 0 || ordinals < 0) return check(false, "export arrays missing");
  std::vector<std::string> at_ordinal(nfunctions);
  for (uint32_t i = 0; i < nnames && i < 4096; ++i) {
    std::string n;
    if (!pe.text(pe.u32(static_cast<size_t>(names) + 4u * i), n)) {
      check(false, "export name " + std::to_string(i) + " unreadable");
      continue;
    }
    uint16_t index = pe.u16(static_cast<size_t>(ordinals) + 2u * i);
    if (index >= nfunctions) {
      check(false, n + " has an ordinal outside the table");
      continue;
    }
    at_ordinal[index] = n;
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    std::string found = i < at_ordinal.size() ? at_ordinal[i] : "";
    check(found == expected[i], "ordinal " + std::to_string(base + i) + " is " + expected[i] +
                                    ", found \"" + found + "\"");
    if (i < nfunctions)
      check(pe.u32(static_cast<size_t>(functions) + 4u * i) != 0,
            "ordinal " + std::to_string(base + i) + " has code");
  }
}

void check_imports(const Pe& pe) {
  long dir = pe.offset(pe.import_rva);
  if (pe.import_rva == 0 || dir < 0) return check(false, "no import directory");
  std::set<std::string> allowed;
  for (const char* s : kSystemDlls) allowed.insert(s);
  for (size_t d = static_cast<size_t>(dir); pe.ok(d, 20) && pe.u32(d + 12) != 0; d += 20) {
    std::string name;
    check(pe.text(pe.u32(d + 12), name), "import name readable");
    std::printf("imports %s\n", name.c_str());
    check(allowed.count(lower(name)) == 1, "imports only system DLLs, found " + name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "i686") != 0 && std::strcmp(argv[1], "x86_64") != 0)) {
    std::fprintf(stderr, "usage: pe_exports i686|x86_64 raziza3z.dll\n");
    return 2;
  }
  bool wide = std::strcmp(argv[1], "x86_64") == 0;
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::printf("FAIL: cannot read %s\n", argv[2]);
    return 1;
  }
  Pe pe(
      std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  std::string error;
  if (!pe.parse(error)) {
    std::printf("FAIL: %s\n", error.c_str());
    return 1;
  }
  check(pe.machine == (wide ? 0x8664 : 0x14c), "machine is " + std::string(argv[1]));
  std::vector<std::string> expected(std::begin(kExports), std::end(kExports));
  if (wide) expected.insert(expected.end(), std::begin(kHostExports), std::end(kHostExports));
  check_exports(pe, expected);
  check_imports(pe);
  if (g_failures) {
    std::printf("export table of %s: %d check(s) failed\n", argv[2], g_failures);
    return 1;
  }
  std::printf("export table of %s: %zu exports at ordinals 1-%zu, all checks passed\n", argv[2],
              expected.size(), expected.size());
  return 0;
}
