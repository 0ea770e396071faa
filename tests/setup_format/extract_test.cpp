// qg extract of an installer restores what the archive format cannot keep:
// modes (under the umask), links, empty folders, times to the second, and
// names byte for byte; the metadata steps never follow a link.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "installer_fixture.h"
#include "payload_meta.h"

namespace {

using namespace fmt_test;

struct Item {
  std::string path;
  char kind;  // 'f' file, 'd' folder, 'l' link
  mode_t mode;
  time_t mtime;
  std::string content;  // file text or link target
};

// Names a new user might try: blanks, control characters, a colon, UTF-8.
const std::vector<Item>& payload_items() {
  static const std::vector<Item> items = {
      {"bin", 'd', 0755, 1700000100, ""},
      {"bin/tool", 'f', 0755, 1700000007, "#!/bin/sh\necho tool ran\n"},
      {"bin/tool-link", 'l', 0, 1700000011, "tool"},
      {"bin/doc-link", 'l', 0, 1700000013, "../docs"},
      {"docs", 'd', 0750, 1700000200, ""},
      {"docs/read me.txt", 'f', 0640, 1700000009, "spaces"},
      {"docs/tab\there", 'f', 0600, 1700000021, "tab"},
      {"docs/cr\rff\fname", 'f', 0644, 1700000023, "cr and form feed"},
      {"docs/time 12:30.log", 'f', 0644, 1700000025, "colon"},
      {"docs/caf\xc3\xa9-\xe2\x82\xac.txt", 'f', 0644, 1700000027, "utf-8"},
      {"empty", 'd', 0700, 1700000300, ""},
      {"empty/deeper", 'd', 0755, 1700000301, ""},
      {"locked", 'd', 0555, 1700000400, ""},
      {"locked/inside", 'f', 0444, 1700000401, "read only"},
  };
  return items;
}

void build_payload(const std::string& root) {
  make_dir(root);
  for (const Item& it : payload_items()) {
    std::string p = root + "/" + it.path;
    if (it.kind == 'd') make_dir(p, 0755);  // modes set below, after contents
    if (it.kind == 'f') make_file(p, it.content, it.mode, it.mtime);
    if (it.kind == 'l') make_link(it.content, p);
  }
  // Folders last and deepest first: their modes, then their times.
  for (auto it = payload_items().rbegin(); it != payload_items().rend(); ++it) {
    std::string p = root + "/" + it->path;
    if (it->kind == 'd') {
      ASSERT_EQ(::chmod(p.c_str(), it->mode), 0);
    }
    timespec t[2] = {{it->mtime, 0}, {it->mtime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), t, AT_SYMLINK_NOFOLLOW), 0) << p;
  }
}

class ExtractInstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    old_umask_ = ::umask(027);
    build_payload(dir_ / "payload");
    QgResult r = pack(dir_ / "payload", dir_ / "setup.run", write_script(dir_));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  void TearDown() override { ::umask(old_umask_); }
  rztest::TempDir dir_;
  mode_t old_umask_ = 022;
};

TEST_F(ExtractInstaller, RestoresModesLinksFoldersTimesAndNames) {
  std::string out = dir_ / "out dir";
  QgResult r = run_qg({"extract", dir_ / "setup.run", "-d", out});
  ASSERT_EQ(r.status, 0) << r.output;
  for (const Item& it : payload_items()) {
    SCOPED_TRACE(it.path);
    std::string p = out + "/" + it.path;
    struct stat st;
    ASSERT_EQ(::lstat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, it.mtime);
    if (it.kind == 'l') {
      ASSERT_TRUE(S_ISLNK(st.st_mode));
      char target[256] = {};
      ASSERT_GT(::readlink(p.c_str(), target, sizeof target - 1), 0);
      EXPECT_EQ(std::string(target), it.content);
      continue;
    }
    EXPECT_EQ(it.kind == 'd', S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, it.mode & ~027u);  // the user's umask applies
    if (it.kind == 'f') {
      std::vector<uint8_t> bytes = rztest::read_file(p);
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), it.content);
    }
  }
  // The executable runs.
  std::string run =
      rztest::shell_quote(out + "/bin/tool-link") + " > " + rztest::shell_quote(dir_ / "ran.txt");
  ASSERT_EQ(std::system(run.c_str()), 0);
  std::vector<uint8_t> ran = rztest::read_file(dir_ / "ran.txt");
  EXPECT_EQ(std::string(ran.begin(), ran.end()), "tool ran\n");
}

TEST_F(ExtractInstaller, ListAndTestFindTheArchiveThemselves) {
  QgResult r = run_qg({"list", dir_ / "setup.run"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("tool"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("7 entries"), std::string::npos) << r.output;
  r = run_qg({"test", dir_ / "setup.run"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("7 entries OK, 0 failed"), std::string::npos) << r.output;
}

TEST_F(ExtractInstaller, SkippedFilesKeepWhatTheyHave) {
  std::string out = dir_ / "out";
  make_dir(out);
  make_dir(out + "/bin");
  make_file(out + "/bin/tool", "mine", 0600, 1500000000);
  QgResult r = run_qg({"extract", dir_ / "setup.run", "-d", out, "--skip-existing"});
  ASSERT_EQ(r.status, 0) << r.output;
  struct stat st;
  ASSERT_EQ(::stat((out + "/bin/tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
}

// A plain archive that stores an installer uncompressed carries its anchor
// too: it is still read as the plain archive it is.
TEST_F(ExtractInstaller, PlainArchiveHoldingAnInstallerStaysPlain) {
  std::string inner = dir_ / "inner";
  make_dir(inner);
  rztest::write_file(inner + "/setup.run", rztest::read_file(dir_ / "setup.run"));
  QgResult r = run_qg({"pack", inner, "-o", dir_ / "plain.qg", "--level", "0"});
  ASSERT_EQ(r.status, 0) << r.output;
  // Known from its first bytes, before any search for an anchor.
  qgsetup::InstallerLayout layout;
  EXPECT_EQ(qgsetup::locate_installer(dir_ / "plain.qg", &layout), qgsetup::kLocateNotInstaller);
  r = run_qg({"list", dir_ / "plain.qg"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("1 entries"), std::string::npos) << r.output;
  std::string out = dir_ / "plain-out";
  r = run_qg({"extract", dir_ / "plain.qg", "-d", out});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("not restored"), std::string::npos) << r.output;
  EXPECT_EQ(rztest::read_file(out + "/setup.run"), rztest::read_file(dir_ / "setup.run"));
}

// --- the metadata steps on their own, against a hostile destination -------

qgsetup::SetupData small_data() {
  qgsetup::SetupData d;
  d.entry_count = 1;
  using K = qgsetup::ItemKind;
  d.items = {{K::directory, 0755, 1700000000, qgsetup::kNoEntry, "sub", ""},
             {K::file, 0700, 1700000001, 0, "sub/file", ""},
             {K::symlink, 0777, 1700000002, qgsetup::kNoEntry, "sub/link", "file"}};
  return d;
}

int open_dir(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

TEST(PayloadMetadata, NeverFollowsALinkInTheDestination) {
  rztest::TempDir dir;
  std::string root = dir / "root", outside = dir / "outside";
  make_dir(root);
  make_dir(outside);
  make_file(outside + "/file", "precious", 0644, 1400000000);
  make_link(outside, root + "/sub");  // "sub" leads out of the root
  int fd = open_dir(root);
  ASSERT_GE(fd, 0);
  std::vector<std::string> warnings;
  qgsetup::MetadataHooks hooks;
  hooks.warn = [&](const std::string& m) { warnings.push_back(m); };
  std::string error;
  EXPECT_NE(qgsetup::apply_payload_metadata(fd, small_data(), 022, hooks, &error), 0);
  EXPECT_NE(error.find("sub"), std::string::npos) << error;
  EXPECT_EQ(qgsetup::create_payload_directories(fd, small_data(), hooks, &error), 1);
  ::close(fd);
  struct stat st;
  ASSERT_EQ(::stat((outside + "/file").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1400000000);
  EXPECT_NE(::lstat((outside + "/link").c_str(), &st), 0) << "a link was made outside";
}

TEST(PayloadMetadata, ExistingThingsInALinksPlaceAreKept) {
  rztest::TempDir dir;
  std::string root = dir / "root";
  make_dir(root);
  make_dir(root + "/sub");
  make_file(root + "/sub/file", "payload file", 0644);
  make_file(root + "/sub/link", "a user's file", 0644);
  int fd = open_dir(root);
  ASSERT_GE(fd, 0);
  std::vector<std::string> created;
  qgsetup::MetadataHooks hooks;
  hooks.before_create = [&](const qgsetup::PayloadItem& item) {
    created.push_back(item.path);
    return 0;
  };
  std::string error;
  EXPECT_EQ(qgsetup::apply_payload_metadata(fd, small_data(), 022, hooks, &error), 1);
  EXPECT_NE(error.find("sub/link"), std::string::npos) << error;
  ::close(fd);
  std::vector<uint8_t> kept = rztest::read_file(root + "/sub/link");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "a user's file");
  // The file and the folder got their modes and times all the same.
  struct stat st;
  ASSERT_EQ(::stat((root + "/sub/file").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000001);
  // Nothing was new: the hook heard of nothing.
  EXPECT_TRUE(created.empty());
}

TEST(PayloadMetadata, HookHearsOfEachNewFolderAndLinkFirstAndCanStop) {
  rztest::TempDir dir;
  std::string root = dir / "root";
  make_dir(root);
  int fd = open_dir(root);
  ASSERT_GE(fd, 0);
  std::vector<std::string> created;
  qgsetup::MetadataHooks hooks;
  hooks.before_create = [&](const qgsetup::PayloadItem& item) {
    struct stat st;
    // Called before the item exists.
    EXPECT_NE(::lstat((root + "/" + item.path).c_str(), &st), 0) << item.path;
    created.push_back(item.path);
    return item.kind == qgsetup::ItemKind::symlink ? 7 : 0;
  };
  std::string error;
  EXPECT_EQ(qgsetup::create_payload_directories(fd, small_data(), hooks, &error), 0) << error;
  EXPECT_EQ(created, std::vector<std::string>{"sub"});
  make_file(root + "/sub/file", "x");
  EXPECT_EQ(qgsetup::apply_payload_metadata(fd, small_data(), 022, hooks, &error), 7);
  EXPECT_EQ(created, (std::vector<std::string>{"sub", "sub/link"}));
  struct stat st;
  EXPECT_NE(::lstat((root + "/sub/link").c_str(), &st), 0) << "made although the hook said stop";
  ::close(fd);
}

}  // namespace
