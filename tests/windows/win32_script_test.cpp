// Profiles, the registry and the shell services against Windows itself.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <string>

#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "raziza3z.h"
#include "win32_fixture.h"

namespace {

using namespace rz::plat;

TEST(Win32Profile, WriteThenRead) {
  rzwin::TempDir dir;
  std::string ini = dir.file("setup.ini");
  EXPECT_EQ(profile_write_string("VARIABLES", "AppDir", "C:\\Program Files\\Demo", ini.c_str()), 1);
  EXPECT_EQ(profile_write_string("REG", "Ndx", "3", ini.c_str()), 1);
  char out[64];
  EXPECT_EQ(profile_get_string("variables", "appdir", "none", out, sizeof out, ini.c_str()), 21u);
  EXPECT_STREQ(out, "C:\\Program Files\\Demo");
  EXPECT_EQ(profile_get_string("VARIABLES", "AppDir", "none", out, 8, ini.c_str()), 7u)
      << "cut to size - 1";
  EXPECT_STREQ(out, "C:\\Prog");
  EXPECT_EQ(profile_get_string("VARIABLES", "Missing", "none", out, sizeof out, ini.c_str()), 4u);
  EXPECT_STREQ(out, "none");
  EXPECT_EQ(profile_get_int("REG", "Ndx", -1, ini.c_str()), 3u);
  EXPECT_EQ(profile_get_int("REG", "Other", 9, ini.c_str()), 9u);
  EXPECT_EQ(profile_get_string("X", "Y", "d", out, 0, ini.c_str()), 0u) << "no room";
}

// Keys live below a name of this process under HKEY_CURRENT_USER and are
// removed at the end.
class Win32Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = "Software\\raziza3z-test-" + std::to_string(::GetCurrentProcessId());
  }
  void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }
  std::string base_;
  const RegistryOps& ops_ = native_registry_ops();
};

TEST_F(Win32Registry, CreateSetQueryClose) {
  RegKey key = kNoKey;
  EXPECT_EQ(ops_.open_key(2, (base_ + "\\a\\b").c_str(), &key), kRegNotFound);
  ASSERT_EQ(ops_.create_key(2, (base_ + "\\a\\b").c_str(), &key), kRegOk);
  ASSERT_NE(key, kNoKey);
  EXPECT_EQ(ops_.set_value(key, "Text", kRegSz, "hello", 6), kRegOk);
  uint32_t dword = 42;
  EXPECT_EQ(ops_.set_value(key, "Number", kRegDword, &dword, 4), kRegOk);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(ops_.query_value(key, "Text", &type, nullptr, &size), kRegOk);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 6u);
  char small[4] = {'k', 'e', 'e', 'p'};
  size = sizeof small;
  EXPECT_EQ(ops_.query_value(key, "Text", &type, small, &size), kRegMoreData);
  EXPECT_EQ(size, 6u) << "the size needed";
  EXPECT_EQ(std::string(small, 4), "keep") << "a short buffer is not written";
  char text[16] = {};
  size = sizeof text;
  EXPECT_EQ(ops_.query_value(key, "Text", &type, text, &size), kRegOk);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(ops_.query_value(key, "Missing", &type, text, &size), kRegNotFound);
  EXPECT_EQ(ops_.close_key(key), kRegOk);
  EXPECT_EQ(ops_.open_key(9, "Software", &key), kRegBadKey) << "no such root";
  EXPECT_EQ(ops_.close_key(kNoKey), kRegBadKey);
}

TEST_F(Win32Registry, GetregReadsWhatWasWritten) {
  RegKey key = kNoKey;
  ASSERT_EQ(ops_.create_key(2, base_.c_str(), &key), kRegOk);
  ASSERT_EQ(ops_.set_value(key, "Path", kRegSz, "C:\\Demo", 8), kRegOk);
  ops_.close_key(key);
  char out[128] = {};
  EXPECT_EQ(GETREG(RZ_ROOT_CURRENT_USER, base_.c_str(), "Path", out, 0), 1);
  EXPECT_STREQ(out, "C:\\Demo");
  EXPECT_EQ(GETREG(RZ_ROOT_CURRENT_USER, base_.c_str(), "Missing", out, 0), 0);
  EXPECT_STREQ(out, "");
}

// Reads a shortcut back through the shell's own link object.
struct LinkFields {
  std::string path, args, dir, icon;
  int icon_index = -1;
  WORD hot_key = 0;
};

bool read_link(const std::string& file, LinkFields& f) {
  IShellLinkA* link = nullptr;
  if (::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                         reinterpret_cast<void**>(&link)) != S_OK)
    return false;
  IPersistFile* pf = nullptr;
  bool ok = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf)) == S_OK;
  WCHAR wide[MAX_PATH];
  ::MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
  ok = ok && pf->Load(wide, STGM_READ) == S_OK;
  char buf[MAX_PATH];
  if (ok && link->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH) == S_OK) f.path = buf;
  if (ok && link->GetArguments(buf, MAX_PATH) == S_OK) f.args = buf;
  if (ok && link->GetWorkingDirectory(buf, MAX_PATH) == S_OK) f.dir = buf;
  if (ok && link->GetIconLocation(buf, MAX_PATH, &f.icon_index) == S_OK) f.icon = buf;
  if (ok) link->GetHotkey(&f.hot_key);
  if (pf) pf->Release();
  link->Release();
  return ok;
}

TEST(Win32Shell, CreatelinkWritesAShortcutTheShellReads) {
  rzwin::TempDir dir;
  ASSERT_EQ(::CoInitialize(nullptr), S_OK);
  std::string target_path = dir.file("app.exe");
  ASSERT_TRUE(rzwin::write_file(target_path, "MZ"));
  struct Case {
    uint32_t hot_key;
    WORD expected;
  };
  const Case cases[] = {{0, 0}, {0x41, 0x0341}, {0x141, 0x0341}};
  int n = 0;
  for (const Case& c : cases) {
    char target[1024], work[1024], icon[1024], args[1024];
    std::snprintf(target, sizeof target, "%s", target_path.c_str());
    std::snprintf(work, sizeof work, "%s", dir.path().c_str());
    std::snprintf(icon, sizeof icon, "%s", target_path.c_str());
    std::snprintf(args, sizeof args, "--mode %d", n);
    std::string lnk = dir.file("demo" + std::to_string(n++) + ".lnk");
    EXPECT_EQ(CREATELINK(target, lnk.c_str(), work, icon, 3, args, c.hot_key), 0);
    LinkFields f;
    ASSERT_TRUE(read_link(lnk, f)) << lnk;
    EXPECT_EQ(f.path, target_path);
    EXPECT_EQ(f.args, args);
    EXPECT_EQ(f.dir, dir.path());
    EXPECT_EQ(f.icon, target_path);
    EXPECT_EQ(f.icon_index, 3);
    EXPECT_EQ(f.hot_key, c.expected) << c.hot_key;
  }
  ::CoUninitialize();
}

TEST(Win32Shell, CreatefolderMakesTheLastLevel) {
  rzwin::TempDir dir;
  std::string d = dir.file("New Folder");
  EXPECT_EQ(CREATEFOLDER(d.c_str()), 1);
  EXPECT_EQ(QEN_FILEEXISTS(d.c_str()), 1);
  EXPECT_EQ(CREATEFOLDER(d.c_str()), 1) << "exists";
  EXPECT_EQ(CREATEFOLDER(dir.file("x\\y").c_str()), 1) << "missing parent, not reported";
  EXPECT_EQ(QEN_FILEEXISTS(dir.file("x\\y").c_str()), 0);
}

TEST(Win32Shell, RegtlbRegistersALibraryAndRefusesOtherFiles) {
  rzwin::TempDir dir;
  ASSERT_EQ(::CoInitialize(nullptr), S_OK);
  std::string junk = dir.file("junk.tlb");
  ASSERT_TRUE(rzwin::write_file(junk, std::string(200, 'x')));
  EXPECT_LT(REGTLB(junk.c_str()), 0) << "LoadTypeLib's failure";
  EXPECT_LT(REGTLB(dir.file("missing.tlb").c_str()), 0);
  std::string tlb = rzwin::program_dir() + "\\rz_demo.tlb";
  if (QEN_FILEEXISTS(tlb.c_str())) {
    EXPECT_EQ(REGTLB(tlb.c_str()), 0);
    char out[128] = {};
    EXPECT_EQ(GETREG(RZ_ROOT_CLASSES_ROOT, "TypeLib\\{5B2A1C7E-9ABC-4EF0-8234-56789ABCDEF0}\\2.a",
                     "", out, 0),
              1);
    EXPECT_STREQ(out, "Demo type library");
  } else {
    ADD_FAILURE() << "the widl-made library is missing: " << tlb;
  }
  ::CoUninitialize();
}

}  // namespace
