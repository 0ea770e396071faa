// Script context, conditions and the install log.
#include <filesystem>
#include <string>

#include "script_fixture.h"

namespace {

using rz_test::ScriptFixture;

class Conditions : public ScriptFixture {};

TEST_F(Conditions, ItemRules) {
  use_script(
      "[REG]\n"
      "+2os=0\n+2cv=0\n"
      "+3os=6\n"
      "+4os=3\n"
      "+5os=4\n+5cv=1\n"
      "+6cv=2\n"
      "+12os=8\n"
      "[Other]\n+3os=1\n");
  struct {
    int32_t item;
    const char* section;
    uint32_t os, cv;
    int32_t expect;
  } cases[] = {
      {1, "REG", 4, 2, 0},    // neither key: applies
      {2, "REG", 4, 2, 0},    // both keys 0: no restriction
      {3, "REG", 4, 2, 0},    // 6 shares bit 4
      {4, "REG", 4, 2, 1},    // 3 shares nothing with 4
      {5, "REG", 4, 2, 1},    // OS passes, condition 1 fails against 2: one is enough
      {6, "REG", 4, 2, 0},    // condition shares bit 2
      {6, "REG", 4, 0, 1},    // condition mask 0 excludes every non-zero cv
      {3, "REG", 0, 0, 1},    // OS mask 0 excludes every non-zero os
      {1, "REG", 0, 0, 0},    // keys absent: masks of 0 do not matter
      {3, "Other", 4, 2, 1},  // same number, other section, other item
      {12, "reg", 8, 0, 0},   // multi-digit item, section name without case
      {12, "reg", 4, 0, 1},
  };
  for (const auto& c : cases) {
    INITMAK(script_.c_str(), 0, c.os, c.cv, log_fd_);
    EXPECT_EQ(CHECKCONDITION(c.item, c.section), c.expect)
        << "item " << c.item << " in " << c.section << " os " << c.os << " cv " << c.cv;
  }
}

TEST_F(Conditions, BeforeInitmakOrWithoutFileEveryItemApplies) {
  INITMAK("", 0, 0, 0, -1);
  EXPECT_EQ(CHECKCONDITION(1, "REG"), 0);
  std::string missing = dir_.file("missing.ini");
  INITMAK(missing.c_str(), 0, 0, 0, -1);
  EXPECT_EQ(CHECKCONDITION(1, "REG"), 0);
}

TEST_F(Conditions, InitmakReturnsHandleAndKeepsLongPathsWhole) {
  EXPECT_EQ(INITMAK("x", 1, 2, 3, 1234), 1234);
  // A script path far beyond the old 254-character store still names its file.
  std::string deep = dir_.path();
#if defined(_WIN32)
  // Windows' ANSI profile calls take no path of MAX_PATH (260) characters
  // or more, so the path there ends just past the old store instead.
  ASSERT_LT(deep.size(), 240u);
  deep += "/" + std::string(258 - 6 - 1 - deep.size(), 'd');
  ASSERT_TRUE(std::filesystem::create_directory(deep));
#else
  while (deep.size() < 400) {
    deep += "/abcdefghijklmnopqrstuvwxyz0123456789";
    ASSERT_TRUE(std::filesystem::create_directory(deep));
  }
#endif
  std::string script = deep + "/s.ini";
  ASSERT_GT(script.size(), 254u);
  rz_test::write_file(script, "[REG]\n+1os=1\n");
  INITMAK(script.c_str(), 0, 2, 0, -1);
  EXPECT_EQ(CHECKCONDITION(1, "REG"), 1);
}

TEST(InitScript, StoresACopy) {
  std::string text = "first";
  const char* stored = INITSCRIPT(text.c_str());
  ASSERT_NE(stored, nullptr);
  EXPECT_NE(stored, text.c_str());
  text = "changed";
  EXPECT_STREQ(stored, "first");
  EXPECT_STREQ(INITSCRIPT("second"), "second");
}

class LogInfo : public ScriptFixture {};

TEST_F(LogInfo, WritesWholeLines) {
  EXPECT_EQ(LOGINFO("RegRoot:", "3", log_fd_), 12);
  EXPECT_EQ(LOGINFO("", "x", log_fd_), 4);
  // Far beyond the old 256-byte line: written whole.
  std::string label(300, 'L'), value(500, 'V');
  EXPECT_EQ(LOGINFO(label.c_str(), value.c_str(), log_fd_), 803);
  EXPECT_EQ(log(), "RegRoot: 3\r\n x\r\n" + label + " " + value + "\r\n");
}

TEST_F(LogInfo, BadHandleGivesMinusOne) {
  int32_t fd = rz_test::open_host_file(log_path_, false);
  ASSERT_NE(fd, -1);
  EXPECT_EQ(LOGINFO("a", "b", fd), -1);  // not open for writing
  rz_test::close_host_file(fd);
  EXPECT_EQ(LOGINFO("a", "b", -1), -1);
  EXPECT_EQ(log(), "");
}

}  // namespace
