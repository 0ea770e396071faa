// qg pack --setup: what it refuses (writing nothing), what it records, and
// that the same inputs give the same installer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "installer_fixture.h"
#include "pack_setup.h"

namespace {

using namespace fmt_test;

qgsetup::SetupData setup_data_of(const std::string& path) {
  qgsetup::SetupData data;
  std::string error;
  EXPECT_EQ(qgsetup::read_setup_data(path, layout_of(path), &data, &error), 0) << error;
  return data;
}

const qgsetup::PayloadItem* find_item(const qgsetup::SetupData& data, const std::string& path) {
  for (const auto& item : data.items)
    if (item.path == path) return &item;
  return nullptr;
}

struct RefusalCase {
  const char* name;
  std::function<void(const std::string& payload)> build;
  std::vector<std::string> extra;
  const char* message;
  std::string stub = RZ_TEST_STUB_PATH;
};

TEST(PackSetup, RefusalsWriteNothing) {
  const RefusalCase cases[] = {
      {"absolute link",
       [](auto& p) { make_link("/etc/passwd", p + "/pw"); },
       {},
       "leads outside (absolute target)"},
      {"link up past the root",
       [](auto& p) { make_link("../outside", p + "/up"); },
       {},
       "leads outside the folder"},
      {"link in a subfolder up past the root",
       [](auto& p) {
         make_dir(p + "/sub");
         make_link("../../x", p + "/sub/up");
       },
       {},
       "leads outside the folder"},
      {"dangling outside link with --dereference",
       [](auto& p) { make_link("/nonexistent/file", p + "/gone"); },
       {"--dereference"},
       "points to nothing"},
      {"backslash in a file name",
       [](auto& p) { make_file(p + "/a\\b.txt", "x"); },
       {},
       "has a backslash"},
      {"backslash in a folder name",
       [](auto& p) { make_dir(p + "/dir\\x"); },
       {},
       "has a backslash"},
      {"colon in a folder name", [](auto& p) { make_dir(p + "/c:d"); }, {}, "has a colon"},
      {"script names a missing licence", [](auto&) {}, {}, "cannot be read"},
      {"stub without an anchor", [](auto&) {}, {}, "no installer anchor", "/bin/true"},
      {"stored folder longer than 255 bytes",
       [](auto& p) {
         std::string deep = p + "/" + std::string(200, 'd');
         make_dir(deep);
         make_dir(deep + "/" + std::string(60, 'e'));
         make_file(deep + "/" + std::string(60, 'e') + "/f", "x");
       },
       {},
       "longer than 255 bytes"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    rztest::TempDir dir;
    std::string payload = dir / "payload";
    make_dir(payload);
    make_file(payload + "/ok.txt", "fine");
    c.build(payload);
    bool licence = std::string(c.name).find("licence") != std::string::npos;
    std::string script = write_script(dir, licence ? "missing licence.txt" : "");
    std::string out_dir = dir / "out";
    make_dir(out_dir);
    QgResult r = pack(payload, out_dir + "/setup.run", script, c.extra, c.stub);
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("nothing written"), std::string::npos) << r.output;
    EXPECT_TRUE(names_in(out_dir).empty()) << "left behind: " << names_in(out_dir).size();
  }
}

TEST(PackSetup, RecordsModesLinksFoldersAndTimes) {
  rztest::TempDir dir;
  std::string payload = dir / "payload";
  make_dir(payload);
  make_dir(payload + "/bin", 0750);
  make_file(payload + "/bin/run", "#!/bin/sh\n", 0755, 1700000007);
  make_file(payload + "/bin/suid", "x", 06755, 1700000008);
  make_link("run", payload + "/bin/run-link");
  make_link("../share/doc/readme", payload + "/bin/readme");
  make_dir(payload + "/empty", 0700);
  make_dir(payload + "/share");
  make_dir(payload + "/share/doc");
  make_file(payload + "/share/doc/readme", "read me", 0444);
  make_file(dir / "outside.txt", "outside", 0644);
  make_link(dir / "outside.txt", payload + "/outside");
  rztest::write_text(dir / "LICENSE text.txt", "licence words");
  std::string script = write_script(dir, "LICENSE text.txt");

  QgResult r = pack(payload, dir / "setup.run", script);
  ASSERT_NE(r.status, 0) << "the outside link must be refused without --dereference";
  r = pack(payload, dir / "setup.run", script, {"--dereference"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("dropped the set-user-ID/set-group-ID bit of bin/suid"),
            std::string::npos)
      << r.output;

  qgsetup::SetupData data = setup_data_of(dir / "setup.run");
  EXPECT_EQ(data.license, "licence words");
  EXPECT_EQ(data.license_name, "LICENSE text.txt");
  EXPECT_EQ(data.script_name, "setup.ini");
  EXPECT_NE(data.script.find("DefaultDir=/opt/format-test"), std::string::npos);
  struct Expect {
    const char* path;
    qgsetup::ItemKind kind;
    uint32_t mode;
    const char* target;
  };
  using K = qgsetup::ItemKind;
  const Expect expected[] = {
      {"bin", K::directory, 0750, ""},
      {"bin/run", K::file, 0755, ""},
      {"bin/suid", K::file, 0755, ""},
      {"bin/run-link", K::symlink, 0777, "run"},
      {"bin/readme", K::symlink, 0777, "../share/doc/readme"},
      {"empty", K::directory, 0700, ""},
      {"share/doc/readme", K::file, 0444, ""},
      {"outside", K::file, 0644, ""},  // dereferenced: the file it points to
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.path);
    const qgsetup::PayloadItem* item = find_item(data, e.path);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->kind, e.kind);
    if (e.kind != K::symlink) {
      EXPECT_EQ(item->mode, e.mode);
    }
    EXPECT_EQ(item->link_target, e.target);
  }
  EXPECT_EQ(find_item(data, "bin/run")->mtime, 1700000007);
  EXPECT_EQ(find_item(data, "bin/suid")->mtime, 1700000008);
  // Each file maps to its own archive entry.
  EXPECT_EQ(data.entry_count, 4u);
}

TEST(PackSetup, SameInputsGiveTheSameInstaller) {
  rztest::TempDir dir;
  std::string payload = dir / "payload";
  make_dir(payload);
  make_dir(payload + "/z");
  make_dir(payload + "/a");
  make_file(payload + "/z/late", std::string(5000, 'z'), 0644, 1600000000);
  make_file(payload + "/a/early", "early", 0755, 1600000001);
  make_link("early", payload + "/a/link");
  std::string script = write_script(dir);
  for (std::vector<std::string> extra :
       {std::vector<std::string>{}, std::vector<std::string>{"--password", "secret"}}) {
    SCOPED_TRACE(extra.empty() ? "plain" : "encrypted");
    ASSERT_EQ(pack(payload, dir / "one.run", script, extra).status, 0);
    ASSERT_EQ(pack(payload, dir / "two.run", script, extra).status, 0);
    EXPECT_EQ(rztest::read_file(dir / "one.run"), rztest::read_file(dir / "two.run"));
  }
  // Times later than SOURCE_DATE_EPOCH are recorded as it.
  ::setenv("SOURCE_DATE_EPOCH", "1599999999", 1);
  QgResult r = pack(payload, dir / "epoch.run", script);
  ::unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const auto& item : setup_data_of(dir / "epoch.run").items) EXPECT_EQ(item.mtime, 1599999999);
}

TEST(PackSetup, WarnsAboutNamesWindowsCannotCreateAndLongPaths) {
  std::vector<std::string> w;
  qgsetup::name_warnings("docs/read:me.txt", "/opt/x", &w);
  qgsetup::name_warnings("dir./file", "/opt/x", &w);
  qgsetup::name_warnings("con.txt", "/opt/x", &w);
  qgsetup::name_warnings("ok/name with space.txt", "/opt/x", &w);
  qgsetup::name_warnings("lpt10", "", &w);
  ASSERT_EQ(w.size(), 3u);
  EXPECT_NE(w[0].find("read:me.txt"), std::string::npos);
  EXPECT_NE(w[1].find("dir."), std::string::npos);
  EXPECT_NE(w[2].find("con.txt"), std::string::npos);
  w.clear();
  qgsetup::name_warnings(std::string(200, 'a'), std::string(50, 'b'), &w);
  EXPECT_TRUE(w.empty());
  qgsetup::name_warnings(std::string(210, 'a'), std::string(50, 'b'), &w);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(w[0].find("255-character"), std::string::npos);
}

TEST(PackSetup, PlainPackNamesWhatItCannotKeep) {
  rztest::TempDir dir;
  std::string payload = dir / "payload";
  make_dir(payload);
  make_file(payload + "/tool", "x", 0755, 1700000007);  // odd seconds
  make_link("tool", payload + "/tool-link");
  make_dir(payload + "/empty");
  QgResult r = run_qg({"pack", payload, "-o", dir / "plain.qg"});
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* text :
       {"1 executable file(s) lose their execute bits",
        "1 symbolic link(s) packed as the files they point to", "1 empty folder(s) not kept",
        "1 file time(s) lose their seconds", "--setup keeps all of this"})
    EXPECT_NE(r.output.find(text), std::string::npos) << text << "\n" << r.output;
  r = run_qg({"pack", payload, "-o", dir / "plain2.qg", "--dereference"});
  EXPECT_EQ(r.status, 4) << r.output;
}

TEST(PackSetup, IniValueReadsTheSetupSection) {
  const std::string text =
      "; comment\r\n[Other]\nLicense=wrong\n[ setup ]\r\n  license = \"my licence.txt\" \r\n"
      "DefaultDir=~/x\n";
  EXPECT_EQ(qgsetup::ini_value(text, "SETUP", "License"), "my licence.txt");
  EXPECT_EQ(qgsetup::ini_value(text, "SETUP", "DefaultDir"), "~/x");
  EXPECT_EQ(qgsetup::ini_value(text, "SETUP", "Missing"), "");
  EXPECT_EQ(qgsetup::ini_value(text, "Other", "License"), "wrong");
}

}  // namespace

namespace {

TEST(QgVersion, PrintsTheVersion) {
  fmt_test::QgResult r = fmt_test::run_qg({"--version"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, std::string("qg ") + QG_TEST_VERSION + "\n");
}

}  // namespace
