// The message table and the four boxes, answered through the host callback.
#include "frame/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "raziza3z.h"
#include "raziza3z_host.h"

namespace {

using rztest::HostTest;

const int kIds[] = {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16, 17, 18};

std::vector<std::string> all_texts() {
  std::vector<std::string> out;
  for (int id : kIds) out.push_back(rz::message_text(id));
  return out;
}

TEST_F(HostTest, InitialTextsAreInPlace) {
  EXPECT_STREQ(rz::message_text(1), "Unpack");
  EXPECT_STREQ(rz::message_text(2), "Error");
  EXPECT_STREQ(rz::message_text(4), "Please insert disk # %s and click OK to continue");
  EXPECT_STREQ(rz::message_text(13), "Are you sure you wish to replace %s");
  EXPECT_STREQ(rz::message_text(17), "% is not a valid QEN file.");
  EXPECT_STREQ(rz::message_text(18), "Please insert disk number %i");
  EXPECT_STREQ(rz::message_text(9), "");
}

TEST_F(HostTest, SetMsgRefusesIdsWithoutASlot) {
  const std::vector<std::string> before = all_texts();
  for (int32_t id : {0, 9, 19, 1000, -1, -18, INT32_MIN})
    EXPECT_EQ(QEN_U_SETMSG(id, "changed"), nullptr) << id;
  EXPECT_EQ(all_texts(), before);
}

TEST_F(HostTest, SetMsgStoresEveryOtherIdAndReturnsTheCopy) {
  for (int id : kIds) {
    std::string text = "text " + std::to_string(id);
    const char* stored = QEN_U_SETMSG(id, text.c_str());
    ASSERT_NE(stored, nullptr) << id;
    EXPECT_NE(stored, text.c_str());
    EXPECT_EQ(stored, rz::message_text(id));
    EXPECT_EQ(std::string(stored), text);
  }
  // Each slot is its own: the last writes did not overwrite the others.
  EXPECT_STREQ(rz::message_text(1), "text 1");
  EXPECT_STREQ(rz::message_text(18), "text 18");
}

TEST_F(HostTest, SetMsgCutsLongTextsTo79) {
  const std::string exact(79, 'e'), longer(200, 'l');
  EXPECT_EQ(std::string(QEN_U_SETMSG(5, exact.c_str())), exact);
  EXPECT_EQ(std::string(QEN_U_SETMSG(5, longer.c_str())), std::string(79, 'l'));
  // The stored copy given back again is kept as it is.
  const char* stored = rz::message_text(5);
  EXPECT_EQ(std::string(QEN_U_SETMSG(5, stored)), std::string(79, 'l'));
  EXPECT_EQ(std::string(QEN_U_SETMSG(5, stored + 70)), std::string(9, 'l'));
  EXPECT_STREQ(QEN_U_SETMSG(6, nullptr), "");
}

TEST_F(HostTest, ErrorBoxJoinsTextAndDetailUnlessQuiet) {
  int owner;
  rz::extract_state().owner_window = &owner;
  rz::error_box(rz::message_text(8), "C:\\SETUP\\DATA.EXE", rz::message_text(2));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error opening archive: C:\\SETUP\\DATA.EXE");
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].style, 0x2010u);
  EXPECT_EQ(boxes[0].owner, &owner);
  // A % in the detail or the text is shown as it stands.
  rz::error_box("100% ", "%s%n", "");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, "100% %s%n");
  rz::extract_state().quiet = true;
  rz::error_box("a", "b", "c");
  EXPECT_EQ(boxes.size(), 2u);
}

// How each prompt reads the host's answer.  0 is what a host returns when it
// cannot ask; the defaults follow from it.
struct AnswerCase {
  int32_t host_answer;
  int create_path, replace, disk;
};

TEST_F(HostTest, PromptsMapEveryAnswer) {
  const AnswerCase cases[] = {
      {RZ_IDYES, rz::kIdYes, rz::kIdYes, 0},
      {RZ_IDNO, rz::kIdNo, rz::kIdNo, 0},
      {RZ_IDCANCEL, rz::kIdCancel, rz::kIdCancel, rz::kIdCancel},
      {RZ_IDOK, rz::kIdYes, rz::kIdYes, rz::kIdOk},
      {0, rz::kIdYes, rz::kIdNo, rz::kIdCancel},
      {3, rz::kIdYes, rz::kIdYes, 0},  // IDABORT
      {-5, rz::kIdYes, rz::kIdYes, 0},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.host_answer);
    default_answer = c.host_answer;
    EXPECT_EQ(rz::create_path_prompt("D:\\X"), c.create_path);
    EXPECT_EQ(rz::replace_prompt("D:\\X\\F"), c.replace);
    EXPECT_EQ(rz::disk_prompt(2), c.disk);
  }
  EXPECT_EQ(boxes.size(), 3 * std::size(cases));
}

TEST_F(HostTest, PromptsShowTheirTextsCaptionsAndStyles) {
  int owner;
  rz::extract_state().owner_window = &owner;
  rz::extract_state().quiet = true;  // silences error boxes only
  rz::create_path_prompt("D:\\GAMES\\NEW");
  rz::replace_prompt("D:\\GAMES\\NEW\\A.DAT");
  rz::disk_prompt_beep();
  rz::disk_prompt(3);
  rz::disk_prompt(12);
  rz::disk_prompt(100);
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(boxes[0].text, "Create Path: D:\\GAMES\\NEW");
  EXPECT_EQ(boxes[0].caption, "");
  EXPECT_EQ(boxes[0].style, 0x2023u);
  EXPECT_EQ(boxes[1].text, "Are you sure you wish to replace D:\\GAMES\\NEW\\A.DAT");
  EXPECT_EQ(boxes[1].caption, "Warning");
  EXPECT_EQ(boxes[1].style, 0x2023u);
  EXPECT_EQ(boxes[2].text, "Please insert disk # 03 and click OK to continue");
  EXPECT_EQ(boxes[2].caption, "Unpack");
  EXPECT_EQ(boxes[2].style, 0x2011u);
  EXPECT_EQ(boxes[3].text, "Please insert disk # 12 and click OK to continue");
  EXPECT_EQ(boxes[4].text, "Please insert disk # 100 and click OK to continue");
  for (const auto& b : boxes) EXPECT_EQ(b.owner, &owner);
  EXPECT_EQ(beeps, std::vector<uint32_t>{1});
}

struct TemplateCase {
  const char* name;
  const char* templ;
  const char* value;
  const char* shown;
};

// Replaced templates are filled by plain substitution of the first "%s";
// nothing in a host's text or in the value is taken as a directive.
TEST_F(HostTest, TemplatesAreNeverFormatStrings) {
  const TemplateCase cases[] = {
      {"other directives stay", "%d%% %n %x: %s?", "F.TXT", "%d%% %n %x: F.TXT?"},
      {"only the first %s", "%s and %s", "A", "A and %s"},
      {"no %s shows the text", "Replace it?", "F.TXT", "Replace it?"},
      {"value with directives", "Replace %s", "%s%n%p", "Replace %s%n%p"},
      {"empty template", "", "F.TXT", ""},
      {"lone percent at the end", "Replace %s %", "F", "Replace F %"},
  };
  for (const TemplateCase& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    QEN_U_SETMSG(13, c.templ);
    rz::replace_prompt(c.value);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.shown);
  }
  boxes.clear();
  QEN_U_SETMSG(4, "Disk %s, %i%% please");
  rz::disk_prompt(7);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Disk 07, %i%% please");
}

TEST_F(HostTest, CutTemplateKeepsItsPlaceholderOnlyWhenItFits) {
  // A 100-character template is cut to 79: a %s behind the cut is gone.
  std::string late = std::string(90, '.') + "%s";
  QEN_U_SETMSG(13, late.c_str());
  rz::replace_prompt("PATH");
  std::string early = std::string(77, '.') + "%s" + std::string(20, '-');
  QEN_U_SETMSG(13, early.c_str());
  rz::replace_prompt("PATH");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, std::string(79, '.'));
  EXPECT_EQ(boxes[1].text, std::string(77, '.') + "PATH");
  // The filled text itself is not limited: a long path is shown whole.
  std::string path(300, 'p');
  QEN_U_SETMSG(13, "Replace %s?");
  rz::replace_prompt(path.c_str());
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[2].text, "Replace " + path + "?");
}

TEST_F(HostTest, ReplacedTextIsWhatTheNextBoxShows) {
  QEN_U_SETMSG(12, "Verzeichnis anlegen: ");
  QEN_U_SETMSG(3, "Warnung");
  QEN_U_SETMSG(1, "Entpacken");
  rz::create_path_prompt("X");
  rz::replace_prompt("Y");
  rz::disk_prompt(2);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Verzeichnis anlegen: X");
  EXPECT_EQ(boxes[1].caption, "Warnung");
  EXPECT_EQ(boxes[2].caption, "Entpacken");
}

// On Windows, without a callback the real MessageBoxA is shown and waits
// for a user; there is no default to check.
#if !defined(_WIN32)
TEST(NoHostCallbacks, PromptsTakeTheirSafeDefaults) {
  rz_host_set_message_box(nullptr, nullptr);
  rz_host_set_beep(nullptr, nullptr);
  EXPECT_EQ(rz::create_path_prompt("X"), rz::kIdYes);
  EXPECT_EQ(rz::replace_prompt("X"), rz::kIdNo);
  EXPECT_EQ(rz::disk_prompt(2), rz::kIdCancel);
}
#endif

}  // namespace
