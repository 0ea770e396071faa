// Installers packed by `qg pack --setup` and run as a user would: the
// installed tree, the registry store read back by another process, the
// shortcut, rollback to the exact state before, and uninstall.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "script_server.h"
#include "setup_fixture.h"

namespace {

namespace fs = std::filesystem;
using rztest::Outcome;
using rztest::RunOptions;

// A private world per test: HOME, the registry store and the target live in
// it, so a snapshot of it is the whole machine state the installer may touch.
class SetupE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    world = tmp.path() + "/world";
    fs::create_directories(world + "/home");
    fs::create_directories(tmp.path() + "/src/payload");
    payload = tmp.path() + "/src/payload";
    installer = tmp.path() + "/setup.run";
    // A store that already holds something of someone else's.
    rztest::write_text(world + "/registry.reg",
                       "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"x\"=\"y\"\n\n");
  }

  RunOptions env() const {
    RunOptions o;
    o.env = {"HOME=" + world + "/home", "RAZIZA3Z_REGISTRY=" + world + "/registry.reg",
             "XDG_DATA_HOME=" + world + "/home/.local/share"};
    return o;
  }

  // The standard payload: an executable, a file with an odd name, an empty
  // folder, a link inside the folder, and a nested file.
  void make_payload() {
    fs::create_directories(payload + "/bin");
    fs::create_directories(payload + "/share/empty");
    rztest::write_text(payload + "/bin/tool", "#!/bin/sh\necho tool ran \"$@\"\n");
    ::chmod((payload + "/bin/tool").c_str(), 0755);
    ASSERT_EQ(::symlink("tool", (payload + "/bin/tool-link").c_str()), 0);
    rztest::write_text(payload + "/share/odd name\t\r\f:\xc3\xa9.txt", "odd\n");
    rztest::write_text(payload + "/share/data.bin", std::string(200000, 'x') + "end");
    // A time with odd seconds, which the archive's own time cannot hold.
    struct timespec times[2] = {{1700000007, 0}, {1700000007, 0}};
    ::utimensat(AT_FDCWD, (payload + "/share/data.bin").c_str(), times, 0);
  }

  void write_script(const std::string& text) {
    rztest::write_text(tmp.path() + "/src/setup.ini", text);
  }

  static std::string basic_script(const std::string& extra = "") {
    return "[SETUP]\nName=Test Product\nVersion=2.1\nPublisher=Tests\n"
           "DefaultDir=$HOME/apps/test\n" +
           extra;
  }

  Outcome pack(const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {
        RZ_QG_PATH, "pack", payload, "-o", installer, "--setup", tmp.path() + "/src/setup.ini"};
    args.insert(args.end(), more.begin(), more.end());
    return rztest::run(args);
  }

  Outcome install(std::vector<std::string> args, RunOptions o) {
    args.insert(args.begin(), installer);
    return rztest::run(args, o);
  }
  Outcome install(std::vector<std::string> args) { return install(std::move(args), env()); }

  std::string target() const { return world + "/target"; }

  rztest::TempDir tmp;
  std::string world, payload, installer;
};

// Reads a registry value back through qg in another process.
std::string reg_get(const std::string& store, const std::string& key, const std::string& name) {
  Outcome r = rztest::run({RZ_QG_PATH, "reg", "get", "HKCU", key, name, "--registry", store});
  return r.status == 0 ? r.output : "[status " + std::to_string(r.status) + "] " + r.output;
}

TEST_F(SetupE2E, InstallsTheTreeByteForByteAndUninstallsToTheStateBefore) {
  make_payload();
  write_script(basic_script(
      "[REG]\nNdx=1\n+1a=2\n+1b=Software\\Test Product\n+1c=Path\n+1d=%TARGET%\n+1e=2\n"
      "[SHORTCUTS]\nNdx=1\n+1link=%HOME%/.local/share/applications/test.desktop\n"
      "+1target=%TARGET%/bin/tool\n+1dir=%TARGET%\n"));
  Outcome p = pack();
  ASSERT_EQ(p.status, 0) << p.output;
  auto before = rztest::snapshot_world(world);

  Outcome r = install({"--silent", "--target", target()});
  ASSERT_EQ(r.status, 0) << r.output;
  // The tree: every payload item, byte for byte, with modes, link and times.
  auto src = rztest::snapshot(payload);
  auto dst = rztest::snapshot(target());
  for (const auto& [path, node] : src) {
    ASSERT_TRUE(dst.count(path)) << "missing " << path;
    EXPECT_EQ(dst[path].type, node.type) << path;
    EXPECT_EQ(dst[path].content, node.content) << path;
    if (node.type == 'f') {
      EXPECT_EQ(dst[path].mtime, node.mtime) << path;
    }
    if (node.type != 'l') {
      EXPECT_EQ(dst[path].mode, node.mode & ~022u) << path;
    }
  }
  EXPECT_TRUE(fs::is_symlink(target() + "/bin/tool-link"));
  EXPECT_TRUE(fs::is_directory(target() + "/share/empty"));
  Outcome ran = rztest::run({target() + "/bin/tool-link", "x"});
  EXPECT_EQ(ran.output, "tool ran x\n");

  std::string store = world + "/registry.reg";
  EXPECT_NE(reg_get(store, "Software\\Test Product", "Path").find(target()), std::string::npos);
  EXPECT_NE(reg_get(store, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Test Product",
                    "DisplayVersion")
                .find("2.1"),
            std::string::npos);
  std::string desktop = world + "/home/.local/share/applications/test.desktop";
  auto link = rztest::read_file(desktop);
  std::string link_text(link.begin(), link.end());
  EXPECT_NE(link_text.find("Exec=" + target() + "/bin/tool"), std::string::npos) << link_text;

  Outcome listed = install({"--installed"});
  EXPECT_NE(listed.output.find("Test Product\t2.1\t" + target()), std::string::npos)
      << listed.output;

  // The uninstaller placed in the target needs no argument.
  Outcome u = rztest::run({target() + "/uninstall", "--silent"}, env());
  ASSERT_EQ(u.status, 0) << u.output;
  EXPECT_EQ(rztest::diff(before, rztest::snapshot_world(world)), "")
      << rztest::normalized_store(rztest::snapshot(world)["/registry.reg"].content);
  EXPECT_NE(reg_get(store, "Software\\Test Product", "Path").find("[status"), std::string::npos);
}

// %STARTMENU% and %DESKTOP% follow the XDG folders of the environment the
// installer runs in; "+<n>os" keeps the Windows-only item off Linux; the
// uninstaller removes the shortcuts and the folders made for them.
TEST_F(SetupE2E, ShortcutFoldersFollowXdgAndOsBitsPickTheItems) {
  make_payload();
  write_script(basic_script(
      "[SHORTCUTS]\nNdx=3\n"
      "+1link=%STARTMENU%/menu.desktop\n+1target=%TARGET%/bin/tool\n+1os=4\n"
      "+2link=%DESKTOP%/desk.desktop\n+2target=%TARGET%/bin/tool\n"
      "+3link=%STARTMENU%/windows-only.desktop\n+3target=%TARGET%/bin/tool\n+3os=1\n"));
  ASSERT_EQ(pack().status, 0);
  const std::string home = world + "/home";
  struct Case {
    const char* name;
    std::vector<std::string> env;
    std::string user_dirs_file, user_dirs;  // written when the file is named
    std::string menu, desktop;              // the folders expected
  };
  const Case cases[] = {
      {"defaults",
       {"XDG_DATA_HOME=", "XDG_CONFIG_HOME="},
       "",
       "",
       home + "/.local/share/applications",
       home + "/Desktop"},
      {"XDG_DATA_HOME, a desktop below $HOME",
       {"XDG_DATA_HOME=" + world + "/data", "XDG_CONFIG_HOME="},
       home + "/.config/user-dirs.dirs",
       "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
       "  XDG_DESKTOP_DIR=\"$HOME/Schreib \\\"tisch\\\"\"\n",
       world + "/data/applications",
       home + "/Schreib \"tisch\""},
      {"XDG_CONFIG_HOME, an absolute desktop",
       {"XDG_DATA_HOME=", "XDG_CONFIG_HOME=" + world + "/conf"},
       world + "/conf/user-dirs.dirs",
       "XDG_DESKTOP_DIR=\"" + world + "/desk\"\n",
       home + "/.local/share/applications",
       world + "/desk"},
      {"relative values are ignored",
       {"XDG_DATA_HOME=data", "XDG_CONFIG_HOME="},
       home + "/.config/user-dirs.dirs",
       "XDG_DESKTOP_DIR=\"Desktop2\"\n",
       home + "/.local/share/applications",
       home + "/Desktop"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home + "/.config");
    fs::remove_all(world + "/conf");
    if (!c.user_dirs_file.empty()) {
      fs::create_directories(fs::path(c.user_dirs_file).parent_path());
      rztest::write_text(c.user_dirs_file, c.user_dirs);
    }
    RunOptions o = env();
    o.env.insert(o.env.end(), c.env.begin(), c.env.end());
    auto before = rztest::snapshot_world(world);
    Outcome r = install({"--silent", "--target", target()}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    for (const std::string& link : {c.menu + "/menu.desktop", c.desktop + "/desk.desktop"}) {
      auto bytes = rztest::read_file(link);
      std::string text(bytes.begin(), bytes.end());
      EXPECT_NE(text.find("Exec=" + target() + "/bin/tool"), std::string::npos) << link;
    }
    EXPECT_FALSE(fs::exists(c.menu + "/windows-only.desktop"));
    Outcome u = rztest::run({target() + "/uninstall", "--silent"}, o);
    ASSERT_EQ(u.status, 0) << u.output;
    EXPECT_EQ(rztest::diff(before, rztest::snapshot_world(world)), "");
  }
}

// Appends bytes to a file, or changes one byte at an offset.
void append(const std::string& path, size_t n) {
  std::ofstream(path, std::ios::binary | std::ios::app) << std::string(n, 'A');
}
void flip(const std::string& path, uint64_t at) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekg(static_cast<std::streamoff>(at));
  char c = 0;
  f.get(c);
  f.seekp(static_cast<std::streamoff>(at));
  f.put(static_cast<char>(c ^ 0x5a));
}

// Where the installer's parts begin, from `qg verify`'s view of the file:
// the stub ends where the setup data starts, the archive follows it.
struct Parts {
  uint64_t anchor = 0, setup_data = 0, archive = 0, length = 0;
};

Parts parts_of(const std::string& installer) {
  Parts p;
  p.length = fs::file_size(installer);
  // The setup data begins with its magic; the archive with the first entry.
  auto bytes = rztest::read_file(installer);
  std::string b(bytes.begin(), bytes.end());
  size_t at = b.rfind("QGSETUPD");
  p.setup_data = at == std::string::npos ? 0 : at;
  size_t anchor = b.find("\x89QGSETUP-ANCH\r\n\x1a");
  p.anchor = anchor == std::string::npos || anchor > p.setup_data ? 0 : anchor;
  size_t entry = b.find(std::string("QG\x03\x04", 4), p.setup_data);
  p.archive = entry == std::string::npos ? 0 : entry;
  return p;
}

TEST_F(SetupE2E, TamperedInstallersAreRefusedBeforeAnythingIsMade) {
  make_payload();
  write_script(basic_script());
  ASSERT_EQ(pack().status, 0);
  Parts parts = parts_of(installer);
  ASSERT_GT(parts.anchor, 0u);
  ASSERT_GT(parts.setup_data, 0u);
  ASSERT_GT(parts.archive, parts.setup_data);
  std::string good = tmp.path() + "/good.run";
  fs::copy_file(installer, good);
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
    const char* says;
  } cases[] = {
      // Bytes of the program that it does not execute: a changed byte of
      // its code may make it misbehave before it can check itself.  The
      // spare bytes of its anchor record, and its last byte (section
      // headers, which a running program never reads).
      {"byte in the stub's data", [&](const std::string& f) { flip(f, parts.anchor + 56); },
       "setup program"},
      {"last byte of the stub", [&](const std::string& f) { flip(f, parts.setup_data - 1); },
       "setup program"},
      {"byte in the setup data", [&](const std::string& f) { flip(f, parts.setup_data + 400); },
       "setup data"},
      {"byte in the archive", [&](const std::string& f) { flip(f, parts.archive + 60); },
       "archive"},
      {"last byte", [&](const std::string& f) { flip(f, parts.length - 1); }, "archive"},
      {"cut in the archive", [&](const std::string& f) { fs::resize_file(f, parts.length - 100); },
       "truncated"},
      {"cut in the setup data",
       [&](const std::string& f) { fs::resize_file(f, parts.setup_data + 10); }, ""},
      // Cut inside the program itself: it may not even start; either way
      // nothing may be made.
      {"cut to half the stub",
       [&](const std::string& f) { fs::resize_file(f, parts.setup_data / 2); }, nullptr},
      {"one byte appended", [&](const std::string& f) { append(f, 1); }, "appended"},
      {"one megabyte appended", [&](const std::string& f) { append(f, 1 << 20); }, "appended"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::copy_file(good, installer, fs::copy_options::overwrite_existing);
    c.damage(installer);
    auto before = rztest::snapshot_world(world);
    Outcome r = install({"--silent", "--target", target()});
    if (c.says) {
      EXPECT_EQ(r.status, 11) << r.output;
      EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    } else {
      EXPECT_NE(r.status, 0) << r.output;
    }
    EXPECT_EQ(rztest::diff(before, rztest::snapshot_world(world)), "");
    EXPECT_FALSE(fs::exists(target()));
  }
}

TEST_F(SetupE2E, CommandLineModesAndUsageErrors) {
  make_payload();
  write_script(basic_script());
  ASSERT_EQ(pack().status, 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"--help"}, 0, "14  an answer is needed"},
      {{"--version"}, 0, "qg-setup "},
      {{"--check"}, 0, "intact"},
      {{"--list"}, 0, "bin/tool-link -> tool"},
      {{"--list"}, 0, "share/odd name\\t\\r\\x0c:\xc3\xa9.txt"},
      {{"--info"}, 0, "Test Product"},
      {{"--bogus"}, 10, "unknown option"},
      {{"--target"}, 10, "needs a directory"},
      {{"--progress-fd", "x"}, 10, "--progress-fd"},
      {{"--list", "--check"}, 10, "cannot be combined"},
      {{"--require-key", "/nonexistent.pem"}, 10, "--require-key"},
      {{"--uninstall", "/nonexistent-folder"}, 17, "nothing to uninstall"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Outcome r = install(c.args);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
  EXPECT_FALSE(fs::exists(world + "/home/apps"));
}

// Silent mode never asks: a question without a default ends at once.
TEST_F(SetupE2E, SilentModeWithoutAnAnswerStopsWithItsOwnCode) {
  make_payload();
  rztest::write_text(tmp.path() + "/src/LICENSE.txt", "the terms\n");
  struct Case {
    const char* name;
    std::string script;
    std::vector<std::string> args;
  } cases[] = {
      {"no default folder", "[SETUP]\nName=N\n", {"--silent"}},
      {"licence not accepted", basic_script("License=LICENSE.txt\n"), {"--silent"}},
      {"--yes does not accept a licence",
       basic_script("License=LICENSE.txt\n"),
       {"--silent", "--yes"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_script(c.script);
    ASSERT_EQ(pack().status, 0);
    auto before = rztest::snapshot_world(world);
    RunOptions o = env();
    o.timeout_seconds = 30;
    Outcome r = install(c.args, o);
    EXPECT_EQ(r.status, 14) << r.output;
    EXPECT_EQ(rztest::diff(before, rztest::snapshot_world(world)), "");
  }
  // Accepted, it installs into the default folder.
  Outcome r = install({"--silent", "--accept-license"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(fs::exists(world + "/home/apps/test/bin/tool"));
}

// Uninstalling after the user worked in the installation: what the user
// changed or added stays, what was deleted is not missed, the rest goes.
TEST_F(SetupE2E, UninstallKeepsWhatTheUserChangedOrAdded) {
  make_payload();
  write_script(basic_script("PreUninstall=/bin/sh -c \"echo stopping > '%TARGET%/../stopped'\"\n"));
  ASSERT_EQ(pack().status, 0);
  auto before = rztest::snapshot_world(world);
  ASSERT_EQ(install({"--silent", "--target", target()}).status, 0);
  rztest::write_text(target() + "/bin/tool", "edited by the user\n");
  fs::remove(target() + "/share/data.bin");
  rztest::write_text(target() + "/share/empty/added.txt", "the user's\n");

  Outcome u = install({"--uninstall", target(), "--silent"});
  ASSERT_EQ(u.status, 0) << u.output;
  EXPECT_NE(u.output.find("Kept " + target() + "/bin/tool"), std::string::npos) << u.output;
  EXPECT_TRUE(fs::exists(target() + "/bin/tool"));
  EXPECT_TRUE(fs::exists(target() + "/share/empty/added.txt"));
  EXPECT_FALSE(fs::exists(target() + "/bin/tool-link"));
  EXPECT_FALSE(fs::exists(target() + "/uninstall"));
  EXPECT_FALSE(fs::exists(target() + "/.qg-setup"));
  EXPECT_EQ(rztest::read_file(world + "/stopped").size(), 9u) << "the PreUninstall command ran";
  // Nothing else is left: only the kept files and the folders that hold them.
  auto after = rztest::snapshot_world(world);
  after.erase("/stopped");
  std::string d = rztest::diff(before, after);
  EXPECT_EQ(d,
            "new: /target\nnew: /target/bin\nnew: /target/bin/tool\nnew: /target/share\n"
            "new: /target/share/empty\nnew: /target/share/empty/added.txt\n");

  // A second uninstall finds nothing; --force after a reinstall removes the
  // changed file too.
  EXPECT_EQ(install({"--uninstall", target(), "--silent"}).status, 17);
  fs::remove_all(target());
  ASSERT_EQ(install({"--silent", "--target", target()}).status, 0);
  rztest::write_text(target() + "/bin/tool", "edited again\n");
  Outcome f = install({"--uninstall", target(), "--silent", "--force"});
  EXPECT_EQ(f.status, 0) << f.output;
  EXPECT_FALSE(fs::exists(target()));
}

// Installing over an existing installation keeps the files the payload does
// not name; the replaced ones are not brought back by uninstalling.
TEST_F(SetupE2E, InstallingOverAnExistingFolderSaysSoAndKeepsOtherFiles) {
  make_payload();
  write_script(basic_script());
  ASSERT_EQ(pack().status, 0);
  fs::create_directories(target() + "/bin");
  rztest::write_text(target() + "/bin/tool", "older tool\n");
  rztest::write_text(target() + "/keep.txt", "keep\n");
  Outcome r = install({"--silent", "--target", target()});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("exists and is not empty"), std::string::npos) << r.output;
  EXPECT_EQ(rztest::read_file(target() + "/keep.txt").size(), 5u);
  EXPECT_EQ(rztest::read_file(target() + "/bin/tool"), rztest::read_file(payload + "/bin/tool"));
  EXPECT_TRUE(fs::is_empty(target() + "/.qg-setup") || !fs::exists(target() + "/.qg-setup/backup"));
  ASSERT_EQ(install({"--uninstall", target(), "--silent"}).status, 0);
  EXPECT_TRUE(fs::exists(target() + "/keep.txt"));
  EXPECT_FALSE(fs::exists(target() + "/bin/tool"));
}

// [MESSAGES] reach the library before anything is installed; one the
// library could not fill is named and left out, and the installation goes on.
TEST_F(SetupE2E, ScriptMessagesAreCheckedBeforeTheLibraryTakesThem) {
  make_payload();
  write_script(basic_script() + "[MESSAGES]\n2=Fehler\n13=Ersetzen?\n4=" + std::string(80, 'x') +
               "\n");
  ASSERT_EQ(pack().status, 0);
  Outcome r = install({"--silent", "--target", target()});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("[MESSAGES] 13 is not used: it must hold %s once"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("[MESSAGES] 4 is not used: it is longer than 79"), std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("[MESSAGES] 2 "), std::string::npos) << r.output;
}

// Two installers into one folder never interleave: the second waits a
// moment, then refuses.
TEST_F(SetupE2E, SecondInstallerIntoTheSameTargetRefuses) {
  make_payload();
  std::string body(50000, 'b');
  rztest::ScriptServer server(
      {rztest::Send("HTTP/1.0 200 OK\r\nContent-Length: 50000\r\n\r\n" + body.substr(0, 100)),
       rztest::Pause(6000), rztest::Send(body.substr(100))});
  write_script(basic_script(
      "[DOWNLOADS]\nNdx=1\n+1url=http://127.0.0.1:" + std::to_string(server.port()) +
      "/f\n+1output=%TARGET%/f\n+1size=50000\n+1sha256=" + std::string(64, '0') + "\n"));
  ASSERT_EQ(pack().status, 0);
  RunOptions o = env();
  Outcome second;
  o.on_progress = [&](const std::string& line, pid_t) {
    if (line == "step downloads" && second.status < 0)
      second = install({"--silent", "--target", target()});
  };
  Outcome first = install({"--silent", "--target", target(), "--progress-fd", "3"}, o);
  EXPECT_EQ(second.status, 15) << second.output;
  EXPECT_NE(second.output.find("still running"), std::string::npos) << second.output;
  EXPECT_EQ(first.status, 13) << "the first fails on its own (bad SHA-256)\n" << first.output;
}

// --extract writes the files only: no script, no uninstaller, nothing run.
TEST_F(SetupE2E, ExtractOnlyWritesTheFilesAndRunsNothing) {
  make_payload();
  write_script(
      basic_script("Run=/bin/sh -c \"touch '%TARGET%/ran'\"\n"
                   "[FOLDERS]\nNdx=1\n+1path=%TARGET%/made-by-script\n"));
  ASSERT_EQ(pack().status, 0);
  Outcome r = install({"--extract", tmp.path() + "/out"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(rztest::read_file(tmp.path() + "/out/bin/tool"),
            rztest::read_file(payload + "/bin/tool"));
  EXPECT_TRUE(fs::is_symlink(tmp.path() + "/out/bin/tool-link"));
  EXPECT_FALSE(fs::exists(tmp.path() + "/out/made-by-script"));
  EXPECT_FALSE(fs::exists(tmp.path() + "/out/uninstall"));
  EXPECT_FALSE(fs::exists(tmp.path() + "/out/ran"));
  // Installed, the command runs after success (and --no-run skips it).
  ASSERT_EQ(install({"--silent", "--target", target(), "--no-run"}).status, 0);
  EXPECT_FALSE(fs::exists(target() + "/ran"));
  EXPECT_TRUE(fs::exists(target() + "/made-by-script"));
  ASSERT_EQ(install({"--uninstall", target(), "--silent"}).status, 0);
  Outcome ran = install({"--silent", "--target", target()});
  ASSERT_EQ(ran.status, 0);
  EXPECT_TRUE(fs::exists(target() + "/ran"));
  EXPECT_NE(ran.output.find("exited with status 0"), std::string::npos) << ran.output;
}

}  // namespace
