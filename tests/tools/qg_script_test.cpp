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

}  // namespace
#endif
