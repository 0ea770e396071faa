// qg verify on damaged and signed installers: each damage is refused with
// exit status 11 and a message that names the check and the part.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>

#include "anchor.h"
#include "installer_fixture.h"
#include "pack_setup.h"
#include "raziza3z.h"
#include "setup_exit_codes.h"

namespace {

using namespace fmt_test;

// One installer packed per suite from a small payload; each case works on
// a copy.
class VerifyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new rztest::TempDir;
    std::string payload = *dir_ / "payload";
    make_dir(payload);
    make_dir(payload + "/bin");
    std::string noise;
    for (int i = 0; i < 70000; ++i) noise += static_cast<char>((i * 2654435761u) >> 13);
    make_file(payload + "/bin/tool", "#!/bin/sh\necho hi\n", 0755);
    make_file(payload + "/data.bin", noise);
    std::string script = write_script(*dir_);
    QgResult r = pack(payload, *dir_ / "base.run", script);
    ASSERT_EQ(r.status, 0) << r.output;
    r = run_qg({"keygen", "-o", *dir_ / "alice"});
    ASSERT_EQ(r.status, 0) << r.output;
    r = run_qg({"keygen", "-o", *dir_ / "bob"});
    ASSERT_EQ(r.status, 0) << r.output;
    r = pack(payload, *dir_ / "signed.run", script, {"--sign", *dir_ / "alice.pem"});
    ASSERT_EQ(r.status, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  // A fresh copy of base.run or signed.run.
  std::string copy_of(const std::string& name) {
    std::string path = *dir_ / ("case-" + name);
    rztest::write_file(path, rztest::read_file(*dir_ / name));
    return path;
  }

  static rztest::TempDir* dir_;
};
rztest::TempDir* VerifyTest::dir_ = nullptr;

struct DamageCase {
  const char* name;
  std::function<void(const std::string& path, const qgsetup::InstallerLayout& l)> damage;
  const char* message;  // part of what qg verify prints
};

TEST_F(VerifyTest, IntactInstallerPasses) {
  QgResult r = run_qg({"verify", copy_of("base.run")});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("intact, not signed"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("SHA-256 and CRC-32"), std::string::npos) << r.output;
}

TEST_F(VerifyTest, EveryDamageIsRefusedWithItsMessage) {
  const uint64_t slot = qgsetup::kSlotOffset;
  const DamageCase cases[] = {
      {"byte in the setup program", [](auto& p, auto&) { flip_byte(p, 200); },
       "the setup program part has changed"},
      {"byte just before the setup data",
       [](auto& p, auto& l) { flip_byte(p, l.setup_data_offset - 1); },
       "the setup program part has changed"},
      {"magic of the setup data", [](auto& p, auto& l) { flip_byte(p, l.setup_data_offset + 1); },
       "the setup data has changed"},
      {"body of the setup data",
       [](auto& p, auto& l) { flip_byte(p, l.setup_data_offset + qgsetup::kSetupBodyOffset + 20); },
       "the setup data has changed"},
      {"last byte of the setup data", [](auto& p, auto& l) { flip_byte(p, l.archive_offset - 1); },
       "the setup data has changed"},
      {"stored digest in the slot",
       [slot](auto& p, auto& l) { flip_byte(p, l.setup_data_offset + slot + 8); },
       "part has changed"},
      {"reserved byte of the slot",
       [slot](auto& p, auto& l) { flip_byte(p, l.setup_data_offset + slot + 250); },
       "the setup data has changed"},
      {"first byte of the archive", [](auto& p, auto& l) { flip_byte(p, l.archive_offset); },
       "the archive part has changed"},
      {"middle of the archive",
       [](auto& p, auto& l) { flip_byte(p, (l.archive_offset + l.file_length) / 2); },
       "the archive part has changed"},
      {"last byte of the file", [](auto& p, auto& l) { flip_byte(p, l.file_length - 1); },
       "the archive part has changed"},
      {"cut one byte short", [](auto& p, auto& l) { truncate_to(p, l.file_length - 1); },
       "truncated"},
      {"cut in the archive",
       [](auto& p, auto& l) { truncate_to(p, (l.archive_offset + l.file_length) / 2); },
       "the archive is cut short"},
      {"cut where the archive begins", [](auto& p, auto& l) { truncate_to(p, l.archive_offset); },
       "the archive is cut short"},
      {"cut in the setup data", [](auto& p, auto& l) { truncate_to(p, l.setup_data_offset + 100); },
       "the setup data is cut short"},
      {"cut after the anchor",
       [](auto& p, auto& l) { truncate_to(p, l.anchor_offset + qgsetup::kAnchorSize + 1); },
       "the setup program is cut short"},
      {"one byte appended", [](auto& p, auto&) { append_bytes(p, 1); },
       "bytes appended after the end: 1 bytes"},
      {"one megabyte appended", [](auto& p, auto&) { append_bytes(p, 1 << 20); },
       "bytes appended after the end: 1048576 bytes"},
      {"anchor's file length changed", [](auto& p, auto& l) { flip_byte(p, l.anchor_offset + 40); },
       ""},
      {"anchor's setup data offset changed",
       [](auto& p, auto& l) { flip_byte(p, l.anchor_offset + 24); }, ""},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = copy_of("base.run");
    qgsetup::InstallerLayout l = layout_of(path);
    c.damage(path, l);
    QgResult r = run_qg({"verify", path});
    EXPECT_EQ(r.status, qgsetup::kSetupIntegrity) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("intact"), std::string::npos) << r.output;
  }
}

TEST_F(VerifyTest, ProgressSeesEveryByteAndCanStop) {
  std::string path = copy_of("base.run");
  qgsetup::VerifyOptions o;
  uint64_t last = 0, total = 0;
  o.progress = [&](uint64_t done, uint64_t all) {
    last = done;
    total = all;
    return true;
  };
  qgsetup::VerifyResult r;
  EXPECT_EQ(qgsetup::verify_installer(path, o, &r), qgsetup::kVerifyOk) << r.message;
  EXPECT_EQ(last, total);
  EXPECT_EQ(total, r.layout.file_length);
  EXPECT_TRUE(r.archive_crc_checked);
  o.progress = [](uint64_t, uint64_t) { return false; };
  EXPECT_EQ(qgsetup::verify_installer(path, o, &r), qgsetup::kVerifyCancelled);
}

TEST_F(VerifyTest, NotAnInstallerIsNotAnIntegrityFailure) {
  std::string plain = *dir_ / "plain.txt";
  rztest::write_text(plain, "just text");
  QgResult r = run_qg({"verify", plain});
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("not an installer"), std::string::npos) << r.output;
  // The stub alone carries an anchor that was never filled in.
  r = run_qg({"verify", RZ_TEST_STUB_PATH});
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("without payload"), std::string::npos) << r.output;
  // Cut before its anchor, a file cannot be told from any other program.
  std::string cut = copy_of("base.run");
  truncate_to(cut, layout_of(cut).anchor_offset + 10);
  r = run_qg({"verify", cut});
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("cut short before it"), std::string::npos) << r.output;
  r = run_qg({"verify", *dir_ / "missing.run"});
  EXPECT_EQ(r.status, 5) << r.output;
}

// --- signatures -----------------------------------------------------------

qgsetup::Digest public_key(const std::string& pem) {
  qgsetup::Digest key{};
  std::string error;
  EXPECT_EQ(qgsetup::read_public_key_pem(pem, &key, &error), 0) << error;
  return key;
}

void write_slot_field(const std::string& path, uint64_t offset, const uint8_t* data, size_t n) {
  std::vector<uint8_t> bytes = rztest::read_file(path);
  std::copy(data, data + n, bytes.begin() + static_cast<long>(offset));
  rztest::write_file(path, bytes);
}

TEST_F(VerifyTest, SignedInstallerShowsItsSignerAndMeetsItsKey) {
  std::string path = copy_of("signed.run");
  std::string fingerprint = qgsetup::key_fingerprint(public_key(*dir_ / "alice.pub.pem"));
  QgResult r = run_qg({"verify", path});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("signed by key  " + fingerprint), std::string::npos) << r.output;
  r = run_qg({"verify", path, "--key", *dir_ / "alice.pub.pem"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("signed by the required key"), std::string::npos) << r.output;
  r = run_qg({"verify", path, "--key", *dir_ / "bob.pub.pem"});
  EXPECT_EQ(r.status, qgsetup::kSetupIntegrity) << r.output;
  EXPECT_NE(r.output.find("signed by another key"), std::string::npos) << r.output;
}

TEST_F(VerifyTest, UnsignedInstallerIsRefusedWhenAKeyIsRequired) {
  QgResult r = run_qg({"verify", copy_of("base.run"), "--key", *dir_ / "alice.pub.pem"});
  EXPECT_EQ(r.status, qgsetup::kSetupIntegrity) << r.output;
  EXPECT_NE(r.output.find("not signed"), std::string::npos) << r.output;
}

// Damage to a signed file that keeps its digests consistent is caught by the
// signature alone.
TEST_F(VerifyTest, SignatureCatchesWhatTheDigestsCannot) {
  const uint64_t slot = qgsetup::kSlotOffset;
  struct Case {
    const char* name;
    std::function<void(const std::string& path, const qgsetup::InstallerLayout& l)> damage;
    bool with_alice_key;  // verify with --key alice.pub.pem
    int status;
    const char* message;
  };
  auto resign_digests = [](const std::string& p, const qgsetup::InstallerLayout& l) {
    // Changes the archive and records the new digests, as someone rewriting
    // the file without the private key would.
    flip_byte(p, l.file_length - 1);
    qgsetup::InstallerDigests d;
    ASSERT_EQ(qgsetup::hash_installer(p, l, nullptr, &d), 0);
    write_slot_field(p, l.setup_data_offset + qgsetup::kSlotOffset + 8, d.file.data(), 32);
    std::vector<uint8_t> bytes = rztest::read_file(p);
    // The archive CRC as well, so that only the signature can tell.
    uint32_t crc = SFXSIG(p.c_str(), static_cast<int32_t>(l.file_length - l.archive_offset));
    uint8_t le[4] = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)};
    write_slot_field(p, l.setup_data_offset + qgsetup::kSlotOffset + 4, le, 4);
  };
  auto bob_signature = [this](const std::string& p, const qgsetup::InstallerLayout& l, bool key) {
    qgsetup::InstallerDigests d;
    ASSERT_EQ(qgsetup::hash_installer(p, l, nullptr, &d), 0);
    qgsetup::Digest bob_key;
    std::array<uint8_t, 64> sig;
    std::string error;
    ASSERT_EQ(qgsetup::sign_digest(*dir_ / "bob.pem", d.file, &bob_key, &sig, &error), 0) << error;
    write_slot_field(p, l.setup_data_offset + qgsetup::kSlotOffset + 136, sig.data(), 64);
    if (key)
      write_slot_field(p, l.setup_data_offset + qgsetup::kSlotOffset + 104, bob_key.data(), 32);
  };
  const Case cases[] = {
      {"changed archive byte", [](auto& p, auto& l) { flip_byte(p, l.archive_offset + 5); }, false,
       11, "the archive part has changed"},
      {"changed byte with digests rewritten", resign_digests, false, 11,
       "the signature does not verify"},
      {"signature replaced by another key's", [&](auto& p, auto& l) { bob_signature(p, l, false); },
       false, 11, "the signature does not verify"},
      {"key and signature replaced: passes alone",
       [&](auto& p, auto& l) { bob_signature(p, l, true); }, false, 0, "signed by key"},
      {"key and signature replaced: refused with the key",
       [&](auto& p, auto& l) { bob_signature(p, l, true); }, true, 11, "signed by another key"},
      {"signature emptied",
       [slot](auto& p, auto& l) {
         std::vector<uint8_t> zeros(64, 0);
         write_slot_field(p, l.setup_data_offset + slot + 136, zeros.data(), 64);
       },
       false, 11, "the signature does not verify"},
      {"signed flag cleared, key and signature left",
       [slot](auto& p, auto& l) {
         uint8_t flags[4] = {qgsetup::kSlotArchiveCrc, 0, 0, 0};
         write_slot_field(p, l.setup_data_offset + slot, flags, 4);
       },
       false, 11, "a signature without the signed flag"},
      {"signature stripped: unsigned, refused with the key",
       [slot](auto& p, auto& l) {
         uint8_t flags[4] = {qgsetup::kSlotArchiveCrc, 0, 0, 0};
         write_slot_field(p, l.setup_data_offset + slot, flags, 4);
         std::vector<uint8_t> zeros(96, 0);
         write_slot_field(p, l.setup_data_offset + slot + 104, zeros.data(), 96);
       },
       true, 11, "not signed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = copy_of("signed.run");
    c.damage(path, layout_of(path));
    std::vector<std::string> args = {"verify", path};
    if (c.with_alice_key) args.insert(args.end(), {"--key", *dir_ / "alice.pub.pem"});
    QgResult r = run_qg(args);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
}

TEST_F(VerifyTest, KeysAreTheOnesOpensslWrites) {
  // qg keygen's pair is what `openssl pkey` reads and writes back.
  std::string cmd = "openssl pkey -in " + rztest::shell_quote(*dir_ / "alice.pem") +
                    " -pubout -out " + rztest::shell_quote(*dir_ / "alice.check.pem");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(rztest::read_file(*dir_ / "alice.check.pem"),
            rztest::read_file(*dir_ / "alice.pub.pem"));
  struct stat st;
  ASSERT_EQ(::stat((*dir_ / "alice.pem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A key made by openssl signs, and its public half verifies.
  cmd = "openssl genpkey -algorithm ed25519 -out " + rztest::shell_quote(*dir_ / "carol.pem") +
        " && openssl pkey -in " + rztest::shell_quote(*dir_ / "carol.pem") + " -pubout -out " +
        rztest::shell_quote(*dir_ / "carol.pub.pem");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::string payload = *dir_ / "payload";
  QgResult r =
      pack(payload, *dir_ / "carol.run", write_script(*dir_), {"--sign", *dir_ / "carol.pem"});
  ASSERT_EQ(r.status, 0) << r.output;
  r = run_qg({"verify", *dir_ / "carol.run", "--key", *dir_ / "carol.pub.pem"});
  EXPECT_EQ(r.status, 0) << r.output;
  // keygen does not replace existing keys.
  r = run_qg({"keygen", "-o", *dir_ / "alice"});
  EXPECT_NE(r.status, 0) << r.output;
}

}  // namespace
