// Extraction below the destination and symbolic links: a link that leads
// out of the destination is never followed, whether it was there before the
// call or is planted while the call runs (at a prompt, during decoding); a
// link that stays inside is followed; the temporary file is created
// exclusively under an unguessable name.
// Symbolic links as used here exist on POSIX only.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <regex>

#include "host_window.h"
#include "platform/file.h"
#include "qgwriter.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Planter {
  std::function<void()> at_create_path, at_replace, at_progress;
  uint32_t progress_message = 0;
  static int32_t box(void* user, RZ_HWND, const char* text, const char*, uint32_t) {
    auto* p = static_cast<Planter*>(user);
    std::string t = text;
    if (t.rfind("Create Path", 0) == 0 && p->at_create_path) p->at_create_path();
    if (t.find("replace") != std::string::npos && p->at_replace) p->at_replace();
    return RZ_IDYES;
  }
  static intptr_t proc(void* user, RZ_HWND, uint32_t msg, uintptr_t, intptr_t) {
    auto* p = static_cast<Planter*>(user);
    if (msg == p->progress_message && p->at_progress) {
      p->at_progress();
      p->at_progress = nullptr;  // once
    }
    return 0;
  }
};

class Links : public ::testing::Test {
 protected:
  void SetUp() override {
    QEN_RESETDLL();
    UDF1(0, 0);
    rz_host_set_message_box(&Planter::box, &planter_);
    window_ = std::make_unique<rztest::HostWindow>(&Planter::proc, &planter_);
    planter_.progress_message = rztest::HostWindow::register_message("RUZI1");
    QEN_UINIT_MP(window_->handle());
    dest_ = dir_ / "dest";
    away_ = dir_ / "elsewhere";
    fs::create_directories(dest_);
    fs::create_directories(away_);
  }
  void TearDown() override {
    rz_host_set_message_box(nullptr, nullptr);
    window_.reset();
    QEN_RESETDLL();
    rztest::HostWindow::drain();
  }
  // One entry named `name` in stored directory `dir`, positioned on.
  void archive(const std::string& name, const std::string& dir, size_t size = 100) {
    qgw::Entry e;
    e.name = name;
    e.directory = dir;
    e.data.assign(size, 'd');
    for (size_t i = 0; i < size; i += 7) e.data[i] = static_cast<uint8_t>(i >> 3);
    data_ = e.data;
    std::string error;
    ASSERT_EQ(qgw::write_archive(dir_ / "a.qg", {e}, {}, nullptr, &error), 0) << error;
    std::snprintf(path_, sizeof path_, "%s", (dir_ / "a.qg").c_str());
    EntryInfo info;
    ASSERT_EQ(QEN_NEXTLOOP(path_, 0, &info), 0);
  }
  int32_t unpack(const std::string& name, uint32_t options) {
    char spare[4] = "";
    return QEN_UNPACK(name.c_str(), spare, path_, dest_.c_str(), options);
  }
  size_t count_in(const std::string& d) {
    size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(d); it != fs::recursive_directory_iterator();
         ++it)
      ++n;
    return n;
  }
  // No file anywhere below the destination has a temporary name.
  void expect_no_temporary_file() {
    for (auto it = fs::recursive_directory_iterator(dest_);
         it != fs::recursive_directory_iterator(); ++it)
      EXPECT_EQ(it->path().string().find(".tmp"), std::string::npos) << it->path();
  }

  rztest::TempDir dir_;
  std::string dest_, away_;
  Planter planter_;
  std::unique_ptr<rztest::HostWindow> window_;
  char path_[256] = {};
  std::vector<uint8_t> data_;
};

void link(const std::string& target, const std::string& at) {
  ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
}

constexpr uint32_t kWithDirectory = UNPACK_USE_DIRECTORY | UNPACK_NO_PATH_PROMPT | UNPACK_QUIET;

TEST_F(Links, LinksInTheStoredDirectoryAreFollowedOnlyInside) {
  struct Case {
    const char* label;
    std::function<void(const std::string& dest, const std::string& away)> plant;
    int32_t expected;
    const char* lands;  // below dest, when the result is 0
  } cases[] = {
      {"absolute link out, first level", [](auto& d, auto& a) { link(a, d + "/sub"); }, 53,
       nullptr},
      {"relative link out, first level", [](auto& d, auto&) { link("../elsewhere", d + "/sub"); },
       53, nullptr},
      {"link out at the second level",
       [](auto& d, auto& a) {
         fs::create_directory(d + "/sub");
         link(a, d + "/sub/newdir");
       },
       53, nullptr},
      {"relative link inside that climbs out",
       [](auto& d, auto&) {
         fs::create_directory(d + "/real");
         link("real/../../elsewhere", d + "/sub");
       },
       53, nullptr},
      {"chain of links whose last one leads out",
       [](auto& d, auto&) {
         link("hop", d + "/sub");
         link("../elsewhere", d + "/hop");
       },
       53, nullptr},
      {"link to the root of the file system", [](auto& d, auto&) { link("/", d + "/sub"); }, 53,
       nullptr},
      {"absolute link inside",
       [](auto& d, auto&) {
         fs::create_directory(d + "/real");
         link(d + "/real", d + "/sub");
       },
       0, "real/newdir/f.txt"},
      {"relative link inside",
       [](auto& d, auto&) {
         fs::create_directories(d + "/real/newdir");
         link("real", d + "/sub");
       },
       0, "real/newdir/f.txt"},
      {"dangling link inside: its target is made", [](auto& d, auto&) { link("made", d + "/sub"); },
       0, "made/newdir/f.txt"},
      {"link loop", [](auto& d, auto&) { link("sub", d + "/sub"); }, 7, nullptr},
      {"a file in the way", [](auto& d, auto&) { rztest::write_text(d + "/sub", "x"); }, 7,
       nullptr},
  };
  archive("f.txt", "\\sub\\newdir");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dest_);
    fs::create_directories(dest_);
    c.plant(dest_, away_);
    EXPECT_EQ(unpack("f.txt", kWithDirectory), c.expected);
    EXPECT_EQ(count_in(away_), 0u) << "something was made outside the destination";
    if (c.lands) {
      EXPECT_EQ(rztest::read_file(dest_ + "/" + c.lands), data_);
    }
    expect_no_temporary_file();
  }
}

TEST_F(Links, OutputNamesWithFoldersStayInside) {
  struct Case {
    const char* label;
    const char* name;
    std::function<void(const std::string& dest, const std::string& away)> plant;
    int32_t expected;
    const char* lands;
  } cases[] = {
      {"folder of the name is a link out", "sub\\f.txt",
       [](auto& d, auto& a) { link(a, d + "/sub"); }, 53, nullptr},
      {"name climbs out of the destination", "..\\f.txt", [](auto&, auto&) {}, 53, nullptr},
      {"name climbs out by slashes", "../elsewhere/f.txt", [](auto&, auto&) {}, 53, nullptr},
      {"folder of the name exists", "sub\\f.txt",
       [](auto& d, auto&) { fs::create_directory(d + "/sub"); }, 0, "sub/f.txt"},
      {"folder of the name is missing", "none\\f.txt", [](auto&, auto&) {}, 15, nullptr},
      {"name that is no file name", "sub\\..", [](auto&, auto&) {}, 15, nullptr},
  };
  archive("f.txt", "");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dest_);
    fs::create_directories(dest_);
    c.plant(dest_, away_);
    EXPECT_EQ(unpack(c.name, UNPACK_NO_PATH_PROMPT | UNPACK_QUIET), c.expected);
    EXPECT_EQ(count_in(away_), 0u);
    EXPECT_FALSE(fs::exists(dir_ / "f.txt"));
    if (c.lands) {
      EXPECT_EQ(rztest::read_file(dest_ + "/" + c.lands), data_);
    }
  }
}

// The same guarantee for links planted while the call runs: after the
// existence check (at the Create Path prompt), at the replace prompt, and
// while the entry is being decoded into its temporary file.
TEST_F(Links, LinksPlantedDuringTheCallAreNotFollowed) {
  archive("f.txt", "\\sub", 300000);  // four progress reports
  struct Case {
    const char* label;
    std::function<void()> Planter::*moment;
    bool existing_output;
    int32_t expected;
    const char* lands;
  } cases[] = {
      {"at the Create Path prompt", &Planter::at_create_path, false, 53, nullptr},
      {"at the replace prompt", &Planter::at_replace, true, 0, "sub.old/f.txt"},
      {"during decoding", &Planter::at_progress, false, 0, "sub.old/f.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dest_);
    fs::create_directories(dest_);
    if (c.existing_output) {
      fs::create_directories(dest_ + "/sub");
      rztest::write_text(dest_ + "/sub/f.txt", "old");
    }
    planter_.at_create_path = planter_.at_replace = planter_.at_progress = nullptr;
    planter_.*c.moment = [this] {
      // The folder being written to moves aside and a link out takes its
      // name (or, before it exists, the link appears where it will be).
      if (fs::exists(dest_ + "/sub")) fs::rename(dest_ + "/sub", dest_ + "/sub.old");
      link(away_, dest_ + "/sub");
    };
    EXPECT_EQ(unpack("f.txt", UNPACK_USE_DIRECTORY | UNPACK_PROGRESS), c.expected);
    EXPECT_EQ(count_in(away_), 0u) << "something was written outside the destination";
    if (c.lands) {
      EXPECT_EQ(rztest::read_file(dest_ + "/" + c.lands), data_);
    }
    QEN_RESETDLL();
    std::snprintf(path_, sizeof path_, "%s", (dir_ / "a.qg").c_str());
    EntryInfo info;
    ASSERT_EQ(QEN_NEXTLOOP(path_, 0, &info), 0);
  }
}

TEST_F(Links, TheOutputNameAndItsOldTemporaryNameAreNeverFollowed) {
  struct Case {
    const char* label;
    const char* at;      // below dest
    const char* target;  // below elsewhere
    bool target_exists;
  } cases[] = {
      {"dangling link at the old temporary name", "f.txt.rz0.tmp", "victim", false},
      {"dangling link at the output name", "f.txt", "victim", false},
      {"output name links to a file elsewhere", "f.txt", "victim", true},
  };
  archive("f.txt", "");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dest_);
    fs::remove_all(away_);
    fs::create_directories(dest_);
    fs::create_directories(away_);
    if (c.target_exists) rztest::write_text(away_ + "/" + c.target, "theirs");
    link(away_ + "/" + c.target, dest_ + "/" + c.at);
    EXPECT_EQ(unpack("f.txt", UNPACK_OVERWRITE | UNPACK_QUIET), 0);
    EXPECT_EQ(rztest::read_file(dest_ + "/f.txt"), data_);
    EXPECT_FALSE(fs::is_symlink(dest_ + "/f.txt"));
    if (c.target_exists) {
      EXPECT_EQ(rztest::read_file(away_ + "/" + c.target),
                std::vector<uint8_t>({'t', 'h', 'e', 'i', 'r', 's'}));
    } else {
      EXPECT_FALSE(fs::exists(away_ + "/" + c.target));
    }
  }
}

// The folder written into is kept open from one call to the next, and used
// again only while its path still names it: whatever happens to the tree
// between two calls, the second call lands where a fresh walk would put it,
// and never outside through a link.
TEST_F(Links, FoldersKeptBetweenCallsAreCheckedAgain) {
  struct Case {
    const char* label;
    std::function<void(const std::string& dest, const std::string& away)> change;
    int32_t expected;
    const char* lands;  // the second file, below the test folder
  } cases[] = {
      {"nothing changed", [](auto&, auto&) {}, 0, "dest/sub/f.txt"},
      {"folder removed and made again",
       [](auto& d, auto&) {
         fs::remove_all(d + "/sub");
         fs::create_directory(d + "/sub");
       },
       0, "dest/sub/f.txt"},
      {"folder removed", [](auto& d, auto&) { fs::remove_all(d + "/sub"); }, 0, "dest/sub/f.txt"},
      {"folder moved aside, a link out in its place",
       [](auto& d, auto& a) {
         fs::rename(d + "/sub", d + "/old");
         link(a, d + "/sub");
       },
       53, nullptr},
      {"folder moved aside, a link inside in its place",
       [](auto& d, auto&) {
         fs::rename(d + "/sub", d + "/old");
         fs::create_directory(d + "/inside");
         link("inside", d + "/sub");
       },
       0, "dest/inside/f.txt"},
      {"folder moved aside, a link to it in its place",
       [](auto& d, auto&) {
         fs::rename(d + "/sub", d + "/old");
         link("old", d + "/sub");
       },
       0, "dest/old/f.txt"},
      {"a file in the folder's place",
       [](auto& d, auto&) {
         fs::remove_all(d + "/sub");
         rztest::write_text(d + "/sub", "x");
       },
       7, nullptr},
      {"destination moved aside and made again",
       [](auto& d, auto&) {
         fs::rename(d, d + ".old");
         fs::create_directory(d);
       },
       0, "dest/sub/f.txt"},
      // The host named the destination: a link there is followed.
      {"destination replaced by a link",
       [](auto& d, auto& a) {
         fs::rename(d, d + ".old");
         link(a, d);
       },
       0, "elsewhere/sub/f.txt"},
  };
  archive("f.txt", "\\sub");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    QEN_RESETDLL();
    ASSERT_EQ(QEN_NEXTLOOP(path_, 0, nullptr), 0);
    for (const std::string& d : {dest_, dest_ + ".old", away_}) fs::remove_all(d);
    fs::create_directories(dest_);
    fs::create_directories(away_);
    ASSERT_EQ(unpack("f.txt", kWithDirectory), 0);
    c.change(dest_, away_);
    EXPECT_EQ(unpack("f.txt", kWithDirectory | UNPACK_OVERWRITE), c.expected);
    if (c.lands) {
      EXPECT_EQ(rztest::read_file(dir_ / c.lands), data_);
    } else {
      EXPECT_EQ(count_in(away_), 0u) << "something was written outside the destination";
    }
  }
}

// A relative destination names another folder once the current directory
// has changed.
TEST_F(Links, KeptFoldersFollowTheCurrentDirectory) {
  archive("f.txt", "\\sub");
  fs::create_directories(dir_ / "one/dest");
  fs::create_directories(dir_ / "two/dest");
  std::error_code ec;
  fs::path start = fs::current_path();
  for (const char* where : {"one", "two", "one"}) {
    SCOPED_TRACE(where);
    fs::current_path(dir_ / where);
    char spare[4] = "";
    EXPECT_EQ(QEN_UNPACK("f.txt", spare, path_, "dest", kWithDirectory | UNPACK_OVERWRITE), 0);
    fs::current_path(start);
    EXPECT_EQ(rztest::read_file(dir_ / (std::string(where) + "/dest/sub/f.txt")), data_);
    fs::remove(dir_ / (std::string(where) + "/dest/sub/f.txt"), ec);
  }
}

// The names of temporary files (made beside an existing output file):
// random, different each time.  A new output file needs none.
std::vector<std::string> g_temp_names;
rz::plat::FileOps g_recording;

TEST_F(Links, TemporaryNamesCannotBeGuessed) {
  g_temp_names.clear();
  g_recording = rz::plat::native_file_ops();
  g_recording.create_temp_at = [](rz::plat::DirHandle d, const char* prefix, char* name,
                                  uint32_t size) {
    rz::plat::FileHandle h = rz::plat::native_file_ops().create_temp_at(d, prefix, name, size);
    g_temp_names.push_back(name);
    return h;
  };
  archive("f.txt", "");
  rz::plat::set_file_ops(&g_recording);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(unpack("f.txt", UNPACK_OVERWRITE | UNPACK_QUIET), 0);
  rz::plat::set_file_ops(nullptr);
  EXPECT_EQ(rztest::read_file(dest_ + "/f.txt"), data_);
  ASSERT_EQ(g_temp_names.size(), 3u);
  std::regex shape("f\\.txt\\.rz[0-9a-f]{16}\\.tmp");
  for (const auto& n : g_temp_names) EXPECT_TRUE(std::regex_match(n, shape)) << n;
  EXPECT_NE(g_temp_names[0], g_temp_names[1]);
  EXPECT_NE(g_temp_names[1], g_temp_names[2]);
  expect_no_temporary_file();
}

}  // namespace

#endif  // !_WIN32
