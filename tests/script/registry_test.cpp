// WRITEREG, GETREG and the registry store.
// The POSIX registry store (a text file, its locking between processes);
// on Windows the real registry serves, which the Win32 suite checks.
#if !defined(_WIN32)
#include "platform/registry.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "helper_process.h"
#include "script_fixture.h"

namespace {

using namespace std::string_literals;
using rz_test::read_file;
using rz_test::run_helper;
using rz_test::ScriptFixture;

// A value as GETREG hands it back, with the byte count that the store holds.
std::string raw_value(int32_t root, const char* key, const char* name) {
  rz::plat::RegKey k = rz::plat::kNoKey;
  if (rz::plat::reg_open_key(root, key, &k) != 0) return "<no key>";
  uint32_t type = 0, size = 0;
  std::string out = "<no value>";
  if (rz::plat::reg_query_value(k, name, &type, nullptr, &size) == 0) {
    out.assign(size, '\0');
    rz::plat::reg_query_value(k, name, &type, out.data(), &size);
    out = std::to_string(type) + ":" + out;
  }
  rz::plat::reg_close_key(k);
  return out;
}

class WriteReg : public ScriptFixture {};

TEST_F(WriteReg, ResultIsCountPlusOne) {
  use_script("[Other]\n");
  EXPECT_EQ(WRITEREG(""), 1);
  use_script("[REG]\nNdx=3\n+1z=Q\n+2z=Q\n+3z=Q\n");
  EXPECT_EQ(WRITEREG("A"), 4);
  EXPECT_EQ(log(), "");
}

TEST_F(WriteReg, FourLogLinesAfterSubstitution) {
  use_script(
      "[VARIABLES]\n#=2\n1=%APP%\n%APP%=Demo\n2=%DIR%\n%DIR%=C:\\Program Files\\Demo\n"
      "[REG]\nNdx=1\n+1a=2\n+1b=Software\\%APP%\n+1c=Path of %APP%\n+1d=%DIR%\n+1e=2\n");
  EXPECT_EQ(WRITEREG(""), 2);
  EXPECT_EQ(log(),
            "RegRoot: 2\r\nRegKey : Software\\Demo\r\nRegName: Path of Demo\r\n"
            "RegVal : C:\\Program Files\\Demo\r\n");
  char out[128];
  EXPECT_EQ(GETREG(2, "software\\DEMO", "path of demo", out, 0), 1);
  EXPECT_STREQ(out, "C:\\Program Files\\Demo");
  // Stored as the registry editor exports it.
  EXPECT_EQ(read_file(store_),
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Demo]\r\n"
            "\"Path of Demo\"=\"C:\\\\Program Files\\\\Demo\"\r\n");
}

TEST_F(WriteReg, TagSelection) {
  use_script(
      "[REG]\nNdx=5\n"
      "+1z=A\n+1a=3\n+1b=T\n+1c=a\n+1d=1\n+1e=2\n"
      "+2z=B\n+2a=3\n+2b=T\n+2c=b\n+2d=1\n+2e=2\n"
      "+3a=3\n+3b=T\n+3c=none\n+3d=1\n+3e=2\n"
      "+4z=C\n+4a=3\n+4b=T\n+4c=c\n+4d=1\n+4e=2\n"
      "+5z=AB\n+5a=3\n+5b=T\n+5c=ab\n+5d=1\n+5e=2\n");
  struct {
    const char* tags;
    std::vector<std::string> written;
  } cases[] = {
      {"AB", {"a", "b", "none", "ab"}},
      {"", {"none"}},
      {"C", {"c", "none"}},
      {"B", {"b", "none"}},  // "AB" has the tag A
  };
  for (const auto& c : cases) {
    std::remove(store_.c_str());
    WRITEREG(c.tags);
    for (const char* name : {"a", "b", "none", "c", "ab"}) {
      bool want = false;
      for (const auto& w : c.written) want = want || w == name;
      char out[128];
      EXPECT_EQ(GETREG(3, "T", name, out, 0), want ? 1 : 0) << c.tags << " " << name;
    }
  }
}

TEST_F(WriteReg, ExcludedItemLeavesNoTrace) {
  use_script(
      "[REG]\nNdx=2\n+1os=1\n+1a=3\n+1b=X\n+1c=n\n+1d=v\n+1e=2\n"
      "+2cv=8\n+2a=3\n+2b=Y\n+2c=n\n+2d=v\n+2e=2\n",
      2, 4);
  EXPECT_EQ(WRITEREG(""), 3);
  EXPECT_EQ(log(), "");
  EXPECT_EQ(raw_value(3, "X", "n"), "<no key>");
  EXPECT_EQ(raw_value(3, "Y", "n"), "<no key>");
}

TEST_F(WriteReg, Types) {
  struct {
    const char* type;
    const char* data;
    std::string stored;  // type:bytes, or <no value>
  } cases[] = {
      {"1", " 42abc", std::string("4:\x2a\0\0\0", 6)},
      {"1", "-1", "4:\xff\xff\xff\xff"},
      {"1", "0x10", std::string("4:\0\0\0\0", 6)},
      {"1", "4294967297", std::string("4:\1\0\0\0", 6)},  // wraps in 32 bits
      {"2", "text", std::string("1:text\0", 7)},
      {"2", "", std::string("1:\0", 3)},
      {"3", "01  02 ", "3:\x01\x02"},
      {"3", "zz 01", std::string("3:\0\x01", 4)},
      {"3", "abc", "3:\xbc"},
      {"3", "0102", "3:\x02"},
      {"3", "", "3:"},
      {"3", "5 6", "3:\x05\x06"},  // one-character tokens count everywhere
      {"3", "5", "3:\x05"},
      {"3", "a,b\tc ff", std::string("3:\x0a\xff", 4)},
      {"65539", "x", "1:x\0"},  // only the low 16 bits count: 3... is 65539 & 0xffff = 3
  };
  // The last case: 65539 keeps 3 (binary), and "x" gives the byte 0.
  cases[14].stored = std::string("3:\0", 3);
  for (const auto& c : cases) {
    std::remove(store_.c_str());
    use_script(std::string("[REG]\nNdx=1\n+1a=3\n+1b=K\n+1c=v\n+1d=") + c.data + "\n+1e=" + c.type +
               "\n");
    WRITEREG("");
    EXPECT_EQ(raw_value(3, "K", "v"), c.stored) << c.type << " [" << c.data << "]";
  }
}

TEST_F(WriteReg, UnknownTypeAndRootCodes) {
  use_script(
      "[REG]\nNdx=3\n+1a=3\n+1b=K0\n+1c=v\n+1d=1\n+1e=0\n"
      "+2a=3\n+2b=K4\n+2c=v\n+2d=1\n+2e=4\n"
      "+3a=9\n+3b=K9\n+3c=v\n+3d=1\n+3e=2\n");
  EXPECT_EQ(WRITEREG(""), 4);
  EXPECT_EQ(log(), "RegRoot: 3\r\nRegKey : K0\r\nRegRoot: 3\r\nRegKey : K4\r\nRegRoot: 9\r\n");
  EXPECT_EQ(raw_value(3, "K0", "v"), "<no value>");
  EXPECT_EQ(raw_value(3, "K4", "v"), "<no value>");
}

TEST_F(WriteReg, KeepExisting) {
  // Value "v" of key K holds, before the item runs, what each case gives.
  struct {
    const char* name;
    uint32_t type;
    std::string existing;
    bool written;
  } cases[] = {
      {"one letter", rz::plat::kRegSz, std::string("x\0", 2), false},
      {"number 0", rz::plat::kRegDword, std::string(4, '\0'), false},
      {"number 256", rz::plat::kRegDword, std::string("\0\1\0\0", 4), false},
      {"200 bytes", rz::plat::kRegBinary, std::string(200, '\0'), false},
      {"long text", rz::plat::kRegSz, std::string(300, 'a') + '\0', false},
      {"empty text", rz::plat::kRegSz, std::string("\0", 1), true},
      {"no bytes", rz::plat::kRegBinary, std::string(), true},
      {"absent", 99, std::string(), true},
  };
  for (const auto& c : cases) {
    std::remove(store_.c_str());
    rz::plat::RegKey k;
    ASSERT_EQ(rz::plat::reg_create_key(3, "K", &k), 0);
    if (c.type != 99) {
      ASSERT_EQ(rz::plat::reg_set_value(k, "v", c.type, c.existing.data(),
                                        static_cast<uint32_t>(c.existing.size())),
                0);
    }
    rz::plat::reg_close_key(k);
    use_script("[REG]\nNdx=1\n+1a=3\n+1b=K\n+1c=v\n+1d=new\n+1e=2\n+1no=1\n");
    WRITEREG("");
    std::string expect =
        c.written ? std::string("1:new\0", 6) : std::to_string(c.type) + ":" + c.existing;
    EXPECT_EQ(raw_value(3, "K", "v"), expect) << c.name;
  }
}

TEST_F(WriteReg, KeepExistingWithEmptyNameTestsTheDefaultValue) {
  rz::plat::RegKey k;
  ASSERT_EQ(rz::plat::reg_create_key(3, "K", &k), 0);  // key exists, no default value
  rz::plat::reg_close_key(k);
  use_script("[REG]\nNdx=1\n+1a=3\n+1b=K\n+1c=\n+1d=def\n+1e=2\n+1no=1\n");
  WRITEREG("");
  EXPECT_EQ(raw_value(3, "K", ""), std::string("1:def\0", 6));
  use_script("[REG]\nNdx=1\n+1a=3\n+1b=K\n+1c=\n+1d=other\n+1e=2\n+1no=1\n");
  WRITEREG("");
  EXPECT_EQ(raw_value(3, "K", ""), std::string("1:def\0", 6));
}

TEST_F(WriteReg, LongSubstitutedTextsAreNotCut) {
  std::string value(250, 'v');
  use_script("[VARIABLES]\n#=1\n1=%L%\n%L%=" + value + "\n[REG]\nNdx=1\n+1a=3\n+1b=S\\%L%\\%L%\n" +
             "+1c=%L%%L%\n+1d=%L%%L%%L%\n+1e=2\n");
  WRITEREG("");
  std::string key = "S\\" + value + "\\" + value;
  EXPECT_EQ(raw_value(3, key.c_str(), (value + value).c_str()),
            "1:" + value + value + value + std::string(1, '\0'));
  EXPECT_NE(log().find("RegVal : " + value + value + value + "\r\n"), std::string::npos);
}

// A set_value that fails: the key is created and logged, no value lines.
rz::plat::RegistryOps g_failing_set;
int32_t fail_set(rz::plat::RegKey, const char*, uint32_t, const void*, uint32_t) {
  return rz::plat::kRegWriteFailed;
}

TEST_F(WriteReg, FailedWriteLogsNoValueLines) {
  use_script("[REG]\nNdx=1\n+1a=3\n+1b=K\n+1c=v\n+1d=1\n+1e=2\n");
  g_failing_set = rz::plat::native_registry_ops();
  g_failing_set.set_value = fail_set;
  rz::plat::set_registry_ops(&g_failing_set);
  EXPECT_EQ(WRITEREG(""), 2);
  rz::plat::set_registry_ops(nullptr);
  EXPECT_EQ(log(), "RegRoot: 3\r\nRegKey : K\r\n");
  EXPECT_EQ(raw_value(3, "K", "v"), "<no value>");
}

TEST_F(WriteReg, StoreThatIsNotAStoreIsNeverOverwritten) {
  rz_test::write_file(store_, "not a registry file\n");
  use_script("[REG]\nNdx=1\n+1a=3\n+1b=K\n+1c=v\n+1d=1\n+1e=2\n");
  WRITEREG("");
  EXPECT_EQ(read_file(store_), "not a registry file\n");
  EXPECT_EQ(log(), "RegRoot: 3\r\n");
}

class GetReg : public ScriptFixture {};

TEST_F(GetReg, Rules) {
  auto hex_run = [](const char* byte, int count) {
    std::string h;
    for (int i = 0; i < count; ++i) h += std::string(i ? "," : "") + byte;
    return h;
  };
  rz_test::write_file(store_,
                      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\r\n"
                      "@=\"txtfile\"\r\n\r\n[HKEY_CURRENT_USER\\Menu]\r\n"
                      "\"Programs\"=\"plain\"\r\n\"Common Programs\"=\"common\"\r\n"
                      "\"Num\"=dword:00000100\r\n"
                      "\"Big\"=hex:" +
                          hex_run("42", 127) +
                          "\r\n"
                          "\"Huge\"=hex(1):" +
                          hex_run("41", 128) +
                          "\r\n\r\n"
                          "[HKEY_CURRENT_USER\\Empty]\r\n");

  struct {
    int32_t mode, root;
    const char *key, *name;
    int32_t selector, expect;
    std::string result;
  } cases[] = {
      {2, 2, "Menu", "Programs", 3, 1, "common"},
      {2, 2, "Menu", "Programs", 0, 1, "plain"},
      {1, 2, "Menu", "Programs", 3, 1, "plain"},
      {0, 1, ".TXT", "", 0, 1, "txtfile"},  // classes root
      {0, 3, "software\\classes\\.txt", "", 0, 1, "txtfile"},
      {0, 2, "Empty", "", 0, 1, ""},          // empty name, key without default
      {0, 2, "Menu\\Nothing", "", 0, 0, ""},  // no such key
      {0, 2, "Menu", "Missing", 0, 0, ""},
      {0, 2, "Menu", "Num", 0, 1, std::string("\0\1\0\0", 4)},
      {0, 2, "Menu", "Big", 0, 1, std::string(127, 'B')},
      {0, 2, "Menu", "Huge", 0, 0, ""},      // 128 bytes: too long
      {0, 9, "Menu", "Programs", 0, 0, ""},  // no such root
      {0, 0, "Menu", "Programs", 0, 0, ""},
  };
  for (const auto& c : cases) {
    INITMAK("", c.mode, 0, 0, -1);
    char out[160];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(GETREG(c.root, c.key, c.name, out, c.selector), c.expect) << c.key << " " << c.name;
    EXPECT_EQ(std::string(out, c.result.size()), c.result) << c.key << " " << c.name;
    if (c.result.size() < 127) {
      EXPECT_EQ(out[c.result.size()], 0) << c.key << " " << c.name;
    }
    for (int i = 127; i < 160; ++i) ASSERT_EQ(out[i], '#') << "written past 127 bytes";
  }
}

TEST_F(GetReg, LongKeyPathsAndNames) {
  std::string key = "Deep";
  while (key.size() < 600) key += "\\Level";
  std::string name(300, 'n');
  rz::plat::RegKey k;
  ASSERT_EQ(rz::plat::reg_create_key(2, key.c_str(), &k), 0);
  ASSERT_EQ(rz::plat::reg_set_value(k, name.c_str(), rz::plat::kRegSz, "ok", 3), 0);
  rz::plat::reg_close_key(k);
  char out[128];
  EXPECT_EQ(GETREG(2, key.c_str(), name.c_str(), out, 0), 1);
  EXPECT_STREQ(out, "ok");
}

// Store format: what the registry editor writes is read back.
TEST(RegistryStore, ReadsEditorExports) {
  rz_test::TempDir dir;
  std::string store = dir.file("r.reg");
  rz_test::write_file(store,
                      "\xEF\xBB\xBFREGEDIT4\n\n; comment\n[HKEY_CURRENT_USER\\A]\n"
                      "\"Quote\"=\"say \\\"hi\\\" \\\\ there\"\n"
                      "\"Wrapped\"=hex:01,02,\\\n  03,04\n"
                      "\"Expand\"=hex(2):41,00\n\"Gone\"=-\n");
  rz_host_set_registry_file(store.c_str());
  EXPECT_EQ(raw_value(2, "a", "quote"), "1:say \"hi\" \\ there\0"s);
  EXPECT_EQ(raw_value(2, "A", "Wrapped"), "3:\x01\x02\x03\x04");
  EXPECT_EQ(raw_value(2, "A", "Expand"), std::string("2:A\0", 4));
  EXPECT_EQ(raw_value(2, "A", "Gone"), "<no value>");
  // A text the quoted form cannot carry is kept as hex(1) and read back intact.
  rz::plat::RegKey k;
  ASSERT_EQ(rz::plat::reg_create_key(2, "A", &k), 0);
  ASSERT_EQ(rz::plat::reg_set_value(k, "Lines", rz::plat::kRegSz, "a\r\nb", 5), 0);
  rz::plat::reg_close_key(k);
  EXPECT_EQ(raw_value(2, "A", "Lines"), "1:a\r\nb\0"s);
  EXPECT_NE(read_file(store).find("\"Lines\"=hex(1):61,0d,0a,62,00"), std::string::npos);
  rz_host_set_registry_file(nullptr);
}

TEST(RegistryStore, PathChoice) {
  rz_test::TempDir dir;
  std::string env_store = dir.file("env.reg");
  std::string saved_env = getenv("RAZIZA3Z_REGISTRY") ? getenv("RAZIZA3Z_REGISTRY") : "";
  std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
  std::string saved_xdg = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
  rz_host_set_registry_file(nullptr);
  setenv("RAZIZA3Z_REGISTRY", env_store.c_str(), 1);
  EXPECT_EQ(rz::plat::registry_store_path(), env_store);
  rz_host_set_registry_file(dir.file("host.reg").c_str());
  EXPECT_EQ(rz::plat::registry_store_path(), dir.file("host.reg"));
  rz_host_set_registry_file("");
  unsetenv("RAZIZA3Z_REGISTRY");
  setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(rz::plat::registry_store_path(), dir.path() + "/raziza3z/registry.reg");
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", dir.path().c_str(), 1);
  EXPECT_EQ(rz::plat::registry_store_path(), dir.path() + "/.local/share/raziza3z/registry.reg");
  // The default's folders are made on the first write, inside the fake home.
  rz::plat::RegKey k;
  ASSERT_EQ(rz::plat::reg_create_key(2, "X", &k), 0);
  rz::plat::reg_close_key(k);
  EXPECT_NE(
      read_file(dir.path() + "/.local/share/raziza3z/registry.reg").find("[HKEY_CURRENT_USER\\X]"),
      std::string::npos);
  if (saved_home.empty())
    unsetenv("HOME");
  else
    setenv("HOME", saved_home.c_str(), 1);
  if (!saved_xdg.empty()) setenv("XDG_DATA_HOME", saved_xdg.c_str(), 1);
  if (!saved_env.empty()) setenv("RAZIZA3Z_REGISTRY", saved_env.c_str(), 1);
}

// ---- other processes ------------------------------------------------------

// Helper run in a separate process: reads a value and prints it.
TEST(RegistryHelper, DISABLED_PrintValue) {
  const char* store = getenv("RZ_HELPER_STORE");
  ASSERT_NE(store, nullptr);
  rz_host_set_registry_file(store);
  char out[128];
  int32_t found = GETREG(2, "Software\\Demo", "Path", out, 0);
  std::printf("\n<<%d:%s>>\n", found, found ? out : "");
}

// Helper: writes values prefix0 .. prefixN-1 one by one.
TEST(RegistryHelper, DISABLED_WriteMany) {
  rz_host_set_registry_file(getenv("RZ_HELPER_STORE"));
  const char* prefix = getenv("RZ_HELPER_PREFIX");
  int count = std::atoi(getenv("RZ_HELPER_COUNT"));
  for (int i = 0; i < count; ++i) {
    rz::plat::RegKey k;
    ASSERT_EQ(rz::plat::reg_create_key(3, "Shared", &k), 0);
    std::string name = prefix + std::to_string(i);
    ASSERT_EQ(rz::plat::reg_set_value(k, name.c_str(), rz::plat::kRegSz, "x", 2), 0);
    rz::plat::reg_close_key(k);
  }
}

TEST_F(WriteReg, ReadBackInANewProcess) {
  use_script("[REG]\nNdx=1\n+1a=2\n+1b=Software\\Demo\n+1c=Path\n+1d=C:\\Demo\n+1e=2\n");
  WRITEREG("");
  std::string out;
  EXPECT_EQ(run_helper("RegistryHelper.DISABLED_PrintValue", {"RZ_HELPER_STORE=" + store_}, out),
            0);
  EXPECT_NE(out.find("<<1:C:\\Demo>>"), std::string::npos) << out;
}

TEST(RegistryStore, TwoWritersAtOnceLoseNothing) {
  rz_test::TempDir dir;
  std::string store = dir.file("shared.reg");
  constexpr int kEach = 80;
  std::string out_a, out_b;
  pid_t a = ::fork();
  if (a == 0) {
    std::string out;
    ::_exit(run_helper("RegistryHelper.DISABLED_WriteMany",
                       {"RZ_HELPER_STORE=" + store, "RZ_HELPER_PREFIX=a",
                        "RZ_HELPER_COUNT=" + std::to_string(kEach)},
                       out));
  }
  int rc_b = run_helper("RegistryHelper.DISABLED_WriteMany",
                        {"RZ_HELPER_STORE=" + store, "RZ_HELPER_PREFIX=b",
                         "RZ_HELPER_COUNT=" + std::to_string(kEach)},
                        out_b);
  int status = 0;
  ::waitpid(a, &status, 0);
  EXPECT_EQ(rc_b, 0) << out_b;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  rz_host_set_registry_file(store.c_str());
  int missing = 0;
  for (int i = 0; i < kEach; ++i)
    for (const char* p : {"a", "b"})
      missing += raw_value(3, "Shared", (p + std::to_string(i)).c_str()) != std::string("1:x\0", 4);
  EXPECT_EQ(missing, 0);
  rz_host_set_registry_file(nullptr);
}

// A writer killed at random moments leaves a whole store: the old one or the
// new one, every value before the last one present.
TEST(RegistryStore, KilledWriterLeavesWholeFile) {
  rz_test::TempDir dir;
  std::string store = dir.file("killed.reg");
  rz_host_set_registry_file(store.c_str());
  for (int round = 0; round < 8; ++round) {
    pid_t pid = ::fork();
    if (pid == 0) {
      std::string out;
      std::vector<std::string> env = {"RZ_HELPER_STORE=" + store,
                                      "RZ_HELPER_PREFIX=r" + std::to_string(round) + "_",
                                      "RZ_HELPER_COUNT=100000"};
      for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
      ::execl("/proc/self/exe", "test_script", "--gtest_filter=RegistryHelper.DISABLED_WriteMany",
              "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::usleep(150000 + 37000 * round);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    std::string text = read_file(store);
    ASSERT_EQ(text.compare(0, 10, "REGEDIT4\r\n"), 0) << "round " << round;
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n") << "round " << round;
    // Values of this round are r<round>_0 ... r<round>_(n-1) with no gap.
    int n = 0;
    while (
        raw_value(3, "Shared", ("r" + std::to_string(round) + "_" + std::to_string(n)).c_str()) ==
        std::string("1:x\0", 4))
      ++n;
    std::string next = "\"r" + std::to_string(round) + "_" + std::to_string(n) + "\"";
    EXPECT_EQ(text.find(next), std::string::npos) << "gap after " << n << " in round " << round;
    EXPECT_GT(n, 0) << "round " << round;
  }
  rz_host_set_registry_file(nullptr);
}

}  // namespace

#endif  // !_WIN32
