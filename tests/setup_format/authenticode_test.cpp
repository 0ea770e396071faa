// Installers whose setup program is a Windows program, signed with
// Authenticode after packing (osslsigncode, a certificate made here): the
// installer's own digests and publisher signature leave out exactly what
// signing changes, so both checks pass; anything else after the archive,
// or any other changed byte, is refused.  The PE header parser is fed
// hostile headers too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "installer_fixture.h"
#include "pe_signing.h"
#include "setup_exit_codes.h"

namespace {

using namespace fmt_test;

const std::string kPeStub = RZ_TEST_PE_STUB_PATH;
const std::string kOsslsigncode = RZ_OSSLSIGNCODE_PATH;

// Why the signing tests cannot run here, or "".
std::string missing_tools() {
  if (kPeStub.empty())
    return "x86_64-w64-mingw32-g++ was not found when this build was configured: no Windows "
           "test stub";
  if (kOsslsigncode.empty()) return "osslsigncode is not installed (scripts/install-deps.sh)";
  return "";
}

int shell(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str());
}

uint32_t get_u32(const std::vector<uint8_t>& b, uint64_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void put_u32(std::vector<uint8_t>* b, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Changes the file's bytes through `edit`.
void edit_file(const std::string& path, const std::function<void(std::vector<uint8_t>*)>& edit) {
  std::vector<uint8_t> bytes = rztest::read_file(path);
  edit(&bytes);
  rztest::write_file(path, bytes);
}

// One payload, packed with the Windows stub unsigned (pe.exe) and with
// --sign (pe-key.exe), each then signed with Authenticode (auth.exe,
// both.exe); each case works on a copy.
class AuthenticodeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!missing_tools().empty()) return;
    dir_ = new rztest::TempDir;
    const rztest::TempDir& d = *dir_;
    std::string payload = d / "payload";
    make_dir(payload);
    make_dir(payload + "/bin");
    make_dir(payload + "/empty");
    std::string noise;
    for (int i = 0; i < 70000; ++i) noise += static_cast<char>((i * 2654435761u) >> 13);
    make_file(payload + "/bin/tool", "#!/bin/sh\necho hi\n", 0755);
    make_file(payload + "/data.bin", noise);
    std::string script = write_script(d);
    QgResult r = run_qg({"keygen", "-o", d / "alice"});
    ASSERT_EQ(r.status, 0) << r.output;
    r = pack(payload, d / "pe.exe", script, {}, kPeStub);
    ASSERT_EQ(r.status, 0) << r.output;
    r = pack(payload, d / "pe-key.exe", script, {"--sign", d / "alice.pem"}, kPeStub);
    ASSERT_EQ(r.status, 0) << r.output;
    std::string q = rztest::shell_quote(d.path());
    ASSERT_EQ(shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=qg-test -keyout " +
                    q + "/cert.key -out " + q + "/cert.pem"),
              0);
    ASSERT_EQ(authenticode(d / "pe.exe", d / "auth.exe"), 0);
    ASSERT_EQ(authenticode(d / "pe-key.exe", d / "both.exe"), 0);
    ready_ = true;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
    ready_ = false;
  }
  void SetUp() override {
    std::string why = missing_tools();
    if (!why.empty()) GTEST_SKIP() << why;
    // The tools are there, so a suite that could not be set up has failed.
    if (!ready_) FAIL() << "the signed installers could not be made (see the suite's set-up)";
  }

  static int authenticode(const std::string& in, const std::string& out) {
    return shell(rztest::shell_quote(kOsslsigncode) + " sign -certs " +
                 rztest::shell_quote(*dir_ / "cert.pem") + " -key " +
                 rztest::shell_quote(*dir_ / "cert.key") + " -in " + rztest::shell_quote(in) +
                 " -out " + rztest::shell_quote(out));
  }
  static int authenticode_verify(const std::string& path) {
    return shell(rztest::shell_quote(kOsslsigncode) + " verify -CAfile " +
                 rztest::shell_quote(*dir_ / "cert.pem") + " -in " + rztest::shell_quote(path));
  }

  std::string copy_of(const std::string& name) {
    std::string path = *dir_ / ("case-" + name);
    rztest::write_file(path, rztest::read_file(*dir_ / name));
    return path;
  }

  static rztest::TempDir* dir_;
  static bool ready_;
};
rztest::TempDir* AuthenticodeTest::dir_ = nullptr;
bool AuthenticodeTest::ready_ = false;

// Signing changes the two header fields and adds the table after the
// recorded length, and nothing else: the test's premise, checked.
TEST_F(AuthenticodeTest, SigningChangesOnlyWhatIsLeftOut) {
  std::vector<uint8_t> before = rztest::read_file(*dir_ / "pe-key.exe");
  std::vector<uint8_t> after = rztest::read_file(*dir_ / "both.exe");
  qgsetup::InstallerLayout l = layout_of(*dir_ / "both.exe");
  ASSERT_TRUE(l.pe.present);
  EXPECT_EQ(l.recorded_length, before.size());
  EXPECT_EQ(before.size() % 8, 0u);  // the end marker reaches the 8-byte boundary
  ASSERT_GT(after.size(), before.size());
  EXPECT_EQ(l.pe.table_offset, before.size());
  EXPECT_EQ(uint64_t{l.pe.table_offset} + l.pe.table_size, after.size());
  EXPECT_NE(get_u32(before, l.pe.checksum_offset), get_u32(after, l.pe.checksum_offset));
  EXPECT_EQ(get_u32(before, l.pe.security_offset), 0u);
  std::vector<size_t> changed;
  for (size_t i = 0; i < before.size(); ++i)
    if (before[i] != after[i]) changed.push_back(i);
  for (size_t i : changed) {
    bool in_checksum = i >= l.pe.checksum_offset && i < l.pe.checksum_offset + 4;
    bool in_entry = i >= l.pe.security_offset && i < l.pe.security_offset + 8;
    EXPECT_TRUE(in_checksum || in_entry) << "signing changed byte " << i;
  }
}

TEST_F(AuthenticodeTest, SignedInstallersPassBothChecks) {
  struct Case {
    const char* file;
    bool authenticode;       // osslsigncode verify must pass
    bool with_key;           // qg verify --key alice.pub.pem
    const char* qg_message;  // part of what qg verify prints
  };
  const Case cases[] = {
      {"pe.exe", false, false, "intact, not signed"},
      {"pe-key.exe", false, true, "signed by the required key"},
      {"auth.exe", true, false, "with an Authenticode signature"},
      {"both.exe", true, false, "intact, signed;"},
      {"both.exe", true, true, "signed by the required key; with an Authenticode signature"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.with_key ? " --key" : ""));
    std::string path = copy_of(c.file);
    if (c.authenticode) {
      EXPECT_EQ(authenticode_verify(path), 0);
    }
    std::vector<std::string> args = {"verify", path};
    if (c.with_key) args.insert(args.end(), {"--key", *dir_ / "alice.pub.pem"});
    QgResult r = run_qg(args);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(c.qg_message), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("SHA-256 and CRC-32"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("certificates") != std::string::npos, c.authenticode) << r.output;
  }
  // In process: the archive CRC of a signed file is computed over the
  // archive alone (SFXSIG would read the table too), and it matched.
  qgsetup::VerifyResult v;
  ASSERT_EQ(qgsetup::verify_installer(copy_of("both.exe"), {}, &v), 0) << v.message;
  EXPECT_TRUE(v.authenticode);
  EXPECT_TRUE(v.archive_crc_checked);
  EXPECT_TRUE(v.is_signed);
}

struct DamageCase {
  const char* name;
  std::function<void(std::vector<uint8_t>* b, const qgsetup::InstallerLayout& l)> damage;
  int status;           // of qg verify
  const char* message;  // part of what it prints
};

TEST_F(AuthenticodeTest, EverythingButTheSigningFieldsIsCovered) {
  using B = std::vector<uint8_t>*;
  using L = const qgsetup::InstallerLayout&;
  auto flip = [](B b, uint64_t at) { (*b)[at] ^= 0x5A; };
  const DamageCase cases[] = {
      // What signing may change, changed again: still intact.
      {"CheckSum changed", [&](B b, L l) { flip(b, l.pe.checksum_offset + 1); }, 0, "intact"},
      // Everything else.
      {"one byte appended", [](B b, L) { b->push_back(0); }, 11,
       "bytes appended after the end: 1 bytes follow the certificate table"},
      {"garbage after the table", [](B b, L) { b->resize(b->size() + 100, 'B'); }, 11,
       "100 bytes follow the certificate table"},
      {"a second table after the first",
       [](B b, L l) {
         std::vector<uint8_t> table(b->begin() + l.pe.table_offset, b->end());
         b->insert(b->end(), table.begin(), table.end());
       },
       11, "bytes follow the certificate table"},
      {"a second record inside the table",
       [](B b, L l) {
         std::vector<uint8_t> table(b->begin() + l.pe.table_offset, b->end());
         b->insert(b->end(), table.begin(), table.end());
         put_u32(b, l.pe.security_offset + 4, l.pe.table_size * 2);
       },
       11, "follow the certificate record (a second record"},
      {"table entry covers garbage",
       [](B b, L l) {
         b->resize(b->size() + 16, 0xEE);
         put_u32(b, l.pe.security_offset + 4, l.pe.table_size + 16);
       },
       11, "follow the certificate record"},
      {"record length too small", [](B b, L l) { put_u32(b, l.pe.table_offset, 4); }, 11,
       "the certificate table does not parse"},
      {"record length past the table",
       [](B b, L l) { put_u32(b, l.pe.table_offset, l.pe.table_size + 8); }, 11,
       "the certificate table does not parse"},
      {"record of an unknown revision", [](B b, L l) { (*b)[l.pe.table_offset + 5] = 0x07; }, 11,
       "unknown revision or type"},
      {"record of an unknown type", [](B b, L l) { (*b)[l.pe.table_offset + 6] = 0x09; }, 11,
       "unknown revision or type"},
      {"table entry moved past the archive",
       [](B b, L l) { put_u32(b, l.pe.security_offset, l.pe.table_offset + 8); }, 11,
       "does not point at the 8-byte boundary after the archive"},
      {"table entry moved into the archive",
       [](B b, L l) { put_u32(b, l.pe.security_offset, l.pe.table_offset - 8); }, 11,
       "does not point at the 8-byte boundary after the archive"},
      {"table entry offset huge", [](B b, L l) { put_u32(b, l.pe.security_offset, 0xFFFFFFF8u); },
       11, "does not point at the 8-byte boundary"},
      {"table entry size huge", [](B b, L l) { put_u32(b, l.pe.security_offset + 4, 0xFFFFFFFFu); },
       11, "the file ends inside its certificate table"},
      {"table entry cleared",
       [](B b, L l) {
         put_u32(b, l.pe.security_offset, 0);
         put_u32(b, l.pe.security_offset + 4, 0);
       },
       11, "bytes appended after the end"},
      {"cut inside the table", [](B b, L) { b->resize(b->size() - 10); }, 11,
       "truncated: the file ends inside its certificate table"},
      {"table cut off, entry left", [](B b, L l) { b->resize(l.recorded_length); }, 11,
       "no certificate table follows the archive"},
      {"byte in the DOS header", [&](B b, L) { flip(b, 2); }, 11,
       "the setup program part has changed"},
      {"byte just before the CheckSum", [&](B b, L l) { flip(b, l.pe.checksum_offset - 1); }, 11,
       "the setup program part has changed"},
      {"byte just after the CheckSum", [&](B b, L l) { flip(b, l.pe.checksum_offset + 4); }, 11,
       "the setup program part has changed"},
      {"byte just before the table entry", [&](B b, L l) { flip(b, l.pe.security_offset - 1); }, 11,
       "the setup program part has changed"},
      {"byte just after the table entry", [&](B b, L l) { flip(b, l.pe.security_offset + 8); }, 11,
       "the setup program part has changed"},
      {"byte in the stub's code", [&](B b, L l) { flip(b, l.setup_data_offset / 2); }, 11,
       "the setup program part has changed"},
      {"byte in the setup data",
       [&](B b, L l) { flip(b, l.setup_data_offset + qgsetup::kSetupBodyOffset + 20); }, 11,
       "the setup data has changed"},
      {"byte in the archive", [&](B b, L l) { flip(b, l.archive_offset + 50); }, 11,
       "the archive part has changed"},
      {"last byte of the end marker", [&](B b, L l) { flip(b, l.recorded_length - 1); }, 11,
       "the archive part has changed"},
  };
  for (const char* file : {"auth.exe", "both.exe"}) {
    for (const DamageCase& c : cases) {
      SCOPED_TRACE(std::string(file) + ": " + c.name);
      std::string path = copy_of(file);
      qgsetup::InstallerLayout l = layout_of(path);
      ASSERT_TRUE(l.pe.present);
      edit_file(path, [&](std::vector<uint8_t>* b) { c.damage(b, l); });
      QgResult r = run_qg({"verify", path});
      EXPECT_EQ(r.status, c.status) << r.output;
      EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
      if (c.status != 0) {
        EXPECT_EQ(r.output.find("intact"), std::string::npos) << r.output;
      }
    }
  }
}

// A changed archive byte with the whole-file digest rewritten: in an
// Authenticode-signed file without a publisher key the archive CRC, computed
// over the archive alone, still tells.
TEST_F(AuthenticodeTest, ArchiveCrcOfASignedFileIsChecked) {
  std::string path = copy_of("auth.exe");
  qgsetup::InstallerLayout l = layout_of(path);
  edit_file(path, [&](std::vector<uint8_t>* b) { (*b)[l.archive_offset + 60] ^= 1; });
  qgsetup::InstallerDigests d;
  ASSERT_EQ(qgsetup::hash_installer(path, l, nullptr, &d), 0);
  edit_file(path, [&](std::vector<uint8_t>* b) {
    std::copy(d.file.begin(), d.file.end(),
              b->begin() + static_cast<long>(l.setup_data_offset + qgsetup::kSlotOffset + 8));
  });
  QgResult r = run_qg({"verify", path});
  EXPECT_EQ(r.status, qgsetup::kSetupIntegrity) << r.output;
  EXPECT_NE(r.output.find("CRC-32 mismatch"), std::string::npos) << r.output;
}

TEST_F(AuthenticodeTest, ReadersFindTheArchiveOfASignedInstaller) {
  std::string path = copy_of("both.exe");
  QgResult r = run_qg({"list", path});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("data.bin"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("2 entries"), std::string::npos) << r.output;
  r = run_qg({"test", path});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("2 entries OK, 0 failed"), std::string::npos) << r.output;
  std::string out = *dir_ / "extracted";
  r = run_qg({"extract", path, "-d", out});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(rztest::read_file(out + "/data.bin"), rztest::read_file(*dir_ / "payload/data.bin"));
  EXPECT_EQ(rztest::read_file(out + "/bin/tool"), rztest::read_file(*dir_ / "payload/bin/tool"));
  struct stat st;
  ASSERT_EQ(::stat((out + "/bin/tool").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);  // restored from the setup data
  EXPECT_TRUE(std::filesystem::is_directory(out + "/empty"));
}

TEST_F(AuthenticodeTest, PackerRefusesSignedOrDamagedWindowsStubs) {
  std::string script = write_script(*dir_);
  std::string signed_stub = *dir_ / "stub-signed.exe";
  ASSERT_EQ(authenticode(kPeStub, signed_stub), 0);
  std::string damaged = *dir_ / "stub-damaged.exe";
  rztest::write_file(damaged, rztest::read_file(kPeStub));
  edit_file(damaged, [](std::vector<uint8_t>* b) { put_u32(b, 0x3C, 0x7FFFFFF0u); });
  struct Case {
    std::string stub;
    const char* message;
  };
  const Case cases[] = {
      {signed_stub, "is Authenticode-signed already"},
      {damaged, "its PE headers do not parse"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stub);
    std::string out = *dir_ / "refused.exe";
    QgResult r = pack(*dir_ / "payload", out, script, {}, c.stub);
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

// --- the header parser on hostile input ----------------------------------

// A minimal PE head: DOS header, "PE\0\0" at 0x80, a COFF header and an
// optional header of `magic` with 16 data directories.
std::vector<uint8_t> pe_head(uint16_t magic) {
  bool plus = magic == 0x20b;
  uint32_t optional_size = plus ? 240 : 224;
  std::vector<uint8_t> b(0x80 + 24 + optional_size + 64, 0);
  b[0] = 'M';
  b[1] = 'Z';
  put_u32(&b, 0x3C, 0x80);
  std::memcpy(b.data() + 0x80, "PE\0\0", 4);
  b[0x80 + 20] = static_cast<uint8_t>(optional_size);
  b[0x80 + 24] = static_cast<uint8_t>(magic);
  b[0x80 + 25] = static_cast<uint8_t>(magic >> 8);
  put_u32(&b, 0x80 + 24 + (plus ? 108 : 92), 16);
  return b;
}

TEST(PeSigningFields, HostileHeadersAreRefusedWithoutReadingOutside) {
  struct Case {
    const char* name;
    uint16_t magic;
    std::function<void(std::vector<uint8_t>*)> edit;
    size_t cut;  // bytes kept (0: all)
    int result;
    uint64_t checksum, security;  // expected for kPeOk
  };
  const uint64_t opt = 0x80 + 24;
  const Case cases[] = {
      {"PE32", 0x10b, nullptr, 0, qgsetup::kPeOk, opt + 64, opt + 96 + 32},
      {"PE32+", 0x20b, nullptr, 0, qgsetup::kPeOk, opt + 64, opt + 112 + 32},
      {"not MZ", 0x10b, [](auto* b) { (*b)[0] = 'X'; }, 0, qgsetup::kPeNone, 0, 0},
      {"MZ and nothing else", 0x10b, nullptr, 2, qgsetup::kPeDamaged, 0, 0},
      {"e_lfanew past the end", 0x10b, [](auto* b) { put_u32(b, 0x3C, 0x10000); }, 0,
       qgsetup::kPeDamaged, 0, 0},
      {"e_lfanew that would wrap", 0x10b, [](auto* b) { put_u32(b, 0x3C, 0xFFFFFFFFu); }, 0,
       qgsetup::kPeDamaged, 0, 0},
      {"no PE signature", 0x10b, [](auto* b) { (*b)[0x81] = 'X'; }, 0, qgsetup::kPeDamaged, 0, 0},
      {"unknown optional header magic", 0x10b, [](auto* b) { (*b)[opt] = 0x07; }, 0,
       qgsetup::kPeDamaged, 0, 0},
      {"optional header too short for the entry", 0x10b, [](auto* b) { (*b)[0x80 + 20] = 96; }, 0,
       qgsetup::kPeDamaged, 0, 0},
      {"only four data directories", 0x10b, [&](auto* b) { put_u32(b, opt + 92, 4); }, 0,
       qgsetup::kPeDamaged, 0, 0},
      {"file ends inside the entry", 0x20b, nullptr, opt + 112 + 36, qgsetup::kPeDamaged, 0, 0},
      {"file ends just after the entry", 0x20b, nullptr, opt + 112 + 40, qgsetup::kPeOk, opt + 64,
       opt + 112 + 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> b = pe_head(c.magic);
    if (c.edit) c.edit(&b);
    if (c.cut) b.resize(c.cut);
    // The bytes are copied to a buffer of exactly their size: reading past
    // it would show under AddressSanitizer.
    std::vector<unsigned char> exact(b.begin(), b.end());
    qgsetup::PeSigningFields f;
    EXPECT_EQ(qgsetup::parse_pe_signing_fields(exact.data(), exact.size(), exact.size(), &f),
              c.result);
    if (c.result == qgsetup::kPeOk) {
      EXPECT_EQ(f.checksum_offset, c.checksum);
      EXPECT_EQ(f.security_offset, c.security);
      // Bounded by the setup program's length too, not only by the buffer.
      EXPECT_EQ(qgsetup::parse_pe_signing_fields(exact.data(), exact.size(), c.security + 7, &f),
                qgsetup::kPeDamaged);
    }
  }
}

}  // namespace
