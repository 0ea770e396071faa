// Profile (INI) lookups and writes.
// These check the POSIX INI reader and writer; on Windows the system's
// GetPrivateProfile*A and WritePrivateProfileStringA serve, which the
// Win32 suite checks.
#if !defined(_WIN32)
#include "platform/profile.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "temp_dir.h"

namespace {

using rz::plat::profile_get_int;
using rz::plat::profile_get_string;
using rz::plat::profile_write_string;
using rz_test::read_file;
using rz_test::TempDir;
using rz_test::write_file;

const char kSample[] =
    "top=before any section\r\n"
    "; a comment\r\n"
    "[Main]\r\n"
    "  Name =  Value with spaces  \r\n"
    "quoted=\"  kept blanks  \"\r\n"
    "single='x'\r\n"
    "lonequote=\"\r\n"
    "#=3\r\n"
    "empty=\r\n"
    ";hidden=1\r\n"
    "dup=first\r\n"
    "dup=second\r\n"
    "num=  42abc\r\n"
    "neg=-7\r\n"
    "plus=+12\r\n"
    "hex=0x10\r\n"
    "text=abc\r\n"
    "noequals\r\n"
    "[ Other ]\r\n"
    "Name=other\r\n"
    "[main]\r\n"
    "later=in second main\r\n"
    "dup=third\r\n";

struct StringCase {
  const char* section;
  const char* key;
  const char* expect;
};

TEST(ProfileRead, StringLookups) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::string ini = dir.file("s.ini");
  write_file(ini, kSample);
  const StringCase cases[] = {
      {"Main", "Name", "Value with spaces"},
      {"MAIN", "nAmE", "Value with spaces"},
      {" Main ", " Name ", "Value with spaces"},
      {"Main", "quoted", "  kept blanks  "},
      {"Main", "single", "x"},
      {"Main", "lonequote", "\""},
      {"Main", "#", "3"},
      {"Main", "empty", ""},
      {"Main", ";hidden", "DEF"},
      {"Main", "dup", "first"},
      {"Main", "later", "in second main"},
      {"Main", "noequals", "DEF"},
      {"Other", "name", "other"},
      {"Main", "top", "DEF"},
      {"Missing", "Name", "DEF"},
      {"Main", "missing", "DEF"},
  };
  for (const auto& c : cases) {
    char out[64];
    std::memset(out, 'X', sizeof out);
    uint32_t n = profile_get_string(c.section, c.key, "DEF", out, sizeof out, ini.c_str());
    EXPECT_STREQ(out, c.expect) << c.section << "/" << c.key;
    EXPECT_EQ(n, std::strlen(c.expect)) << c.section << "/" << c.key;
  }
}

TEST(ProfileRead, CutsToSizeLessOneAndNeverWritesPastIt) {
  TempDir dir;
  std::string ini = dir.file("s.ini");
  write_file(ini, kSample);
  char out[8];
  std::memset(out, 'X', sizeof out);
  EXPECT_EQ(profile_get_string("Main", "Name", "", out, 5, ini.c_str()), 4u);
  EXPECT_STREQ(out, "Valu");
  EXPECT_EQ(out[5], 'X');
  // The default is cut the same way, and loses trailing blanks as on Windows.
  EXPECT_EQ(profile_get_string("Main", "none", "abcdefgh", out, 4, ini.c_str()), 3u);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(profile_get_string("Main", "none", "ab  ", out, 8, ini.c_str()), 2u);
  EXPECT_STREQ(out, "ab");
  EXPECT_EQ(profile_get_string("Main", "none", nullptr, out, 8, ini.c_str()), 0u);
  EXPECT_STREQ(out, "");
  out[0] = 'X';
  EXPECT_EQ(profile_get_string("Main", "Name", "", out, 0, ini.c_str()), 0u);
  EXPECT_EQ(out[0], 'X');
}

TEST(ProfileRead, AbsentFileOrEmptyPathGivesDefaults) {
  TempDir dir;
  char out[16];
  std::string missing = dir.file("none.ini");
  EXPECT_EQ(profile_get_string("A", "b", "d", out, sizeof out, missing.c_str()), 1u);
  EXPECT_STREQ(out, "d");
  EXPECT_EQ(profile_get_string("A", "b", "d", out, sizeof out, ""), 1u);
  EXPECT_EQ(profile_get_int("A", "b", 77, missing.c_str()), 77u);
  EXPECT_EQ(profile_get_int("A", "b", -3, dir.path().c_str()), static_cast<uint32_t>(-3));
}

TEST(ProfileRead, Integers) {
  TempDir dir;
  std::string ini = dir.file("s.ini");
  write_file(ini, kSample);
  struct {
    const char* key;
    uint32_t expect;
  } cases[] = {
      {"#", 3},        {"num", 42},   {"neg", static_cast<uint32_t>(-7)}, {"plus", 12}, {"hex", 0},
      {"text", 0},     {"empty", 99},  // an empty value counts as absent
      {"missing", 99},
  };
  for (const auto& c : cases)
    EXPECT_EQ(profile_get_int("main", c.key, 99, ini.c_str()), c.expect) << c.key;
}

TEST(ProfileRead, ListsSectionsAndKeys) {
  TempDir dir;
  std::string ini = dir.file("s.ini");
  write_file(ini, "[A]\nx=1\ny=2\n[B]\n");
  char out[32];
  uint32_t n = profile_get_string(nullptr, nullptr, "", out, sizeof out, ini.c_str());
  EXPECT_EQ(std::string(out, n + 1), std::string("A\0B\0\0", 5));
  n = profile_get_string("a", nullptr, "", out, sizeof out, ini.c_str());
  EXPECT_EQ(std::string(out, n + 1), std::string("x\0y\0\0", 5));
  // Too small: cut, still ended by two zeros, size - 2 reported.
  n = profile_get_string("a", nullptr, "", out, 4, ini.c_str());
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(std::string(out, 4), std::string("x\0\0\0", 4));
}

TEST(ProfileWrite, CreatesFileAndSection) {
  TempDir dir;
  std::string ini = dir.file("new.ini");
  ASSERT_EQ(profile_write_string("Head", "Status", "200 OK", ini.c_str()), 1);
  EXPECT_EQ(read_file(ini), "[Head]\r\nStatus=200 OK\r\n");
  ASSERT_EQ(profile_write_string("Head", "Server", "x", ini.c_str()), 1);
  ASSERT_EQ(profile_write_string("Tail", "k", "v", ini.c_str()), 1);
  EXPECT_EQ(read_file(ini), "[Head]\r\nStatus=200 OK\r\nServer=x\r\n[Tail]\r\nk=v\r\n");
  char out[32];
  profile_get_string("head", "server", "", out, sizeof out, ini.c_str());
  EXPECT_STREQ(out, "x");
}

TEST(ProfileWrite, EditsOneLineAndKeepsTheRest) {
  TempDir dir;
  std::string ini = dir.file("e.ini");
  const std::string original =
      "; header comment\n[A]\n  Key = old  \nother=1\n\n[B]\nz=9\n[a]\nlate=1\n";
  write_file(ini, original);
  ASSERT_EQ(profile_write_string("a", "KEY", "new", ini.c_str()), 1);
  EXPECT_EQ(read_file(ini), "; header comment\n[A]\nKey=new\nother=1\n\n[B]\nz=9\n[a]\nlate=1\n");
  // A new key goes behind the last key of the last section of that name.
  ASSERT_EQ(profile_write_string("B", "added", "2", ini.c_str()), 1);
  EXPECT_EQ(read_file(ini),
            "; header comment\n[A]\nKey=new\nother=1\n\n[B]\nz=9\nadded=2\n[a]\nlate=1\n");
  // Deleting a key and a whole section.
  ASSERT_EQ(profile_write_string("A", "other", nullptr, ini.c_str()), 1);
  ASSERT_EQ(profile_write_string("b", nullptr, nullptr, ini.c_str()), 1);
  EXPECT_EQ(read_file(ini), "; header comment\n[A]\nKey=new\n\n[a]\nlate=1\n");
}

TEST(ProfileWrite, FileWithoutFinalLineBreak) {
  TempDir dir;
  std::string ini = dir.file("f.ini");
  write_file(ini, "[A]\nx=1");
  ASSERT_EQ(profile_write_string("A", "y", "2", ini.c_str()), 1);
  EXPECT_EQ(read_file(ini), "[A]\nx=1\ny=2\n");
  write_file(ini, "[A]\nx=1");
  ASSERT_EQ(profile_write_string("C", "y", "2", ini.c_str()), 1);
  EXPECT_EQ(read_file(ini), "[A]\nx=1\n[C]\ny=2\n");
}

TEST(ProfileWrite, RefusesWhatTheFileCannotHold) {
  TempDir dir;
  std::string ini = dir.file("r.ini");
  write_file(ini, "[A]\nx=1\n");
  struct {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"A", "x", "two\r\nlines"}, {"A", "k\n[B]", "v"}, {"A", "k=v", "w"},
      {"A]", "k", "v"},           {"A\n", "k", "v"},    {"A", "", "v"},
      {"A", "[k", "v"},           {"A", ";k", "v"},     {nullptr, "k", "v"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(profile_write_string(c.section, c.key, c.value, ini.c_str()), 0)
        << (c.key ? c.key : "(null)");
  EXPECT_EQ(read_file(ini), "[A]\nx=1\n");
  // A folder that does not exist: failure, nothing made.
  std::string lost = dir.file("no/such/dir.ini");
  EXPECT_EQ(profile_write_string("A", "k", "v", lost.c_str()), 0);
  // Deleting from a file that does not exist leaves no file behind.
  std::string none = dir.file("none.ini");
  EXPECT_EQ(profile_write_string("A", "k", nullptr, none.c_str()), 1);
  struct stat st;
  EXPECT_NE(::stat(none.c_str(), &st), 0);
}

TEST(ProfileWrite, KeepsFileModeAndLeavesNoTemporaryFiles) {
  TempDir dir;
  std::string ini = dir.file("m.ini");
  write_file(ini, "[A]\n");
  ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
  ASSERT_EQ(profile_write_string("A", "k", "v", ini.c_str()), 1);
  struct stat st;
  ASSERT_EQ(::stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

// Two processes adding keys to one file at once: every key survives.
TEST(ProfileWrite, ConcurrentWritersLoseNothing) {
  TempDir dir;
  std::string ini = dir.file("c.ini");
  constexpr int kEach = 60;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int bad = 0;
    for (int i = 0; i < kEach; ++i)
      bad +=
          profile_write_string("S", ("child" + std::to_string(i)).c_str(), "c", ini.c_str()) != 1;
    ::_exit(bad);
  }
  for (int i = 0; i < kEach; ++i)
    EXPECT_EQ(profile_write_string("S", ("parent" + std::to_string(i)).c_str(), "p", ini.c_str()),
              1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int i = 0; i < kEach; ++i) {
    char out[4];
    profile_get_string("S", ("child" + std::to_string(i)).c_str(), "", out, sizeof out,
                       ini.c_str());
    EXPECT_STREQ(out, "c") << i;
    profile_get_string("S", ("parent" + std::to_string(i)).c_str(), "", out, sizeof out,
                       ini.c_str());
    EXPECT_STREQ(out, "p") << i;
  }
}

// ---- encodings --------------------------------------------------------------

std::string utf16le(const std::u16string& s) {
  std::string out;
  for (char16_t u : s) {
    out.push_back(static_cast<char>(u & 0xff));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

// A script saved with a byte-order mark is read as the Windows calls read it:
// the first section is found, and Unicode texts come out as UTF-8.
TEST(ProfileEncoding, ByteOrderMarks) {
  TempDir dir;
  std::string ini = dir.file("s.ini");
  struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"plain", "[REG]\r\nNdx=3\r\nname=Gr\xc3\xbc\xc3\x9f\x65\r\n"},
      {"UTF-8 with BOM", "\xEF\xBB\xBF[REG]\r\nNdx=3\r\nname=Gr\xc3\xbc\xc3\x9f\x65\r\n"},
      {"UTF-16LE with BOM", "\xFF\xFE" + utf16le(u"[REG]\r\nNdx=3\r\nname=Gr\u00fc\u00dfe\r\n")},
      {"UTF-16LE, no line break at the end",
       "\xFF\xFE" + utf16le(u"[REG]\nNdx=3\nname=Gr\u00fc\u00dfe")},
  };
  for (const auto& c : cases) {
    write_file(ini, c.bytes);
    EXPECT_EQ(profile_get_int("REG", "Ndx", 0, ini.c_str()), 3u) << c.what;
    char out[32];
    profile_get_string("reg", "NAME", "", out, sizeof out, ini.c_str());
    EXPECT_STREQ(out, "Gr\xc3\xbc\xc3\x9f\x65") << c.what;
  }
}

// A write keeps the file's encoding and every other line.
TEST(ProfileEncoding, WritesKeepTheEncoding) {
  TempDir dir;
  std::string ini = dir.file("s.ini");
  struct {
    const char* what;
    std::string before, after;
  } cases[] = {
      {"UTF-16LE", "\xFF\xFE" + utf16le(u"[A]\r\nx=1\r\n"),
       "\xFF\xFE" + utf16le(u"[A]\r\nx=1\r\nk=\u20ac\u00e9\r\n")},
      {"UTF-8 with BOM", "\xEF\xBB\xBF[A]\r\nx=1\r\n",
       "\xEF\xBB\xBF[A]\r\nx=1\r\nk=\xe2\x82\xac\xc3\xa9\r\n"},
      {"plain keeps the bytes", "[A]\r\nx=1\r\n", "[A]\r\nx=1\r\nk=\x80\xe9\r\n"},
  };
  for (const auto& c : cases) {
    write_file(ini, c.before);
    // Code page 1252 text (not UTF-8): the euro sign and e acute.
    EXPECT_EQ(profile_write_string("a", "k", "\x80\xe9", ini.c_str()), 1) << c.what;
    EXPECT_EQ(read_file(ini), c.after) << c.what;
  }
}

// ---- the parsed copy --------------------------------------------------------

// Each change must be seen by the next lookup, whether it comes at once
// (within one tick of the file-time clock) or after the copy has settled,
// and whatever it keeps alike (size, inode, times).
TEST(ProfileCopy, EveryChangeIsSeen) {
  TempDir dir;
  std::string ini = dir.file("s.ini");
  struct {
    const char* what;
    std::function<void()> change;
    const char* expect;
  } cases[] = {
      {"same size, in place", [&] { write_file(ini, "[S]\nk=BBBB\n"); }, "BBBB"},
      {"same size, times put back",
       [&] {
         struct stat st;
         ::stat(ini.c_str(), &st);
         write_file(ini, "[S]\nk=CCCC\n");
         struct timespec times[2] = {st.st_atim, st.st_mtim};
         ::utimensat(AT_FDCWD, ini.c_str(), times, 0);
       },
       "CCCC"},
      {"replaced by rename",
       [&] {
         write_file(ini + ".new", "[S]\nk=DDDD\n");
         ::rename((ini + ".new").c_str(), ini.c_str());
       },
       "DDDD"},
      {"grown", [&] { write_file(ini, "[S]\nk=EEEEEE\n"); }, "EEEEEE"},
      {"removed", [&] { ::unlink(ini.c_str()); }, "none"},
  };
  for (bool settle : {false, true}) {
    for (const auto& c : cases) {
      write_file(ini, "[S]\nk=AAAA\n");
      if (settle) std::this_thread::sleep_for(std::chrono::milliseconds(120));
      char out[16];
      profile_get_string("S", "k", "none", out, sizeof out, ini.c_str());
      ASSERT_STREQ(out, "AAAA") << c.what;
      if (settle) profile_get_string("S", "k", "none", out, sizeof out, ini.c_str());
      c.change();
      profile_get_string("S", "k", "none", out, sizeof out, ini.c_str());
      EXPECT_STREQ(out, c.expect) << c.what << (settle ? " (settled copy)" : " (fresh copy)");
    }
  }
}

// Lookups in two files in turn each see their own file.
TEST(ProfileCopy, TwoFilesInTurn) {
  TempDir dir;
  std::string a = dir.file("a.ini"), b = dir.file("b.ini");
  write_file(a, "[S]\nk=a\n");
  write_file(b, "[S]\nk=b\n");
  for (int i = 0; i < 3; ++i) {
    char out[4];
    profile_get_string("S", "k", "", out, sizeof out, a.c_str());
    EXPECT_STREQ(out, "a");
    profile_get_string("S", "k", "", out, sizeof out, b.c_str());
    EXPECT_STREQ(out, "b");
  }
}

}  // namespace

#endif  // !_WIN32
