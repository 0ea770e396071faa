// Installations that fail or are cancelled part way: each must leave the
// machine exactly as it was, an existing installation's files included.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "script_server.h"
#include "setup_fixture.h"

namespace {

namespace fs = std::filesystem;
using rztest::Outcome;
using rztest::RunOptions;

std::string sha256_hex(const std::string& data) {
  unsigned char d[32];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), d);
  std::string out;
  char buf[3];
  for (unsigned char c : d) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

std::string http_reply(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class Rollback : public ::testing::Test {
 protected:
  void SetUp() override {
    // Readable by everyone: one case runs the installer as another user.
    ::chmod(tmp.path().c_str(), 0755);
    world = tmp.path() + "/world";
    payload = tmp.path() + "/payload";
    installer = tmp.path() + "/setup.run";
    fs::create_directories(world + "/home");
    fs::create_directories(payload + "/bin");
    fs::create_directories(payload + "/empty");
    rztest::write_text(payload + "/bin/tool", "new tool\n");
    ::chmod((payload + "/bin/tool").c_str(), 0755);
    // Enough data that an extraction takes several progress steps.
    std::string big;
    for (uint32_t i = 0; i < 3u << 20; ++i) big += static_cast<char>((i * 7919u) >> 5);
    for (int k = 0; k < 4; ++k)
      rztest::write_text(payload + "/data" + std::to_string(k) + ".bin", big);
    // An existing installation with a file the payload replaces, and one it
    // does not know.
    fs::create_directories(target() + "/bin");
    rztest::write_text(target() + "/bin/tool", "old tool\n");
    rztest::write_text(target() + "/user-notes.txt", "mine\n");
    // The registry store holds an old value the script overwrites.
    rztest::write_text(
        world + "/registry.reg",
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Rollback Test]\n\"Path\"=\"old\"\n\n");
  }

  std::string target() const { return world + "/target"; }

  RunOptions env() const {
    RunOptions o;
    o.env = {"HOME=" + world + "/home", "RAZIZA3Z_REGISTRY=" + world + "/registry.reg",
             "XDG_DATA_HOME=" + world + "/home/.local/share"};
    o.timeout_seconds = 120;
    return o;
  }

  static std::string script(const std::string& extra) {
    return "[SETUP]\nName=Rollback Test\nVersion=1\nDefaultDir=$HOME/x\n"
           "[REG]\nNdx=1\n+1a=2\n+1b=Software\\Rollback Test\n+1c=Path\n+1d=%TARGET%\n+1e=2\n"
           "[SHORTCUTS]\nNdx=1\n+1link=%HOME%/.local/share/applications/rb.desktop\n"
           "+1target=%TARGET%/bin/tool\n"
           "[FOLDERS]\nNdx=1\n+1path=%TARGET%/logs\n" +
           extra;
  }

  void pack(const std::string& script_text) {
    rztest::write_text(tmp.path() + "/setup.ini", script_text);
    Outcome p = rztest::run(
        {RZ_QG_PATH, "pack", payload, "-o", installer, "--setup", tmp.path() + "/setup.ini"});
    ASSERT_EQ(p.status, 0) << p.output;
    ::chmod(installer.c_str(), 0755);
  }

  // Runs the installer and checks the outcome: its status, and the world
  // exactly as before.
  void expect_rolled_back(const std::vector<std::string>& args, RunOptions o, int status,
                          const std::string& says) {
    auto before = rztest::snapshot_world(world);
    std::vector<std::string> argv = {installer};
    argv.insert(argv.end(), args.begin(), args.end());
    Outcome r = rztest::run(argv, o);
    EXPECT_EQ(r.status, status) << r.output;
    EXPECT_NE(r.output.find(says), std::string::npos) << r.output;
    EXPECT_EQ(rztest::diff(before, rztest::snapshot_world(world)), "") << r.output;
  }

  rztest::TempDir tmp;
  std::string world, payload, installer;
};

TEST_F(Rollback, DownloadThatDoesNotMatchFailsAndUndoesEverything) {
  std::string body = "the extra file\n";
  struct Case {
    const char* name;
    std::string served;
    size_t size;
    std::string sha;
    const char* says;
  } cases[] = {
      {"SHA-256 differs", "the extra filE\n", body.size(), sha256_hex(body), "SHA-256"},
      {"size differs", body + "more", body.size(), sha256_hex(body), "expected"},
      {"server error", "", body.size(), sha256_hex(body), "failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rztest::ScriptServer server(
        {rztest::Send(c.served.empty() ? "HTTP/1.0 500 Oops\r\nContent-Length: 0\r\n\r\n"
                                       : http_reply(c.served))});
    pack(script("[DOWNLOADS]\nNdx=1\n+1url=http://127.0.0.1:" + std::to_string(server.port()) +
                "/extra\n+1output=%TARGET%/extra.txt\n+1size=" + std::to_string(c.size) +
                "\n+1sha256=" + c.sha + "\n"));
    expect_rolled_back({"--silent", "--target", target()}, env(), 13, c.says);
  }
  // The same download when it matches is installed and recorded.
  rztest::ScriptServer server({rztest::Send(http_reply(body))});
  pack(script("[DOWNLOADS]\nNdx=1\n+1url=http://127.0.0.1:" + std::to_string(server.port()) +
              "/extra\n+1output=%TARGET%/extra.txt\n+1size=" + std::to_string(body.size()) +
              "\n+1sha256=" + sha256_hex(body) + "\n"));
  Outcome r = rztest::run({installer, "--silent", "--target", target()}, env());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(rztest::read_file(target() + "/extra.txt"),
            std::vector<uint8_t>(body.begin(), body.end()));
  EXPECT_EQ(rztest::read_file(target() + "/user-notes.txt").size(), 5u);
}

TEST_F(Rollback, RegistryStoreThatCannotBeWrittenFailsTheInstallation) {
  pack(script(""));
  // The store's folder is a file: nothing can be written there.
  rztest::write_text(world + "/not-a-folder", "x");
  RunOptions o = env();
  o.env[1] = "RAZIZA3Z_REGISTRY=" + world + "/not-a-folder/registry.reg";
  expect_rolled_back({"--silent", "--target", target()}, o, 13, "registry store");
}

TEST_F(Rollback, CtrlCDuringExtractionRestoresTheOldInstallation) {
  pack(script(""));
  RunOptions o = env();
  bool sent = false;
  o.on_progress = [&sent](const std::string& line, pid_t pid) {
    // Once the second file is under way.
    if (!sent && line.rfind("file data1", 0) == 0) {
      ::kill(pid, SIGINT);
      sent = true;
    }
  };
  expect_rolled_back({"--silent", "--target", target(), "--progress-fd", "3"}, o, 12, "Cancel");
  EXPECT_TRUE(sent);
  EXPECT_EQ(rztest::read_file(target() + "/bin/tool").size(), 9u);
}

TEST_F(Rollback, CtrlCDuringTheScriptRestoresTheOldInstallation) {
  std::string body(200000, 'd');
  // A slow download: the first part, a pause in which the test interrupts,
  // then the rest.
  rztest::ScriptServer server(
      {rztest::Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\n\r\n" + body.substr(0, 1000)),
       rztest::Pause(1500), rztest::Send(body.substr(1000))});
  pack(script("[DOWNLOADS]\nNdx=1\n+1url=http://127.0.0.1:" + std::to_string(server.port()) +
              "/slow\n+1output=%TARGET%/slow.bin\n+1size=" + std::to_string(body.size()) +
              "\n+1sha256=" + sha256_hex(body) + "\n"));
  RunOptions o = env();
  bool sent = false;
  o.on_progress = [&sent](const std::string& line, pid_t pid) {
    if (!sent && line == "step downloads") {
      ::usleep(300000);
      ::kill(pid, SIGINT);
      sent = true;
    }
  };
  expect_rolled_back({"--silent", "--target", target(), "--progress-fd", "3"}, o, 12, "Cancel");
  EXPECT_TRUE(sent);
}

TEST_F(Rollback, TargetThatCannotBeWrittenIsNamedAndNothingIsMade) {
  pack(script(""));
  // Another user: root's folder is not theirs (root itself ignores modes).
  fs::create_directories(world + "/root-only");
  ::chmod(world.c_str(), 0755);
  ::chmod((world + "/root-only").c_str(), 0755);
  Outcome probe = rztest::run(
      {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/true"});
  if (probe.status != 0) GTEST_SKIP() << "setpriv cannot drop privileges here: " << probe.output;
  RunOptions o = env();
  o.env[0] = "HOME=/nonexistent";
  auto before = rztest::snapshot_world(world);
  Outcome r = rztest::run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                           installer, "--silent", "--target", world + "/root-only/app"},
                          o);
  EXPECT_EQ(r.status, 13) << r.output;
  EXPECT_NE(r.output.find(world + "/root-only/app"), std::string::npos) << r.output;
  EXPECT_EQ(rztest::diff(before, rztest::snapshot_world(world)), "");
}

// A small file system: too small from the start (refused before anything is
// made), and filled while the payload is extracted (rolled back).
TEST_F(Rollback, DiskThatFillsIsRolledBack) {
  pack(script(""));
  std::string mnt = world + "/small";
  fs::create_directories(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=8m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mnt};
  RunOptions o = env();
  expect_rolled_back({"--silent", "--target", mnt + "/app"}, o, 13, "not enough free space");

  ASSERT_EQ(::umount2(mnt.c_str(), 0), 0);
  ASSERT_EQ(::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=16m"), 0);
  bool filled = false;
  o.on_progress = [&](const std::string& line, pid_t pid) {
    if (filled || line.rfind("file data0", 0) != 0) return;
    // Stop the installer, take the free space, let it go on.
    ::kill(pid, SIGSTOP);
    std::ofstream f(mnt + "/filler", std::ios::binary);
    std::string block(65536, 'f');
    while (f.write(block.data(), block.size())) {
    }
    filled = true;
    ::kill(pid, SIGCONT);
  };
  auto before = rztest::snapshot_world(world);
  Outcome r =
      rztest::run({installer, "--silent", "--target", mnt + "/app", "--progress-fd", "3"}, o);
  EXPECT_EQ(r.status, 13) << r.output;
  EXPECT_TRUE(filled);
  fs::remove(mnt + "/filler");
  auto after = rztest::snapshot_world(world);
  EXPECT_EQ(rztest::diff(before, after), "") << r.output;
}

// An installer killed outright leaves its journal; the next run into the
// same folder undoes what the killed one did before it starts.
TEST_F(Rollback, KilledInstallationIsUndoneByTheNextRun) {
  pack(script(""));
  auto before = rztest::snapshot_world(world);
  RunOptions o = env();
  bool killed = false;
  o.on_progress = [&killed](const std::string& line, pid_t pid) {
    if (!killed && line.rfind("file data2", 0) == 0) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
  };
  Outcome r = rztest::run({installer, "--silent", "--target", target(), "--progress-fd", "3"}, o);
  ASSERT_TRUE(killed);
  EXPECT_EQ(r.status, 128 + SIGKILL);
  ASSERT_TRUE(fs::exists(target() + "/.qg-setup/journal"));
  EXPECT_EQ(rztest::read_file(target() + "/bin/tool").size(), 9u) << "the new tool is in place";

  // A run that fails before it changes anything still finishes the undo.
  rztest::write_text(tmp.path() + "/store-is-a-file", "x");
  Outcome again = rztest::run({installer, "--silent", "--target", target()}, env());
  EXPECT_NE(again.output.find("did not finish"), std::string::npos) << again.output;
  EXPECT_EQ(again.status, 0) << again.output;
  ASSERT_EQ(rztest::run({installer, "--uninstall", target(), "--silent"}, env()).status, 0);
  EXPECT_EQ(rztest::diff(before, rztest::snapshot_world(world)), "gone: /target/bin/tool\n")
      << "uninstall does not bring back the replaced file";
}

// Encrypted entries: the password comes from --password-file when silent.
TEST_F(Rollback, EncryptedPayloadNeedsThePasswordFile) {
  rztest::write_text(tmp.path() + "/setup.ini", script(""));
  Outcome p = rztest::run({RZ_QG_PATH, "pack", payload, "-o", installer, "--setup",
                           tmp.path() + "/setup.ini", "--password", "s3cret"});
  ASSERT_EQ(p.status, 0) << p.output;
  expect_rolled_back({"--silent", "--target", target()}, env(), 14, "--password-file");
  rztest::write_text(tmp.path() + "/wrong", "nope\n");
  expect_rolled_back({"--silent", "--target", target(), "--password-file", tmp.path() + "/wrong"},
                     env(), 13, "wrong password");
  rztest::write_text(tmp.path() + "/pw", "s3cret\n");
  Outcome r = rztest::run(
      {installer, "--silent", "--target", target(), "--password-file", tmp.path() + "/pw"}, env());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(rztest::read_file(target() + "/bin/tool"), rztest::read_file(payload + "/bin/tool"));
}

// A signed installer shows its signer; --require-key refuses an unsigned
// one and one signed by another key, before anything is made.
TEST_F(Rollback, RequiredKeyRefusesUnsignedAndForeignInstallers) {
  for (const char* name : {"mine", "other"})
    ASSERT_EQ(rztest::run({RZ_QG_PATH, "keygen", "-o", tmp.path() + "/" + name}).status, 0);
  pack(script(""));
  std::string mine = tmp.path() + "/mine.pub.pem";
  expect_rolled_back({"--silent", "--target", target(), "--require-key", mine}, env(), 11,
                     "signature");
  rztest::write_text(tmp.path() + "/setup.ini", script(""));
  Outcome p = rztest::run({RZ_QG_PATH, "pack", payload, "-o", installer, "--setup",
                           tmp.path() + "/setup.ini", "--sign", tmp.path() + "/other.pem"});
  ASSERT_EQ(p.status, 0) << p.output;
  expect_rolled_back({"--silent", "--target", target(), "--require-key", mine}, env(), 11, "key");
  Outcome ok = rztest::run(
      {installer, "--silent", "--target", target(), "--require-key", tmp.path() + "/other.pub.pem"},
      env());
  EXPECT_EQ(ok.status, 0) << ok.output;
  EXPECT_NE(ok.output.find("Signed by key "), std::string::npos) << ok.output;
}

}  // namespace
