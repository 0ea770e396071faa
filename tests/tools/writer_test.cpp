// The archive writer's volume layout, checked by an independent reader of
// the stored bytes and zlib.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "qgwriter.h"
#include "temp_dir.h"

namespace {

uint32_t le32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (static_cast<uint32_t>(v[at + 3]) << 24);
}
uint16_t le16(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint16_t>(v[at] | (v[at + 1] << 8));
}

std::vector<uint8_t> inflate_raw(const std::vector<uint8_t>& in, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  EXPECT_EQ(rc, Z_STREAM_END);
  return out;
}

struct ReadBack {
  std::string name;
  bool continued = false;
  std::vector<uint8_t> data;
};

// Follows the entries through the volumes by the format's rules: a header
// lies whole in one volume, data runs on at offset 0 of the next one, and
// the next entry follows directly behind the data where the data ends.
std::vector<ReadBack> read_volumes(const std::vector<std::vector<uint8_t>>& vols, size_t start) {
  std::vector<ReadBack> out;
  size_t v = 0, pos = start;
  while (v < vols.size() && pos + 4 <= vols[v].size()) {
    const auto& f = vols[v];
    uint32_t sig = le32(f, pos);
    if (sig != 0x04034751 && sig != 0x05034751) break;
    ReadBack e;
    e.continued = sig == 0x05034751;
    uint16_t nl = le16(f, pos + 36), dl = le16(f, pos + 38);
    uint32_t packed = le32(f, pos + 18);
    e.name.assign(f.begin() + static_cast<long>(pos + 40),
                  f.begin() + static_cast<long>(pos + 40 + nl));
    pos += 40 + nl + dl;
    while (e.data.size() < packed) {
      size_t take = std::min<size_t>(packed - e.data.size(), vols[v].size() - pos);
      e.data.insert(e.data.end(), vols[v].begin() + static_cast<long>(pos),
                    vols[v].begin() + static_cast<long>(pos + take));
      pos += take;
      if (e.data.size() < packed) {
        EXPECT_TRUE(e.continued) << e.name << " runs on without the continuation signature";
        ++v;
        pos = 0;
        if (v == vols.size()) return out;
      }
    }
    out.push_back(std::move(e));
  }
  return out;
}

TEST(Writer, VolumesSplitOnlyInsideCompressedData) {
  rztest::TempDir dir;
  std::mt19937 rng(42);
  std::vector<qgw::Entry> entries;
  for (size_t size : {3000u, 0u, 10u, 5000u, 1u, 2500u}) {
    qgw::Entry e;
    e.name = "f" + std::to_string(entries.size());
    e.directory = "\\d";
    for (size_t i = 0; i < size; ++i)
      e.data.push_back(static_cast<uint8_t>(rng()));  // incompressible
    entries.push_back(std::move(e));
  }
  for (uint64_t volume_size : {700u, 1024u, 4096u}) {
    for (qgw::End end : {qgw::End::none, qgw::End::zeros}) {
      SCOPED_TRACE(volume_size);
      qgw::Options opt;
      opt.volume_size = volume_size;
      opt.end = end;
      opt.stub.assign(100, 'S');
      qgw::Report report;
      std::string error;
      std::string path = dir / "SETUP.EXE";
      ASSERT_EQ(qgw::write_archive(path, entries, opt, &report, &error), 0) << error;
      EXPECT_EQ(report.first_entry_offset, 100u);
      ASSERT_GT(report.volumes.size(), 1u);
      EXPECT_EQ(report.volumes[1], dir / "SETUP.-02");
      std::vector<std::vector<uint8_t>> vols;
      for (const auto& name : report.volumes) {
        vols.push_back(rztest::read_file(name));
        EXPECT_LE(vols.back().size(), volume_size) << name;
      }
      std::vector<ReadBack> got = read_volumes(vols, 100);
      ASSERT_EQ(got.size(), entries.size());
      for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(got[i].name, entries[i].name);
        EXPECT_EQ(inflate_raw(got[i].data, entries[i].data.size()), entries[i].data) << i;
      }
      for (const auto& name : report.volumes) std::remove(name.c_str());
    }
  }
}

TEST(Writer, RefusesAVolumeSizeThatCannotHoldAHeader) {
  rztest::TempDir dir;
  std::vector<qgw::Entry> entries(2);
  entries[0].name = "a";
  entries[1].name = std::string(200, 'n');
  qgw::Options opt;
  opt.volume_size = 100;
  std::string error;
  EXPECT_NE(qgw::write_archive(dir / "x.qg", entries, opt, nullptr, &error), 0);
  EXPECT_FALSE(error.empty());
}

TEST(Writer, EncryptedEntryStoresTheCheckByteAndTwelveMoreBytes) {
  rztest::TempDir dir;
  std::vector<qgw::Entry> entries(1);
  entries[0].name = "secret.txt";
  entries[0].data.assign(5000, 'z');
  qgw::Options opt;
  opt.password = "pw";
  std::string error;
  ASSERT_EQ(qgw::write_archive(dir / "e.qg", entries, opt, nullptr, &error), 0) << error;
  std::vector<uint8_t> f = rztest::read_file(dir / "e.qg");
  EXPECT_EQ(le16(f, 6) & 0x4000, 0x4000);
  uint32_t packed = le32(f, 18);
  EXPECT_EQ(packed, qgw::deflate_raw(entries[0].data, 6).size() + 12);
  EXPECT_EQ(f.size(), 40 + 10 + packed);
}

TEST(Writer, DosTimeStoresSecondsInFourSecondSteps) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 5;
  t.tm_mday = 17;
  t.tm_hour = 13;
  t.tm_min = 45;
  t.tm_sec = 59;
  t.tm_isdst = -1;
  uint16_t date = 0, time = 0;
  qgw::dos_date_time(std::mktime(&t), &date, &time);
  EXPECT_EQ(date, ((2024 - 1980) << 9) | (6 << 5) | 17);
  EXPECT_EQ(time, (13 << 11) | (45 << 5) | 14);
}

}  // namespace
