// The setup program's journal, install record and script reader, on their
// own: a journal played back must leave the folder as it was, whatever the
// journal holds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fields.h"
#include "ini.h"
#include "journal.h"
#include "record.h"
#include "temp_dir.h"
#include "ui.h"

namespace {

using setup::Fields;

TEST(SetupFields, RoundTripsAnyBytes) {
  const std::string cases[] = {"",
                               "plain",
                               "with space",
                               "tab\tcr\rlf\nff\f",
                               "100%",
                               std::string("nul\0byte", 8),
                               "\x7f\xff\xc3\xa9",
                               "%"};
  for (const std::string& raw : cases) {
    std::string line = setup::join_fields({"kind", raw, "end"});
    ASSERT_EQ(line.back(), '\n');
    line.pop_back();
    EXPECT_EQ(line.find_first_of(std::string("\t\r\n\f\0", 5)), std::string::npos);
    Fields back;
    ASSERT_TRUE(setup::split_fields(line, &back)) << line;
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[1], raw);
  }
}

TEST(SetupFields, RefusesMalformedLines) {
  const char* cases[] = {"a  b", " a", "a ", "a %4", "a %zz", "a b%"};
  for (const char* line : cases) {
    Fields f;
    EXPECT_FALSE(setup::split_fields(line, &f)) << line;
  }
  uint64_t v = 0;
  EXPECT_FALSE(setup::parse_num("18446744073709551616", &v));
  EXPECT_TRUE(setup::parse_num("18446744073709551615", &v));
  EXPECT_FALSE(setup::parse_num("-1", &v));
  std::string bytes;
  EXPECT_FALSE(setup::from_hex("abc", &bytes));
  EXPECT_FALSE(setup::from_hex("zz", &bytes));
}

TEST(SetupIni, ReadsSectionsAndItemsLikeTheLibrary) {
  setup::Ini ini;
  ini.parse(
      "; comment\n[Setup]\r\n name = Demo App \nNAME=second\nDefaultDir=~/x\n"
      "[shortcuts]\nNdx=2\n+1link=/a b\n+2link=/c\n[empty]\n");
  EXPECT_EQ(ini.get("SETUP", "Name"), "Demo App");
  EXPECT_EQ(ini.get("setup", "defaultdir"), "~/x");
  EXPECT_EQ(ini.count("SHORTCUTS"), 2);
  EXPECT_EQ(ini.item("SHORTCUTS", 1, "link"), "/a b");
  EXPECT_EQ(ini.get("SETUP", "Missing", "fallback"), "fallback");
  EXPECT_EQ(ini.count("EMPTY"), 0);
  EXPECT_EQ(ini.get_int("SHORTCUTS", "+2link", 7), 7);
}

TEST(SetupIni, VariablesSectionIsReplacedNotDuplicated) {
  setup::Ini ini;
  std::string text = "[REG]\nNdx=1\n[VARIABLES]\n#=1\n1=%A%\n%A%=old\n[SETUP]\nName=x\n";
  ini.parse(text);
  std::string out = ini.with_variables(text, {{"%A%", "a"}, {"%TARGET%", "/t"}});
  setup::Ini back;
  back.parse(out);
  EXPECT_EQ(back.get("VARIABLES", "#"), "2");
  EXPECT_EQ(back.get("VARIABLES", "%A%"), "a");
  EXPECT_EQ(back.get("VARIABLES", "2"), "%TARGET%");
  EXPECT_EQ(back.get("SETUP", "Name"), "x");
  EXPECT_EQ(back.get("REG", "Ndx"), "1");
  EXPECT_EQ(out.find("old"), std::string::npos);
}

TEST(SetupIni, SplitsCommandsWithoutAShell) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
  } cases[] = {
      {"prog", {"prog"}},
      {"  prog  a   b ", {"prog", "a", "b"}},
      {"\"/opt/my app/bin\" --x=\"y z\"", {"/opt/my app/bin", "--x=y z"}},
      {"a \"\" b", {"a", "", "b"}},
      {"echo $HOME;rm", {"echo", "$HOME;rm"}},
      {"\"q\\\"uote\"", {"q\"uote"}},
  };
  for (const Case& c : cases) EXPECT_EQ(setup::split_command(c.text), c.args) << c.text;
}

// The script's replacements of the library's texts: what the library can
// keep and fill is taken, the rest refused before it reaches the library.
TEST(SetupIni, ChecksReplacementsOfTheLibraryTexts) {
  const std::string longest(79, 'x');
  struct Case {
    int id;
    std::string text;
    bool taken;
  } cases[] = {
      {2, "Fehler", true},
      {14, "Schreibfehler: ", true},
      {2, longest, true},
      {2, longest + "x", false},
      {7, "100% sure: ", true},  // not a template: '%' is plain text
      {13, "Ersetzen %s?", true},
      {4, "Diskette %s einlegen", true},
      {13, "Ersetzen?", false},
      {13, "%s und %s", false},
      {13, "%d %s", false},
      {4, "100%% %s", false},
      {13, "%", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(setup::library_message_fault(c.id, c.text).empty(), c.taken)
        << c.id << " " << c.text;
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    meta = dir / ".qg-setup";
    ASSERT_EQ(::mkdir(meta.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((meta + "/backup").c_str(), 0700), 0);
    ASSERT_TRUE(ui.start(setup::UiOptions{true, true, false, -1, ""}));
  }
  rztest::TempDir dir;
  std::string meta;
  setup::Ui ui;
};

// Every kind of change, undone: the folder is as it was before.
TEST_F(JournalTest, RollBackRestoresReplacedAndRemovesCreated) {
  rztest::write_text(dir / "keep.txt", "original");
  rztest::write_text(dir / "other.txt", "untouched");
  ASSERT_EQ(::symlink("keep.txt", (dir / "was-link").c_str()), 0);
  setup::Journal j;
  ASSERT_EQ(j.create(meta + "/journal"), 0);
  ASSERT_EQ(j.created_dir(dir / "new"), 0);
  ASSERT_EQ(::mkdir((dir / "new").c_str(), 0755), 0);
  ASSERT_EQ(j.created_file(dir / "new/file"), 0);
  rztest::write_text(dir / "new/file", "made");
  ASSERT_EQ(j.back_up(dir / "keep.txt", meta + "/backup"), 0);
  ASSERT_EQ(::unlink((dir / "keep.txt").c_str()), 0);  // the replacement
  rztest::write_text(dir / "keep.txt", "replaced");
  ASSERT_EQ(j.back_up(dir / "was-link", meta + "/backup"), 0);
  rztest::write_text(dir / "was-link", "a file now");
  j.close();

  EXPECT_EQ(setup::roll_back(meta + "/journal", ui), 0);
  EXPECT_EQ(rztest::read_file(dir / "keep.txt"),
            std::vector<uint8_t>({'o', 'r', 'i', 'g', 'i', 'n', 'a', 'l'}));
  EXPECT_FALSE(std::filesystem::exists(dir / "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "was-link"));
  EXPECT_TRUE(std::filesystem::exists(dir / "other.txt"));
  EXPECT_FALSE(std::filesystem::exists(meta + "/journal"));
  EXPECT_TRUE(std::filesystem::is_empty(meta + "/backup"));
}

// A folder that the user filled meanwhile stays (with its files), and the
// folders that hold the journal go last.
TEST_F(JournalTest, RollBackKeepsForeignFilesAndRemovesJournalFolders) {
  std::string root = dir / "target";
  setup::Journal j;
  ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((root + "/.qg-setup").c_str(), 0755), 0);
  ASSERT_EQ(j.create(root + "/.qg-setup/journal"), 0);
  ASSERT_EQ(j.created_dir(root), 0);
  ASSERT_EQ(j.created_dir(root + "/.qg-setup"), 0);
  ASSERT_EQ(j.created_dir(root + "/sub"), 0);
  ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0755), 0);
  rztest::write_text(root + "/sub/user-file", "not ours");
  j.close();
  EXPECT_EQ(setup::roll_back(root + "/.qg-setup/journal", ui), 1);
  EXPECT_TRUE(std::filesystem::exists(root + "/sub/user-file"));
  EXPECT_FALSE(std::filesystem::exists(root + "/.qg-setup"));

  std::filesystem::remove_all(root + "/sub");
  ASSERT_EQ(::mkdir((root + "/.qg-setup").c_str(), 0755), 0);
  setup::Journal j2;
  ASSERT_EQ(j2.create(root + "/.qg-setup/journal"), 0);
  ASSERT_EQ(j2.created_dir(root), 0);
  ASSERT_EQ(j2.created_dir(root + "/.qg-setup"), 0);
  j2.close();
  EXPECT_EQ(setup::roll_back(root + "/.qg-setup/journal", ui), 0);
  EXPECT_FALSE(std::filesystem::exists(root));
}

// A file backed up whose replacement then failed is still the same file:
// the rollback drops the backup's name and keeps the file.
TEST_F(JournalTest, BackupOfAFileThatWasNeverReplacedIsDropped) {
  rztest::write_text(dir / "kept", "original");
  setup::Journal j;
  ASSERT_EQ(j.create(meta + "/journal"), 0);
  ASSERT_EQ(j.back_up(dir / "kept", meta + "/backup"), 0);
  j.close();
  EXPECT_EQ(setup::roll_back(meta + "/journal", ui), 0);
  EXPECT_EQ(rztest::read_file(dir / "kept").size(), 8u);
  EXPECT_TRUE(std::filesystem::is_empty(meta + "/backup"));
}

// A process killed while appending leaves a torn last line: its change was
// never made, so it is skipped and the rest is undone.
TEST_F(JournalTest, TornLastRecordIsIgnored) {
  rztest::write_text(dir / "made", "x");
  std::ofstream(meta + "/journal") << setup::join_fields({"file", dir / "made"}) << "backup %zz";
  EXPECT_EQ(setup::roll_back(meta + "/journal", ui), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "made"));
}

// After commit the new files stay and only the backups go, also when the
// clean-up itself was interrupted (the next run finds a committed journal).
TEST_F(JournalTest, CommittedJournalKeepsTheInstallation) {
  rztest::write_text(dir / "f", "old");
  setup::Journal j;
  ASSERT_EQ(j.create(meta + "/journal"), 0);
  ASSERT_EQ(j.back_up(dir / "f", meta + "/backup"), 0);
  ASSERT_EQ(::unlink((dir / "f").c_str()), 0);
  rztest::write_text(dir / "f", "new");
  ASSERT_EQ(j.note({"commit"}, true), 0);
  j.close();
  EXPECT_EQ(setup::roll_back(meta + "/journal", ui), 0);
  EXPECT_EQ(rztest::read_file(dir / "f"), std::vector<uint8_t>({'n', 'e', 'w'}));
  EXPECT_TRUE(std::filesystem::is_empty(meta + "/backup"));
}

TEST_F(JournalTest, FinishDropsBackupsAndJournal) {
  rztest::write_text(dir / "f", "old");
  setup::Journal j;
  ASSERT_EQ(j.create(meta + "/journal"), 0);
  setup::Journal second;
  EXPECT_NE(second.create(meta + "/journal"), 0) << "an existing journal is never reused";
  ASSERT_EQ(j.back_up(dir / "f", meta + "/backup"), 0);
  EXPECT_FALSE(std::filesystem::is_empty(meta + "/backup"));
  EXPECT_EQ(setup::finish_journal(j, ui), 0);
  EXPECT_TRUE(std::filesystem::is_empty(meta + "/backup"));
  EXPECT_FALSE(std::filesystem::exists(meta + "/journal"));
  EXPECT_TRUE(std::filesystem::exists(dir / "f"));
}

TEST(SetupRecord, RoundTripsAndRefusesOtherFiles) {
  rztest::TempDir dir;
  setup::InstallRecord r;
  r.product = "Demo";
  r.version = "1.0";
  r.target = dir / "odd name\nwith newline";
  r.uninstall_root = 2;
  r.uninstall_key = "Software\\X";
  r.preuninstall = {"/bin/echo", "a b"};
  r.preuninstall_dir = "/";
  r.items = {{"dir", r.target},
             {"file", r.target + "/f", "3", "12345678"},
             {"reg", "2", "K", "", "absent"}};
  ASSERT_EQ(setup::write_record(dir / "record", r), 0);
  setup::InstallRecord back;
  ASSERT_TRUE(setup::read_record(dir / "record", &back));
  EXPECT_EQ(back.target, r.target);
  EXPECT_EQ(back.items, r.items);
  EXPECT_EQ(back.preuninstall, r.preuninstall);
  EXPECT_EQ(back.uninstall_key, r.uninstall_key);
  rztest::write_text(dir / "bad", "something else\n");
  EXPECT_FALSE(setup::read_record(dir / "bad", &back));
  EXPECT_FALSE(setup::read_record(dir / "missing", &back));
}

TEST(SetupRecord, Crc32OfAFileMatchesTheKnownValue) {
  rztest::TempDir dir;
  rztest::write_text(dir / "f", "123456789");
  uint32_t crc = 0;
  ASSERT_TRUE(setup::file_crc32(dir / "f", 9, &crc));
  EXPECT_EQ(crc, 0xCBF43926u);
  uint32_t parsed = 0;
  EXPECT_TRUE(setup::parse_crc(setup::crc_text(crc), &parsed));
  EXPECT_EQ(parsed, crc);
}

TEST(SetupUi, ShownEscapesControlBytes) {
  EXPECT_EQ(setup::shown("a b\tc\rd\ne\\f\x01\x7f\xc3\xa9"),
            "a b\\tc\\rd\\ne\\\\f\\x01\\x7f\xc3\xa9");
}

}  // namespace
