// The POSIX registry store as a file: the export formats it reads and
// writes back, hand-edited lines, links, temporary files left by a killed
// writer, and one commit per WRITEREG call.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "raziza3z.h"
#include "raziza3z_host.h"
#include "script_fixture.h"

namespace {

using namespace std::string_literals;
using rz_test::read_file;
using rz_test::ScriptFixture;
using rz_test::utf16le;
using rz_test::write_file;

// "result type:bytes" of a host query.
std::string get(int32_t root, const char* key, const char* name) {
  uint32_t type = 0, size = 0;
  int32_t rc = rz_host_reg_query(root, key, name, &type, nullptr, &size);
  if (rc != 0) return std::to_string(rc);
  std::string data(size, '\0');
  rz_host_reg_query(root, key, name, &type, data.data(), &size);
  return std::to_string(type) + ":" + data;
}

class StoreFile : public ScriptFixture {
 protected:
  void SetUp() override {
    ScriptFixture::SetUp();
    rz_host_registry_status();
  }
};

// ---- the formats the registry editor writes ---------------------------------

const char kUtf8Body[] =
    "\r\n[HKEY_CURRENT_USER\\Software]\r\n"
    "\r\n[HKEY_CURRENT_USER\\Software\\Demo]\r\n"
    "\"Text\"=\"Gr\xc3\xbc\xc3\x9f\x65\"\r\n"
    "\"Num\"=dword:0000002a\r\n"
    "\"Bin\"=hex:01,02\r\n";

TEST_F(StoreFile, ReadsAndWritesBackEveryExportFormat) {
  const std::string body = kUtf8Body;
  // hex(2) data "%A%": UTF-16LE in the Unicode format, 8-bit in REGEDIT4.
  const std::string exp5 = "\"Exp\"=hex(2):25,00,41,00,25,00,00,00\r\n";
  const std::string exp4 = "\"Exp\"=hex(2):25,41,25,00\r\n";
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n";
  struct {
    const char* what;
    std::string before;  // the file as found
    std::string added;   // the line a new REG_SZ value "New" = "\x80" (code page 1252) adds
    std::string encode_prefix;
    bool utf16;
  } cases[] = {
      {"REGEDIT4", "REGEDIT4\r\n" + body + exp4, "\"New\"=\"\x80\"\r\n", "", false},
      {"REGEDIT4 with a UTF-8 mark", "\xEF\xBB\xBFREGEDIT4\r\n" + body + exp4,
       "\"New\"=\"\xe2\x82\xac\"\r\n", "\xEF\xBB\xBF", false},
      {"version 5, UTF-16LE", v5 + body + exp5, "\"New\"=\"\xe2\x82\xac\"\r\n", "\xFF\xFE", true},
      {"version 5, UTF-8", v5 + body + exp5, "\"New\"=\"\xe2\x82\xac\"\r\n", "", false},
      {"version 5, UTF-8 with a mark", "\xEF\xBB\xBF" + v5 + body + exp5,
       "\"New\"=\"\xe2\x82\xac\"\r\n", "\xEF\xBB\xBF", false},
  };
  for (const auto& c : cases) {
    auto in_file = [&](const std::string& text) {
      if (!c.utf16) return text;
      // The text is UTF-8 here; the file holds it as UTF-16LE behind a mark.
      std::u16string units;
      for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        char32_t cp = b;
        size_t n = b < 0x80 ? 1 : b < 0xe0 ? 2 : 3;
        if (n == 2) cp = ((b & 0x1f) << 6) | (text[i + 1] & 0x3f);
        if (n == 3) cp = ((b & 0x0f) << 12) | ((text[i + 1] & 0x3f) << 6) | (text[i + 2] & 0x3f);
        units.push_back(static_cast<char16_t>(cp));
        i += n;
      }
      return "\xFF\xFE" + utf16le(units);
    };
    write_file(store_, in_file(c.before));
    EXPECT_EQ(get(2, "software\\demo", "text"), "1:Gr\xc3\xbc\xc3\x9f\x65\0"s) << c.what;
    EXPECT_EQ(get(2, "Software\\Demo", "Num"), "4:\x2a\0\0\0"s) << c.what;
    EXPECT_EQ(get(2, "Software\\Demo", "Bin"), "3:\x01\x02"s) << c.what;
    EXPECT_EQ(get(2, "Software\\Demo", "Exp"), "2:%A%\0"s) << c.what;
    char out[128];
    EXPECT_EQ(GETREG(2, "Software\\Demo", "Num", out, 0), 1) << c.what;
    EXPECT_EQ(rz_host_reg_set(2, "Software\\Demo", "New", RZ_REG_SZ, "\x80", 2), 0) << c.what;
    EXPECT_EQ(read_file(store_), in_file(c.before + c.added)) << c.what;
    EXPECT_EQ(rz_host_registry_status(), 0u) << c.what;
  }
}

// A file of no known format is refused, loudly, and never written.
TEST_F(StoreFile, RefusesWhatItCannotWriteBack) {
  const std::string cases[] = {
      "\xFE\xFF" + std::string("\0R\0E\0G\0E\0D\0I\0T\0\x34", 16),  // UTF-16BE
      "REGEDIT5\r\n",
      "\xFF\xFE" + utf16le(u"plain text\r\n"),
      "just some text\n",
  };
  for (const std::string& c : cases) {
    write_file(store_, c);
    EXPECT_EQ(get(2, "K", "v"), "-1");
    EXPECT_EQ(rz_host_reg_set(2, "K", "v", RZ_REG_SZ, "x", 2), -1);
    use_script("[REG]\nNdx=1\n+1a=2\n+1b=K\n+1c=v\n+1d=1\n+1e=2\n");
    WRITEREG("");
    EXPECT_EQ(read_file(store_), c);
    EXPECT_EQ(rz_host_registry_status() & RZ_STORE_WRITE_FAILED,
              static_cast<uint32_t>(RZ_STORE_WRITE_FAILED));
  }
}

// ---- hand-edited lines --------------------------------------------------------

TEST_F(StoreFile, MalformedLinesAreSkippedKeptAndReported) {
  struct {
    const char* what;
    std::string line;
    bool before_any_key = false;
  } cases[] = {
      {"a stray text line", "this is not a value"},
      {"bad hex digits", "\"bad\"=hex:zz,01"},
      {"bad dword", "\"bad\"=dword:xyz"},
      {"dword too long", "\"bad\"=dword:123456789"},
      {"string without its closing quote", "\"bad\"=\"abc"},
      {"name without its closing quote", "\"bad=\"abc\""},
      {"no equals sign", "\"bad\" \"abc\""},
      {"a key line without its bracket", "[HKEY_CURRENT_USER\\Broken"},
      {"a value before any key", "\"early\"=\"x\"", true},
      {"unknown type form", "\"bad\"=hex(zz):01"},
  };
  for (const auto& c : cases) {
    std::string head = "REGEDIT4\r\n";
    std::string key = "\r\n[HKEY_CURRENT_USER\\K]\r\n\"a\"=\"1\"\r\n";
    std::string tail = "\"b\"=\"2\"\r\n";
    std::string text = c.before_any_key ? head + c.line + "\r\n" + key + tail
                                        : head + key + c.line + "\r\n" + tail;
    write_file(store_, text);
    // The values on both sides of the line are there.
    EXPECT_EQ(get(2, "K", "a"), "1:1\0"s) << c.what;
    EXPECT_EQ(get(2, "K", "b"), "1:2\0"s) << c.what;
    EXPECT_EQ(get(2, "K", "bad"), "1") << c.what;
    EXPECT_EQ(rz_host_registry_status(), static_cast<uint32_t>(RZ_STORE_BAD_LINES)) << c.what;
    // WRITEREG writes, and the line stays where it stood.
    use_script("[REG]\nNdx=1\n+1a=2\n+1b=K\n+1c=c\n+1d=3\n+1e=2\n");
    WRITEREG("");
    EXPECT_EQ(read_file(store_), text + "\"c\"=\"3\"\r\n") << c.what;
    EXPECT_EQ(get(2, "K", "c"), "1:3\0"s) << c.what;
    EXPECT_EQ(rz_host_registry_status(), static_cast<uint32_t>(RZ_STORE_BAD_LINES)) << c.what;
  }
}

TEST_F(StoreFile, UnfinishedLastValueAndCommentsAreKept) {
  const std::string comments =
      "REGEDIT4\r\n; made by hand\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"gone\"=-\r\n; note\r\n";
  const std::string old_key = "\r\n[-HKEY_CURRENT_USER\\Old]\r\n\"x\"=\"1\"";
  struct {
    const char* what;
    std::string text, after;
    uint32_t status;
  } cases[] = {
      {"wrapped value that the file ends inside",
       "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"b\"=hex:01,\\\r\n  02,\\",
       // The wrapped line stays last, so that it cannot swallow the new one.
       "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"new\"=\"n\"\r\n\"b\"=hex:01,\\\r\n  02,\\\r\n",
       RZ_STORE_BAD_LINES},
      {"comments and deletions of an import file", comments + old_key,
       comments + "\"new\"=\"n\"\r\n" + old_key + "\r\n", 0},
  };
  for (const auto& c : cases) {
    write_file(store_, c.text);
    EXPECT_EQ(get(2, "K", "b"), "1") << c.what;
    EXPECT_EQ(get(2, "Old", "x"), "1") << c.what;
    EXPECT_EQ(rz_host_reg_set(2, "K", "new", RZ_REG_SZ, "n", 2), 0) << c.what;
    EXPECT_EQ(read_file(store_), c.after) << c.what;  // lines as they stood
    EXPECT_EQ(get(2, "K", "new"), "1:n\0"s) << c.what;
    EXPECT_EQ(rz_host_registry_status(), c.status) << c.what;
  }
}

// ---- links and temporary files ------------------------------------------------

TEST_F(StoreFile, AStoreReachedThroughALinkIsWrittenWhereItLies) {
  struct {
    const char* what;
    std::string target;  // as the link holds it
    bool exists;
  } cases[] = {
      {"absolute link", dir_.file("real/a.reg"), true},
      {"relative link", "real/b.reg", true},
      {"link to a file not made yet", "real/c.reg", false},
  };
  ASSERT_EQ(::mkdir(dir_.file("real").c_str(), 0755), 0);
  for (const auto& c : cases) {
    std::string link = dir_.file("link.reg");
    std::string real = c.target[0] == '/' ? c.target : dir_.file(c.target);
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(c.target.c_str(), link.c_str()), 0);
    if (c.exists) write_file(real, "REGEDIT4\r\n");
    rz_host_set_registry_file(link.c_str());
    use_script("[REG]\nNdx=1\n+1a=2\n+1b=K\n+1c=v\n+1d=1\n+1e=2\n");
    WRITEREG("");
    EXPECT_EQ(rz_host_reg_set(2, "K", "w", RZ_REG_SZ, "2", 2), 0) << c.what;
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what << ": the link was replaced";
    EXPECT_EQ(read_file(real),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"v\"=\"1\"\r\n\"w\"=\"2\"\r\n")
        << c.what;
  }
}

TEST_F(StoreFile, TemporaryFilesOfAKilledWriterAreRemoved) {
  write_file(store_, "REGEDIT4\r\n");
  const std::string stale[] = {".store.reg.tmpAb12Cd", ".store.reg.tmp000000"};
  const std::string others[] = {".store.reg.tmpAb12C", ".other.reg.tmpAb12Cd",
                                "store.reg.tmpAb12Cd"};
  for (const auto& name : stale) write_file(dir_.file(name), "");
  for (const auto& name : others) write_file(dir_.file(name), "keep");
  EXPECT_EQ(rz_host_reg_set(2, "K", "v", RZ_REG_SZ, "1", 2), 0);
  struct stat st;
  for (const auto& name : stale) EXPECT_NE(::stat(dir_.file(name).c_str(), &st), 0) << name;
  for (const auto& name : others) EXPECT_EQ(read_file(dir_.file(name)), "keep") << name;
}

// ---- one commit per WRITEREG call ---------------------------------------------

// Items written in one WRITEREG call give the same store and log as the same
// items written one call each.
TEST_F(StoreFile, OneCallWritesWhatSeparateCallsWrite) {
  std::string script = "[REG]\nNdx=6\n";
  const char* items[] = {
      "+1z=A\n+1a=2\n+1b=Software\\V\n+1c=one\n+1d=1\n+1e=2\n",
      "+2z=B\n+2a=3\n+2b=Software\\V\\Deep\\Er\n+2c=n\n+2d=-5\n+2e=1\n",
      "+3z=C\n+3a=2\n+3b=Software\\V\n+3c=one\n+3d=2\n+3e=2\n",          // replaces item 1
      "+4z=D\n+4a=2\n+4b=Software\\V\n+4c=one\n+4d=3\n+4e=2\n+4no=1\n",  // kept: item 3 holds it
      "+5z=E\n+5a=1\n+5b=.ext\n+5c=\n+5d=01 02\n+5e=3\n",
      "+6z=F\n+6a=9\n+6b=Nowhere\n+6c=x\n+6d=1\n+6e=2\n",
  };
  for (const char* item : items) script += item;
  use_script(script);
  for (const char* tag : {"A", "B", "C", "D", "E", "F"}) WRITEREG(tag);
  std::string separate_store = read_file(store_), separate_log = log();
  ::unlink(store_.c_str());
  ASSERT_EQ(::ftruncate(log_fd_, 0), 0);
  ASSERT_EQ(::lseek(log_fd_, 0, SEEK_SET), 0);
  WRITEREG("ABCDEF");
  EXPECT_EQ(read_file(store_), separate_store);
  EXPECT_EQ(log(), separate_log);
  EXPECT_NE(separate_log.find("RegVal : -5"), std::string::npos) << separate_log;
}

// A reader in another process sees the store of before the call or after it.
TEST_F(StoreFile, ACallThatFailsToCommitReportsIt) {
  // The store's folder is taken by a file: nothing can be written.
  write_file(dir_.file("blocked"), "x");
  rz_host_set_registry_file(dir_.file("blocked/store.reg").c_str());
  use_script(
      "[REG]\nNdx=2\n+1a=2\n+1b=K\n+1c=v\n+1d=1\n+1e=2\n+2a=2\n+2b=K\n+2c=w\n+2d=1\n+2e=2\n");
  EXPECT_EQ(WRITEREG(""), 3);
  EXPECT_EQ(log(), "RegRoot: 2\r\nRegRoot: 2\r\n");
  EXPECT_EQ(rz_host_registry_status(), static_cast<uint32_t>(RZ_STORE_WRITE_FAILED));
}

}  // namespace

#endif  // !_WIN32
