// qg script and qg reg get end to end: a script's registry items written to
// a store file, read back by a second qg process.  qg runs through the POSIX
// shell; on Windows the script services are tested directly.
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <string>

#include "qg_run.h"
#include "temp_dir.h"

namespace {

using rztest::run_qg;

TEST(QgScript, WritesTheItemsAndReadsThemBack) {
  rztest::TempDir dir;
  std::string script = dir / "setup.ini";
  rztest::write_text(script,
                     "[VARIABLES]\n#=1\n1=%APP%\n%APP%=Demo\n"
                     "[REG]\nNdx=2\n"
                     "+1a=2\n+1b=Software\\%APP%\n+1c=Version\n+1d=1.2\n+1e=2\n"
                     "+2a=2\n+2b=Software\\%APP%\n+2c=Count\n+2d=42\n+2e=1\n");
  std::string store = dir / "store.reg";
  std::string log = dir / "install.log";
  auto run = run_qg({"script", script, "--registry", store, "--log", log});
  ASSERT_EQ(run.status, 0) << run.output;
  std::string logged(reinterpret_cast<const char*>(rztest::read_file(log).data()),
                     rztest::read_file(log).size());
  EXPECT_NE(logged.find("RegKey : Software\\Demo\r\n"), std::string::npos) << logged;
  EXPECT_NE(logged.find("RegVal : 1.2\r\n"), std::string::npos) << logged;

  auto get = run_qg({"reg", "get", "HKCU", "software\\demo", "VERSION", "--registry", store});
  EXPECT_EQ(get.status, 0) << get.output;
  EXPECT_NE(get.output.find("1.2"), std::string::npos) << get.output;
  auto missing = run_qg({"reg", "get", "HKCU", "Software\\Other", "Version", "--registry", store});
  EXPECT_NE(missing.status, 0) << missing.output;
  // The store is the registry editor's text format.
  std::vector<uint8_t> bytes = rztest::read_file(store);
  std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.rfind("REGEDIT4", 0), 0u) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Demo]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Count\"=dword:0000002a"), std::string::npos) << text;
}

// What qg script says and returns for scripts and stores as people save
// them: marked and Unicode scripts, stores in the Unicode export format,
// hand-edited stores, and files that are no store at all.
TEST(QgScript, ScriptsAndStoresAsTheyAreFound) {
  const std::string items = "[REG]\r\nNdx=1\r\n+1a=2\r\n+1b=K\r\n+1c=v\r\n+1d=1\r\n+1e=2\r\n";
  std::string utf16;
  for (char c : items) utf16 += std::string(1, c) + '\0';
  struct {
    const char* what;
    std::string script, store;
    int status;
    const char* message;  // a part of what qg prints
    bool written;
  } cases[] = {
      {"script with a UTF-8 mark", "\xEF\xBB\xBF" + items, "", 0, "1 registry item(s)", true},
      {"UTF-16LE script", "\xFF\xFE" + utf16, "", 0, "1 registry item(s)", true},
      {"Unicode export store", items, "Windows Registry Editor Version 5.00\r\n", 0,
       "1 registry item(s)", true},
      {"hand-edited store", items, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"x\"=dword:xyz\r\n",
       0, "malformed lines", true},
      {"no store at all", items, "not a registry file\n", 5, "could not write", false},
  };
  for (const auto& c : cases) {
    rztest::TempDir dir;
    std::string script = dir / "setup.ini", store = dir / "store.reg";
    rztest::write_text(script, c.script);
    if (!c.store.empty()) rztest::write_text(store, c.store);
    auto run = run_qg({"script", script, "--registry", store, "--log", dir / "log"});
    EXPECT_EQ(run.status, c.status) << c.what << "\n" << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << c.what << "\n" << run.output;
    auto get = run_qg({"reg", "get", "HKCU", "K", "v", "--registry", store});
    EXPECT_EQ(get.status, c.written ? 0 : 5) << c.what << "\n" << get.output;
    if (c.written) {
      EXPECT_NE(get.output.find("1\n"), std::string::npos) << c.what << get.output;
    }
  }
}

}  // namespace
#endif
