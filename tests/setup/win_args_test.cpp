// The Windows command line of the setup program: the raw line as the system
// hands it over, turned into the program's own options.  The parser is pure
// text work, so it runs here as on Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"
#include "win_args.h"

namespace {

using Args = std::vector<std::string>;

struct Case {
  const char* name;
  const char* line;
  Args expected;
};

const Case kCases[] = {
    {"nothing", "setup.exe", {}},
    {"quoted program name with blanks", "\"C:\\My Files\\setup.exe\" /S", {"--silent"}},
    {"switches in any case, / or -",
     "setup.exe /s -SILENT /VerySilent -norun",
     {"--silent", "--silent", "--silent", "--quiet", "--no-run"}},
    {"help", "setup.exe /?", {"--help"}},
    {"uninstall", "uninstall.exe /UNINSTALL /S", {"--uninstall", "--silent"}},
    {"unquoted folder at the end keeps its blanks",
     "setup.exe /S /D=C:\\Program Files\\Demo",
     {"--silent", "--target", "C:\\Program Files\\Demo"}},
    {"unquoted folder ends before the next switch",
     "setup.exe /D=C:\\My Demo /LOG=C:\\log.txt /NORUN",
     {"--target", "C:\\My Demo", "--log", "C:\\log.txt", "--no-run"}},
    {"unquoted folder ends before a long option",
     "setup.exe /D=C:\\a b --accept-license",
     {"--target", "C:\\a b", "--accept-license"}},
    {"a dash inside the folder is not a switch",
     "setup.exe /D=C:\\my -dir\\x y /S",
     {"--target", "C:\\my -dir\\x y", "--silent"}},
    {"a slash word that is no switch name stays in the folder",
     "setup.exe /D=C:\\a /b c",
     {"--target", "C:\\a /b c"}},
    {"trailing blanks are not part of the folder", "setup.exe /D=C:\\x   ", {"--target", "C:\\x"}},
    {"quoted value",
     "setup.exe /D=\"C:\\Program Files\\Demo\" /S",
     {"--target", "C:\\Program Files\\Demo", "--silent"}},
    {"the whole switch quoted",
     "setup.exe \"/D=C:\\Program Files\\Demo\" /S",
     {"--target", "C:\\Program Files\\Demo", "--silent"}},
    {"lower-case d and a dash", "setup.exe -d=C:\\x", {"--target", "C:\\x"}},
    {"folder first, switches after it",
     "setup.exe /D=C:\\x y /VERYSILENT",
     {"--target", "C:\\x y", "--silent", "--quiet"}},
    {"quoted values of other switches",
     "setup.exe /LOG=\"C:\\my logs\\a.txt\"",
     {"--log", "C:\\my logs\\a.txt"}},
    {"password file", "setup.exe /PASSWORDFILE=C:\\pw.txt", {"--password-file", "C:\\pw.txt"}},
    {"long options pass unchanged",
     "setup.exe --silent --quiet --target C:\\x",
     {"--silent", "--quiet", "--target", "C:\\x"}},
    {"-h stays the program's own", "setup.exe -h", {"-h"}},
    {"backslashes before a quote",
     "setup.exe --log \"C:\\a\\\\\" --silent",
     {"--log", "C:\\a\\", "--silent"}},
    {"an escaped quote", "setup.exe --components \"a\\\"b\"", {"--components", "a\"b"}},
    {"UTF-8 names pass as they are",
     "setup.exe /D=C:\\Programme\\Gr\xc3\xbc\xc3\x9f"
     "e",
     {"--target",
      "C:\\Programme\\Gr\xc3\xbc\xc3\x9f"
      "e"}},
};

TEST(WindowsCommandLine, SwitchesBecomeOptions) {
  for (const Case& c : kCases) {
    Args got;
    std::string error;
    EXPECT_EQ(setup::windows_arguments(c.line, &got, &error), 0) << c.name << ": " << error;
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

struct Refused {
  const char* name;
  const char* line;
};

const Refused kRefused[] = {
    {"unknown switch", "setup.exe /FOO"},
    {"empty folder", "setup.exe /D= /S"},
    {"empty quoted folder", "setup.exe /D=\"\""},
    {"two folders", "setup.exe /D=C:\\a /D=C:\\b"},
    {"a flag with a value", "setup.exe /SILENT=1"},
    {"a valued switch without its value", "setup.exe /LOG"},
    {"an empty log name", "setup.exe /LOG="},
};

TEST(WindowsCommandLine, RefusesWrongSwitches) {
  for (const Refused& c : kRefused) {
    Args got;
    std::string error;
    EXPECT_EQ(setup::windows_arguments(c.line, &got, &error), 1) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

// The translated options mean what the switches say once parsed.
TEST(WindowsCommandLine, VerySilentIsSilentAndQuiet) {
  Args got;
  std::string error;
  ASSERT_EQ(setup::windows_arguments("setup.exe /VERYSILENT /D=C:\\a b /NORUN", &got, &error), 0);
  std::vector<char*> argv = {const_cast<char*>("setup.exe")};
  for (std::string& a : got) argv.push_back(a.data());
  setup::Options opt;
  ASSERT_EQ(setup::parse_options(static_cast<int>(argv.size()), argv.data(), &opt, &error), 0)
      << error;
  EXPECT_TRUE(opt.silent);
  EXPECT_TRUE(opt.quiet);
  EXPECT_TRUE(opt.no_run);
  EXPECT_TRUE(opt.has_target);
  EXPECT_EQ(opt.target, "C:\\a b");
}

// The run with the administrator's rights gets the same switches, and
// --elevated, which ends an unquoted folder like any long option.
TEST(WindowsCommandLine, TheSameLineForTheRunWithRights) {
  const struct {
    const char* line;
    const char* tail;
  } cases[] = {
      {"setup.exe", ""},
      {"\"C:\\My Files\\setup.exe\"   /S /D=C:\\a b", "/S /D=C:\\a b"},
      {"setup.exe\t/LOG=\"C:\\l.txt\"", "/LOG=\"C:\\l.txt\""},
  };
  for (const auto& c : cases) EXPECT_EQ(setup::command_tail(c.line), c.tail) << c.line;
  Args got;
  std::string error;
  ASSERT_EQ(setup::windows_arguments("setup.exe /D=C:\\a b --elevated", &got, &error), 0);
  EXPECT_EQ(got, (Args{"--target", "C:\\a b", "--elevated"}));
}

}  // namespace
