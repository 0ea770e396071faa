// Hostile archives: writer-made archives damaged at random (deterministic
// seeds), walked and extracted.  Under the sanitizers this catches any read
// or write out of bounds; here it also checks that every result is one of
// the documented codes and that nothing lands outside the destination.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "qgwriter.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::set<int32_t> kNextLoopCodes = {0, 1, 2, 8, 21, 24, 25};
const std::set<int32_t> kUnpackCodes = {0,  -1, -2, -22, -30, 6,  7,  8,  15, 20, 21,
                                        28, 31, 32, 34,  36,  37, 38, 39, 50, 52, 53};

std::vector<uint8_t> base_archive(const std::string& path, bool encrypted) {
  std::vector<qgw::Entry> entries(3);
  entries[0].name = "a.txt";
  entries[0].data.assign(3000, 'a');
  entries[1].name = "b.bin";
  entries[1].directory = "\\sub";
  for (int i = 0; i < 2000; ++i) entries[1].data.push_back(static_cast<uint8_t>(i * 7 + i / 13));
  entries[2].name = "c";
  qgw::Options opt;
  opt.seed = 5;
  opt.end = qgw::End::zeros;
  if (encrypted) opt.password = "pw";
  std::string error;
  EXPECT_EQ(qgw::write_archive(path, entries, opt, nullptr, &error), 0) << error;
  return rztest::read_file(path);
}

void mutate(std::vector<uint8_t>& bytes, std::mt19937& rng) {
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < edits && !bytes.empty(); ++i) {
    size_t at = rng() % bytes.size();
    switch (rng() % 5) {
      case 0:
        bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        bytes[at] = static_cast<uint8_t>(rng());
        break;
      case 2:
        bytes.resize(at);
        break;
      case 3:  // a length or size field made large
        if (at + 2 <= bytes.size()) bytes[at] = bytes[at + 1] = 0xFF;
        break;
      default:  // a run of bytes from elsewhere
        bytes.insert(bytes.begin() + static_cast<long>(at), bytes.begin(),
                     bytes.begin() + static_cast<long>(std::min<size_t>(at, 1 + rng() % 40)));
    }
  }
}

TEST(HostileArchives, RandomDamageEndsInDocumentedCodes) {
  rztest::TempDir dir;
  std::mt19937 rng(20261209);
  rz_host_set_message_box(nullptr, nullptr);  // prompts take their defaults
  QEN_DECRYPTKEY("pw");
  for (bool encrypted : {false, true}) {
    std::vector<uint8_t> base = base_archive(dir / "base.qg", encrypted);
    for (int round = 0; round < 600; ++round) {
      std::vector<uint8_t> bytes = base;
      mutate(bytes, rng);
      std::string archive = dir / "m.qg";
      rztest::write_file(archive, bytes);
      std::string dest = dir / "out";
      fs::create_directories(dest);
      QEN_RESETDLL();
      char path[256];
      std::snprintf(path, sizeof path, "%s", archive.c_str());
      EntryInfo info;
      for (int step = 0; step < 10; ++step) {
        int32_t r = QEN_NEXTLOOP(path, 0, &info);
        ASSERT_TRUE(kNextLoopCodes.count(r)) << "round " << round << ": " << r;
        if (r != 0) break;
        char spare[4] = "";
        uint32_t opts = UNPACK_USE_DIRECTORY | UNPACK_QUIET | UNPACK_OVERWRITE;
        r = QEN_UNPACK("x", spare, path, dest.c_str(), opts | (step % 2 ? UNPACK_TEST_ONLY : 0));
        ASSERT_TRUE(kUnpackCodes.count(r)) << "round " << round << ": " << r;
      }
      // Nothing but the destination folder (and the archive) in the work folder.
      for (auto& e : fs::directory_iterator(dir.path())) {
        std::string name = e.path().filename().string();
        ASSERT_TRUE(name == "out" || name == "m.qg" || name == "base.qg")
            << "[" << name << "] " << name.size();
      }
      fs::remove_all(dest);
    }
  }
  QEN_RESETDLL();
  QEN_DECRYPTKEY("");
}

}  // namespace
