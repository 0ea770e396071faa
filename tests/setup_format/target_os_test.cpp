// qg pack --target-os and --target-arch: the setup program is taken from
// the data folder as seen from the running qg, the same rule in the build
// tree and in an installed package.  A copy of qg in a folder made here
// stands for an installed one, with small stand-in programs in its data
// folder; a missing program, one of the wrong width and contradicting
// options are refused with nothing written.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "anchor.h"
#include "installer_fixture.h"

namespace {

using namespace fmt_test;
namespace fs = std::filesystem;

constexpr uint16_t kAmd64 = 0x8664;
constexpr uint16_t kI386 = 0x014C;

void put_u16(std::vector<uint8_t>* b, size_t at, uint16_t v) {
  (*b)[at] = static_cast<uint8_t>(v);
  (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A stand-in Windows setup program: DOS header, "PE\0\0" at 0x80, a COFF
// header of `machine`, an optional header (PE32+ for AMD64, PE32 otherwise)
// with 16 data directories, then an empty installer anchor.
std::vector<uint8_t> pe_stub(uint16_t machine) {
  const bool plus = machine == kAmd64;
  const uint16_t optional_size = plus ? 240 : 224;
  std::vector<uint8_t> b(0x80 + 24 + optional_size + 64, 0);
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x80;
  std::memcpy(b.data() + 0x80, "PE\0\0", 4);
  put_u16(&b, 0x80 + 4, machine);
  put_u16(&b, 0x80 + 20, optional_size);
  put_u16(&b, 0x80 + 24, plus ? 0x20b : 0x10b);
  b[0x80 + 24 + (plus ? 108 : 92)] = 16;
  unsigned char anchor[qgsetup::kAnchorSize] = {};
  qgsetup::anchor_magic(anchor);
  qgsetup::AnchorFields fields;
  fields.version = qgsetup::kAnchorVersion;
  fields.size = qgsetup::kAnchorSize;
  qgsetup::encode_anchor(fields, anchor);
  b.insert(b.end(), anchor, anchor + sizeof anchor);
  return b;
}

// A folder laid out as an installed package: bin/qg (a copy of the qg under
// test), bin/qg-setup (the test stub) and the Windows programs given, by
// architecture, in the data folder.
struct Package {
  rztest::TempDir dir;
  std::string qg;

  void make(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& windows) {
    fs::create_directories(dir / "bin");
    qg = dir / "bin/qg";
    fs::copy_file(RZ_QG_PATH, qg);
    fs::copy_file(RZ_TEST_STUB_PATH, dir / "bin/qg-setup");
    for (const auto& [arch, bytes] : windows) {
      fs::path folder = fs::path(dir / "bin") / RZ_QG_BIN_TO_DATA / "raziza3z/windows" / arch;
      fs::create_directories(folder);
      rztest::write_file((folder / "qg-setup.exe").string(), bytes);
    }
  }
  std::string windows_stub(const std::string& arch) const {
    return (fs::path(dir / "bin") / RZ_QG_BIN_TO_DATA / "raziza3z/windows" / arch / "qg-setup.exe")
        .lexically_normal()
        .string();
  }
};

class TargetOs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    good_ = new Package;
    good_->make({{"x86_64", pe_stub(kAmd64)}, {"i686", pe_stub(kI386)}});
    // No i686 program, and an x86_64 one that is really 32-bit.
    bad_ = new Package;
    bad_->make({{"x86_64", pe_stub(kI386)}});
    work_ = new rztest::TempDir;
    make_dir(*work_ / "payload");
    make_file(*work_ / "payload/a.txt", "alpha\n");
    script_ = new std::string(write_script(*work_));
  }
  static void TearDownTestSuite() {
    delete good_;
    delete bad_;
    delete work_;
    delete script_;
  }

  // qg pack payload -o out --setup script extra..., with the package's qg.
  static QgResult pack_with(const Package& p, const std::string& out,
                            const std::vector<std::string>& extra, bool setup = true) {
    std::vector<std::string> args = {"pack", *work_ / "payload", "-o", out};
    if (setup) args.insert(args.end(), {"--setup", *script_});
    args.insert(args.end(), extra.begin(), extra.end());
    return rztest::run_program(p.qg, args);
  }

  static Package* good_;
  static Package* bad_;
  static rztest::TempDir* work_;
  static std::string* script_;
};

Package* TargetOs::good_ = nullptr;
Package* TargetOs::bad_ = nullptr;
rztest::TempDir* TargetOs::work_ = nullptr;
std::string* TargetOs::script_ = nullptr;

TEST_F(TargetOs, PicksTheSetupProgramOfTheSystemAndWidthAskedFor) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string stub;  // the program the installer must begin with
  };
  const Case cases[] = {
      {"windows, default width", {"--target-os", "windows"}, good_->windows_stub("x86_64")},
      {"windows x86_64",
       {"--target-os", "windows", "--target-arch", "x86_64"},
       good_->windows_stub("x86_64")},
      {"windows i686",
       {"--target-arch", "i686", "--target-os", "windows"},
       good_->windows_stub("i686")},
      {"linux", {"--target-os", "linux"}, good_->dir / "bin/qg-setup"},
      {"nothing asked", {}, good_->dir / "bin/qg-setup"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = *work_ / "setup.out";
    fs::remove(out);
    QgResult r = pack_with(*good_, out, c.options);
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<uint8_t> stub = rztest::read_file(c.stub);
    std::vector<uint8_t> installer = rztest::read_file(out);
    ASSERT_GT(stub.size(), 256u);
    EXPECT_EQ(layout_of(out).setup_data_offset, stub.size());
    // The anchor lies past the headers, where the width differs.
    EXPECT_TRUE(std::equal(stub.begin(), stub.begin() + 256, installer.begin()));
    QgResult v = rztest::run_program(good_->qg, {"verify", out});
    EXPECT_EQ(v.status, 0) << v.output;
  }
}

TEST_F(TargetOs, RefusalsWriteNothing) {
  struct Case {
    const char* name;
    const Package* package;
    std::vector<std::string> options;
    bool setup;
    int status;
    std::string message;
  };
  const std::string stub = RZ_TEST_STUB_PATH;
  const Case cases[] = {
      {"--stub with --target-os",
       good_,
       {"--stub", stub, "--target-os", "windows"},
       true,
       4,
       "no --target-os with it"},
      {"--target-arch alone",
       good_,
       {"--target-arch", "i686"},
       true,
       4,
       "needs --target-os windows"},
      {"--target-arch for linux",
       good_,
       {"--target-os", "linux", "--target-arch", "x86_64"},
       true,
       4,
       "needs --target-os windows"},
      {"unknown system", good_, {"--target-os", "plan9"}, true, 4, "--target-os"},
      {"unknown width",
       good_,
       {"--target-os", "windows", "--target-arch", "arm64"},
       true,
       4,
       "--target-arch"},
      {"without --setup", good_, {"--target-os", "windows"}, false, 4, "need --setup"},
      {"not installed",
       bad_,
       {"--target-os", "windows", "--target-arch", "i686"},
       true,
       5,
       "no Windows setup program for i686 was installed with qg"},
      {"wrong width",
       bad_,
       {"--target-os", "windows"},
       true,
       5,
       "is not a Windows program for x86_64"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = *work_ / "refused.out";
    QgResult r = pack_with(*c.package, out, c.options, c.setup);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(out));
  }
}

}  // namespace
