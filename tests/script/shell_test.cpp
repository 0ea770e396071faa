// CREATELINK, CREATEFOLDER and REGTLB.
// The POSIX shell services (desktop entries, link files read back by
// command-line tools); on Windows IShellLinkA and the type library calls
// serve, which the Win32 suite checks.
#if !defined(_WIN32)
#include "platform/shell.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "script_fixture.h"

namespace {

using rz_test::read_file;
using rz_test::ScriptFixture;

bool have_tool(const char* name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// Runs a shell command; returns its exit status and its output.
int run(const std::string& cmd, std::string& out) {
  FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const std::string& s) {
  return "'" + s + "'";
}

// The line of lnkinfo's report that begins with label, without the label.
std::string lnk_field(const std::string& report, const std::string& label) {
  size_t at = report.find("\t" + label);
  if (at == std::string::npos) return "<absent>";
  at = report.find(": ", at);
  size_t end = report.find('\n', at);
  return report.substr(at + 2, end - at - 2);
}

class CreateLink : public ScriptFixture {
 protected:
  void SetUp() override {
    ScriptFixture::SetUp();
    use_script("[VARIABLES]\n#=2\n1=%D%\n%D%=C:\\Program Files\\Demo\n2=%A%\n%A%=two words\n");
  }
  struct Buffers {
    char target[1024] = "%D%\\demo.exe";
    char dir[1024] = "%D%";
    char icon[1024] = "%D%\\demo.ico";
    char args[1024] = "--flag \"%A%\"";
  };
};

TEST_F(CreateLink, ShellLinkReadBackByLnkinfo) {
  if (!have_tool("lnkinfo")) GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed";
  struct {
    uint32_t hot_key;
    uint16_t stored;
  } cases[] = {{0x41, 0x0341}, {0x141, 0x0341}, {0x100, 0x0300}, {0, 0}};
  for (const auto& c : cases) {
    Buffers b;
    std::string link = dir_.file("%D% link.lnk");  // the link path is not substituted
    EXPECT_EQ(CREATELINK(b.target, link.c_str(), b.dir, b.icon, -7, b.args, c.hot_key), 0);
    EXPECT_STREQ(b.target, "C:\\Program Files\\Demo\\demo.exe");
    EXPECT_STREQ(b.args, "--flag \"two words\"");
    std::string report;
    ASSERT_EQ(run("lnkinfo " + quote(link), report), 0) << report;
    EXPECT_EQ(lnk_field(report, "Local path"), "C:\\Program Files\\Demo\\demo.exe") << report;
    EXPECT_EQ(lnk_field(report, "Working directory"), "C:\\Program Files\\Demo");
    EXPECT_EQ(lnk_field(report, "Command line arguments"), "--flag \"two words\"");
    EXPECT_EQ(lnk_field(report, "Icon location"), "C:\\Program Files\\Demo\\demo.ico");
    EXPECT_EQ(lnk_field(report, "Icon index"), "-7");
    // This lnkinfo release does not report the hot key; read it where the
    // Shell Link header keeps it (offset 0x40, little-endian).
    std::string bytes = read_file(link);
    ASSERT_GE(bytes.size(), 76u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[0x40]) | static_cast<uint8_t>(bytes[0x41]) << 8, c.stored)
        << std::hex << c.hot_key;
  }
}

TEST_F(CreateLink, EmptyTextsLeaveTheirStringsOut) {
  if (!have_tool("lnkinfo")) GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed";
  char target[1024] = "C:\\x.exe", dir[1024] = "", icon[1024] = "", args[1024] = "";
  std::string link = dir_.file("plain.lnk");
  CREATELINK(target, link.c_str(), dir, icon, 0, args, 0);
  std::string report;
  ASSERT_EQ(run("lnkinfo " + quote(link), report), 0) << report;
  EXPECT_EQ(lnk_field(report, "Local path"), "C:\\x.exe");
  EXPECT_EQ(lnk_field(report, "Command line arguments"), "<absent>");
  EXPECT_EQ(lnk_field(report, "Working directory"), "<absent>");
}

TEST_F(CreateLink, DesktopEntryPassesValidation) {
  if (!have_tool("desktop-file-validate")) GTEST_SKIP() << "desktop-file-utils is not installed";
  use_script("[VARIABLES]\n#=1\n1=%D%\n%D%=/opt/demo app\n");
  char target[1024] = "%D%/bin/demo", dir[1024] = "%D%", icon[1024] = "%D%/demo.png",
       args[1024] = "--level 100% \"two words\" $HOME";
  std::string link = dir_.file("Demo App.desktop");
  CREATELINK(target, link.c_str(), dir, icon, 0, args, 0x41);
  std::string text = read_file(link);
  EXPECT_NE(text.find("Exec=\"/opt/demo app/bin/demo\" --level 100%% \"two words\" "
                      "\"\\\\$HOME\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Name=Demo App\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Path=/opt/demo app\n"), std::string::npos) << text;
  std::string report;
  EXPECT_EQ(run("desktop-file-validate " + quote(link), report), 0) << report;
  EXPECT_EQ(report, "") << text;
}

// A text reaches the shortcut as the caller meant it: valid UTF-8 as UTF-8,
// anything else as code page 1252 (texts of scripts written on Windows).
// The link's 8-bit path and its Unicode strings name the same path, and a
// desktop entry is UTF-8 whatever came in.
TEST_F(CreateLink, TextsOfEitherEncodingMeanWhatTheCallerMeant) {
  if (!have_tool("lnkinfo")) GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed";
  struct {
    const char* what;
    std::string target, args;
    std::string shown_target, shown_args;  // as lnkinfo shows them (UTF-8)
    std::string ansi_path;                 // the link's 8-bit local path
  } cases[] = {
      {"UTF-8", "C:\\Caf\xc3\xa9\\\xe2\x82\xac.exe", "\xe2\x80\x9cq\xe2\x80\x9d \xe2\x80\x93",
       "C:\\Caf\xc3\xa9\\\xe2\x82\xac.exe", "\xe2\x80\x9cq\xe2\x80\x9d \xe2\x80\x93",
       "C:\\Caf\xe9\\\x80.exe"},
      {"code page 1252", "C:\\Caf\xe9\\\x80.exe", "\x93q\x94 \x96 \x85 \x99",
       "C:\\Caf\xc3\xa9\\\xe2\x82\xac.exe",
       "\xe2\x80\x9cq\xe2\x80\x9d \xe2\x80\x93 \xe2\x80\xa6 \xe2\x84\xa2", "C:\\Caf\xe9\\\x80.exe"},
      {"UTF-8 beyond code page 1252", "C:\\\xd0\x94\xd0\xb0\\x.exe", "\xd0\x94",
       "C:\\\xd0\x94\xd0\xb0\\x.exe", "\xd0\x94", "C:\\??\\x.exe"},
  };
  for (const auto& c : cases) {
    char target[1024] = {}, dir[1024] = "", icon[1024] = "", args[1024] = {};
    std::strcpy(target, c.target.c_str());
    std::strcpy(args, c.args.c_str());
    std::string link = dir_.file("enc.lnk");
    CREATELINK(target, link.c_str(), dir, icon, 0, args, 0);
    std::string report;
    ASSERT_EQ(run("lnkinfo " + quote(link), report), 0) << report;
    EXPECT_EQ(lnk_field(report, "Local path"), c.shown_target) << c.what << "\n" << report;
    EXPECT_EQ(lnk_field(report, "Command line arguments"), c.shown_args) << c.what;
    EXPECT_NE(read_file(link).find(c.ansi_path + '\0'), std::string::npos) << c.what;

    std::strcpy(target, c.target.c_str());
    std::strcpy(args, c.args.c_str());
    std::string entry = dir_.file("enc.desktop");
    CREATELINK(target, entry.c_str(), dir, icon, 0, args, 0);
    std::string text = read_file(entry);
    // Exec quotes the target and doubles its backslashes; its parts are UTF-8.
    std::string name = c.shown_target.substr(c.shown_target.rfind('\\') + 1);
    EXPECT_NE(text.find(name + "\" " + c.shown_args + "\n"), std::string::npos) << c.what << "\n"
                                                                                << text;
  }
}

// A link object that cannot be made: only the target was substituted, 0 is
// returned and nothing is written.
rz::plat::ShellOps g_no_link;
int32_t refuse_link() {
  return -1;
}

TEST_F(CreateLink, NoLinkObject) {
  g_no_link = rz::plat::native_shell_ops();
  g_no_link.link_begin = refuse_link;
  rz::plat::set_shell_ops(&g_no_link);
  Buffers b;
  std::string link = dir_.file("none.lnk");
  EXPECT_EQ(CREATELINK(b.target, link.c_str(), b.dir, b.icon, 0, b.args, 0), 0);
  rz::plat::set_shell_ops(nullptr);
  EXPECT_STREQ(b.target, "C:\\Program Files\\Demo\\demo.exe");
  EXPECT_STREQ(b.dir, "%D%");
  EXPECT_STREQ(b.icon, "%D%\\demo.ico");
  struct stat st;
  EXPECT_NE(::stat(link.c_str(), &st), 0);
}

std::vector<std::string> g_notified;
rz::plat::ShellOps g_logging;
void log_folder(const char* path) {
  g_notified.push_back(path);
}

TEST(CreateFolder, MakesTheLastLevelAndAlwaysNotifies) {
  rz_test::TempDir dir;
  g_logging = rz::plat::native_shell_ops();
  g_logging.folder_created = log_folder;
  rz::plat::set_shell_ops(&g_logging);
  g_notified.clear();
  std::string made = dir.file("new"), deep = dir.file("a/b/c");
  EXPECT_EQ(CREATEFOLDER(made.c_str()), 1);
  EXPECT_EQ(CREATEFOLDER(made.c_str()), 1);  // exists already
  EXPECT_EQ(CREATEFOLDER(deep.c_str()), 1);  // parent missing: not made, still 1
  rz::plat::set_shell_ops(nullptr);
  struct stat st;
  EXPECT_EQ(::stat(made.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_NE(::stat(deep.c_str(), &st), 0);
  EXPECT_EQ(g_notified, (std::vector<std::string>{made, made, deep}));
}

class RegTlb : public ScriptFixture {
 protected:
  // Makes a type library with widl for kind "--win32" or "--win64".
  std::string make_library(const char* kind) {
    std::string idl = dir_.file("demo.idl"), tlb = dir_.file(std::string("demo") + kind + ".tlb");
    rz_test::write_file(idl,
                        "import \"oaidl.idl\";\n"
                        "[uuid(5B2A1C7E-9ABC-4EF0-8234-56789ABCDEF0), version(2.10),\n"
                        " helpstring(\"Demo type library\"), lcid(0x409)]\n"
                        "library DemoLib {\n"
                        "  importlib(\"stdole2.tlb\");\n"
                        "  [uuid(5B2A1C7E-9ABC-4EF0-8234-56789ABCDEF1), object, oleautomation]\n"
                        "  interface IDemo : IUnknown { HRESULT Ping(); };\n"
                        "};\n");
    std::string out;
    int rc = run(std::string("x86_64-w64-mingw32-widl ") + kind +
                     " -t -I /usr/include/wine/wine/windows"
                     " -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows -o " +
                     quote(tlb) + " " + quote(idl),
                 out);
    EXPECT_EQ(rc, 0) << out;
    return tlb;
  }
  bool have_widl() {
    struct stat st;
    return have_tool("x86_64-w64-mingw32-widl") &&
           ::stat("/usr/include/wine/wine/windows/oaidl.idl", &st) == 0;
  }
  std::string value(const std::string& key) {
    char out[128] = {};
    if (GETREG(1, key.c_str(), "", out, 0) != 1) return "<no key>";
    return out;
  }
};

TEST_F(RegTlb, RegistersAWidlLibrary) {
  if (!have_widl()) GTEST_SKIP() << "widl (mingw-w64-tools) or the Wine IDL files are missing";
  const std::string base = "TypeLib\\{5B2A1C7E-9ABC-4EF0-8234-56789ABCDEF0}\\2.a";
  for (const char* kind : {"--win64", "--win32"}) {
    std::string tlb = make_library(kind);
    EXPECT_EQ(REGTLB(tlb.c_str()), 0) << kind;
    std::string sub = std::string(kind) == "--win64" ? "\\409\\win64" : "\\409\\win32";
    EXPECT_EQ(value(base), "Demo type library");
    EXPECT_EQ(value(base + sub), tlb) << kind;
    EXPECT_EQ(value(base + "\\FLAGS"), "0");
    EXPECT_EQ(value(base + "\\HELPDIR"), dir_.path());
  }
  // The classes root lives under the local machine's software key.
  EXPECT_NE(read_file(store_).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib\\{5B2A1C7E-"),
            std::string::npos);
}

TEST_F(RegTlb, RefusesWhatIsNoTypeLibrary) {
  std::string text = dir_.file("plain.txt"), missing = dir_.file("missing.tlb");
  rz_test::write_file(text, "just text, no type library here\n");
  std::vector<std::pair<std::string, uint32_t>> cases = {
      {text, 0x80029C4A},
      {missing, 0x80070002},
      {dir_.path(), 0x80029C4A},  // a folder
      {"C:\\" + std::string(300, 'x') + ".tlb", 0x800700CE},
  };
  if (have_widl()) {
    // A real library cut short: the header promises more than the file holds.
    std::string whole = read_file(make_library("--win64"));
    for (size_t keep : {size_t{0x54}, size_t{0x60}, whole.size() / 2}) {
      std::string cut = dir_.file("cut" + std::to_string(keep) + ".tlb");
      rz_test::write_file(cut, whole.substr(0, keep));
      cases.push_back({cut, 0x80029C4A});
    }
  }
  for (const auto& c : cases)
    EXPECT_EQ(static_cast<uint32_t>(REGTLB(c.first.c_str())), c.second) << c.first;
  struct stat st;
  EXPECT_NE(::stat(store_.c_str(), &st), 0) << "nothing may be registered";
}

}  // namespace

#endif  // !_WIN32
