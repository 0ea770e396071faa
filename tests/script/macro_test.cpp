// strnsub, CONVERTMACRO and PATHMACRO.
#include <cstring>
#include <string>

#include "script_fixture.h"

namespace {

using rz_test::ScriptFixture;

struct SubCase {
  const char* name;
  const char* text;
  const char* search;
  const char* replacement;
  int32_t capacity;
  const char* expect;  // text afterwards
  bool changed;
  long result_offset;  // result - start of occurrence, when changed
};

TEST(Strnsub, Cases) {
  const SubCase cases[] = {
      {"first only", "a%X%b%X%c", "%X%", "Y", 1024, "aYb%X%c", true, 1 - 3},
      {"same texts", "a%X%b", "%X%", "%X%", 1024, "a%X%b", false, 0},
      {"not found", "abc", "%X%", "Y", 1024, "abc", false, 0},
      {"empty search", "abc", "", "Z", 1024, "Zabc", true, 1},
      {"empty replacement", "a%X%b", "%X%", "", 1024, "ab", true, -3},
      {"fits: 7 < 10", "ab%X%", "%X%", "12345", 10, "ab12345", true, 2},
      {"full: 10 = 10", "ab%X%", "%X%", "12345678", 10, "ab%X%", false, 0},
      {"capacity 0", "ab", "a", "b", 0, "ab", false, 0},
      {"negative capacity", "ab", "a", "b", -5, "ab", false, 0},
      {"longer search shrinks", "xxABCDEFyy", "ABCDEF", "1", 11, "xx1yy", true, -5},
  };
  for (const auto& c : cases) {
    char buf[1024] = {};
    std::strcpy(buf, c.text);
    size_t at = std::strstr(buf, c.search) ? std::strstr(buf, c.search) - buf : 0;
    char* r = strnsub(buf, c.search, c.replacement, c.capacity);
    EXPECT_STREQ(buf, c.expect) << c.name;
    EXPECT_EQ(r != nullptr, c.changed) << c.name;
    if (r && c.changed) {
      EXPECT_EQ(reinterpret_cast<intptr_t>(r) - reinterpret_cast<intptr_t>(buf + at),
                c.result_offset)
          << c.name;
    }
  }
}

TEST(Strnsub, NeverWritesPastCapacity) {
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  std::strcpy(buf, "abc");                           // 4 bytes used of a capacity of 8
  ASSERT_NE(strnsub(buf, "b", "1234", 8), nullptr);  // 6 < 8
  EXPECT_STREQ(buf, "a1234c");
  EXPECT_EQ(strnsub(buf, "a", "xxx", 8), nullptr);  // 8 + 1 would not fit
  EXPECT_EQ(buf[7], '#');
}

class Macros : public ScriptFixture {};

TEST_F(Macros, NoPercentMeansNoWork) {
  use_script("[VARIABLES]\n#=1\n1=DIR\nDIR=C:\\App\n");
  char text[1024] = "DIR\\bin";
  EXPECT_EQ(CONVERTMACRO(text, 5), 0);
  EXPECT_STREQ(text, "DIR\\bin");
}

TEST_F(Macros, ReplacesAtMostFourOccurrences) {
  use_script("[VARIABLES]\n#=1\n1=%D%\n%D%=C:\\App\n");
  char text[1024] = "%D%\\bin;%D%\\lib";
  EXPECT_EQ(CONVERTMACRO(text, 5), 5);
  EXPECT_STREQ(text, "C:\\App\\bin;C:\\App\\lib");
  std::strcpy(text, "%D%%D%%D%%D%%D%");
  EXPECT_EQ(CONVERTMACRO(text, 5), 5);
  EXPECT_STREQ(text, "C:\\AppC:\\AppC:\\AppC:\\App%D%");
}

TEST_F(Macros, PassOrderFollowsVariableNumbers) {
  char text[1024];
  use_script("[VARIABLES]\n#=2\n1=%A%\n%A%=%B%\\x\n2=%B%\n%B%=C:\n");
  std::strcpy(text, "%A%");
  EXPECT_EQ(CONVERTMACRO(text, 2), 2);  // one pass is enough
  EXPECT_STREQ(text, "C:\\x");
  use_script("[VARIABLES]\n#=2\n2=%A%\n%A%=%B%\\x\n1=%B%\n%B%=C:\n");
  std::strcpy(text, "%A%");
  CONVERTMACRO(text, 2);
  EXPECT_STREQ(text, "%B%\\x");  // %B% comes first, so it needs a second pass
  CONVERTMACRO(text, 2);
  EXPECT_STREQ(text, "C:\\x");
}

TEST_F(Macros, PassLimits) {
  use_script("[VARIABLES]\n#=1\n1=%D%\n%D%=v\n");
  struct {
    int32_t limit;
    int32_t expect;
    const char* text;
  } cases[] = {{1, 1, "%D%"}, {0, 1, "%D%"}, {-4, 1, "%D%"}, {2, 2, "v"}, {100000, 32767, "v"}};
  for (const auto& c : cases) {
    char text[1024] = "%D%";
    EXPECT_EQ(CONVERTMACRO(text, c.limit), c.expect) << c.limit;
    EXPECT_STREQ(text, c.text) << c.limit;
  }
}

TEST_F(Macros, MissingScriptOrSectionStillCountsPasses) {
  use_script("[Other]\nx=1\n");
  char text[1024] = "%D%";
  EXPECT_EQ(CONVERTMACRO(text, 5), 5);
  EXPECT_STREQ(text, "%D%");
}

TEST_F(Macros, ReplacementThatWouldOverflowIsSkipped) {
  std::string big(1000, 'x');
  use_script("[VARIABLES]\n#=2\n1=%BIG%\n%BIG%=" + big.substr(0, 254) + "\n2=%S%\n%S%=s\n");
  char text[1024];
  std::string start = std::string(900, 'a') + "%BIG%%S%";
  std::strcpy(text, start.c_str());
  CONVERTMACRO(text, 5);
  // 900 + 254 would pass 1023: %BIG% stays, %S% is still replaced.
  EXPECT_EQ(std::string(text), std::string(900, 'a') + "%BIG%s");
}

TEST_F(Macros, ValuesAndNamesAreCutAtTheirLimits) {
  std::string long_value(300, 'v');
  std::string long_name = "%" + std::string(60, 'N') + "%";
  use_script("[VARIABLES]\n#=2\n1=%V%\n%V%=" + long_value + "\n2=" + long_name + "\n" +
             long_name.substr(0, 49) + "=cut\n");
  char text[1024] = "%V%|%NN";
  CONVERTMACRO(text, 2);
  EXPECT_EQ(std::string(text), std::string(254, 'v') + "|%NN");
  std::strcpy(text, long_name.c_str());
  CONVERTMACRO(text, 2);
  // The name is cut to 49 characters and the cut name is what gets replaced.
  EXPECT_EQ(std::string(text), "cut" + long_name.substr(49));
}

struct PathCase {
  const char* path;
  const char* component;
  int32_t expect;
  const char* result;
};

TEST(PathMacro, Cases) {
  std::string long_path = "C:\\" + std::string(200, 'p') + "\\App\\bin";
  const PathCase cases[] = {
      {"C:\\Program Files\\App\\bin", "\\App", 1, "C:\\Program Files"},
      {"C:\\Windows\\System32", "\\Windows", 1, "C:\\"},
      {"C:\\A\\B\\A\\C", "\\A", 1, "C:\\A\\B"},
      {"C:\\App\\", "\\App", 1, "C:\\"},
      {"C:\\App", "\\App", 1, "C:\\"},
      {"C:\\", "\\", 0, nullptr},
      {"C:\\App\\bin", "App", 0, nullptr},
      {"C:\\App\\bin", "\\app", 0, nullptr},
      {"C:\\App\\bin", "\\Other", 0, nullptr},
      {"NoBackslashes", "\\x", 0, nullptr},
      {"", "\\x", 0, nullptr},
      // Longer than the old 127-character store: worked out, but the answer
      // does not fit the 128-byte result.
      {long_path.c_str(), "\\App", 0, nullptr},
      {long_path.c_str(), "\\bin", 0, nullptr},
  };
  for (const auto& c : cases) {
    char result[160];
    std::memset(result, '#', sizeof result);
    EXPECT_EQ(PATHMACRO(c.path, c.component, result), c.expect) << c.path << " " << c.component;
    if (c.result) {
      EXPECT_STREQ(result, c.result) << c.path;
    } else {
      EXPECT_EQ(result[0], '#') << c.path;
    }
    EXPECT_EQ(result[128], '#');
  }
}

TEST(PathMacro, LongPathWithShortAnswer) {
  // A path far beyond 127 characters whose answer fits.
  std::string path = "C:\\App\\" + std::string(300, 'x') + "\\bin";
  char result[128];
  EXPECT_EQ(PATHMACRO(path.c_str(), "\\App", result), 1);
  EXPECT_STREQ(result, "C:\\");
  std::string answer = "C:\\" + std::string(124, 'y');  // 127 characters: fits exactly
  path = answer + "\\App\\" + std::string(200, 'z');
  EXPECT_EQ(PATHMACRO(path.c_str(), "\\App", result), 1);
  EXPECT_EQ(std::string(result), answer);
}

}  // namespace
