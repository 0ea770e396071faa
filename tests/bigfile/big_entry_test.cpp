// Entries whose compressed data reaches 2 GiB and more, up to the format's
// limit of 4 GiB - 1 (the sizes are unsigned 32-bit fields).  The archives
// are sparse files: a DEFLATE block whose Huffman code gives the literal 0
// the all-zero 8-bit code, so that a run of zero bytes in the file decodes
// to as many zero bytes, and the file system stores only the head and the
// tail.  They are decoded test-only, in the plain build (CTest label
// "bigfile", which the sanitizer run skips).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <vector>

#include "raziza3z.h"
#include "temp_dir.h"

namespace {

// DEFLATE's bit order: fields from the least significant bit, Huffman codes
// from their most significant bit.
struct BitWriter {
  std::vector<uint8_t> out;
  uint32_t used = 0;  // bits in the last byte
  void bit(uint32_t b) {
    if (used == 0) out.push_back(0);
    out.back() = static_cast<uint8_t>(out.back() | (b & 1) << used);
    used = (used + 1) % 8;
  }
  void field(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bit(v >> i);
  }
  void code(uint32_t c, int n) {
    for (int i = n - 1; i >= 0; --i) bit(c >> i);
  }
};

// A final dynamic block: literals 0-254 with 8-bit codes (literal 0 is
// 00000000), 255 and end-of-block with 9-bit codes (end is 111111111), one
// distance code.  Returns the header; *offset is the bit position where the
// literals begin within its last byte (0: at the next byte).
std::vector<uint8_t> block_head(uint32_t* offset) {
  BitWriter w;
  w.field(1, 1);   // final block
  w.field(2, 2);   // dynamic Huffman codes
  w.field(0, 5);   // 257 literal/length codes
  w.field(0, 5);   // 1 distance code
  w.field(14, 4);  // 18 code-length code lengths
  // In their stored order 16,17,18,0,8,7,9,6,10,5,11,4,12,3,13,2,14,1:
  // symbols 1, 8, 9 and 16 get 2 bits each, the codes 00, 01, 10, 11.
  const uint32_t lengths[18] = {2, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
  for (uint32_t l : lengths) w.field(l, 3);
  for (int i = 0; i < 255; ++i) w.code(1, 2);  // length 8
  for (int i = 0; i < 2; ++i) w.code(2, 2);    // length 9
  w.code(0, 2);                                // the distance code: length 1
  *offset = w.used;
  return w.out;
}

// The bytes after `zeros` zero bytes: the rest of the last literal, then
// end-of-block.
std::vector<uint8_t> block_tail(uint32_t offset) {
  BitWriter w;
  for (uint32_t i = 0; i < offset; ++i) w.bit(0);
  w.code(0x1FF, 9);
  return w.out;
}

struct BigEntry {
  std::vector<uint8_t> head, tail;
  uint64_t zeros = 0;     // zero bytes between them
  uint64_t literals = 0;  // bytes the stream decodes to
  uint32_t packed() const { return static_cast<uint32_t>(head.size() + zeros + tail.size()); }
};

// A stream of exactly `packed` bytes.
BigEntry big_entry(uint64_t packed) {
  BigEntry e;
  uint32_t offset = 0;
  e.head = block_head(&offset);
  e.tail = block_tail(offset);
  e.zeros = packed - e.head.size() - e.tail.size();
  // Zero bits after the header: the head's last byte above `offset`, the
  // zero bytes, and `offset` bits of the tail; 8 of them make a literal.
  uint64_t bits = (offset ? 8 - offset : 0) + 8 * e.zeros + offset;
  e.literals = bits / 8;
  return e;
}

// CRC-32 of n zero bytes, by doubling.
uint32_t crc_of_zeros(uint64_t n) {
  uint8_t zero = 0;
  uLong one = crc32(0L, &zero, 1);
  uLong result = crc32(0L, Z_NULL, 0);
  uLong power = one;  // CRC of 2^k zeros
  uint64_t length = 1;
  while (n) {
    if (n & 1) result = crc32_combine(result, power, static_cast<z_off_t>(length));
    power = crc32_combine(power, power, static_cast<z_off_t>(length));
    length *= 2;
    n >>= 1;
  }
  return static_cast<uint32_t>(result);
}

void put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Writes the archive sparse: the entry's record and the stream's head, a
// hole of zeros, the tail.
void write_sparse(const std::string& path, const BigEntry& e) {
  std::vector<uint8_t> rec = {'Q', 'G', 3, 4};
  put(rec, 16, 2);    // version needed
  put(rec, 0x20, 2);  // attributes
  put(rec, 2, 2);     // deflate
  put(rec, 0, 2);     // time
  put(rec, 0x21, 2);  // date
  put(rec, crc_of_zeros(e.literals), 4);
  put(rec, e.packed(), 4);
  put(rec, static_cast<uint32_t>(e.literals), 4);
  put(rec, 0, 10);  // reserved
  put(rec, 3, 2);   // name length
  put(rec, 0, 2);   // directory length
  rec.insert(rec.end(), {'b', 'i', 'g'});
  rec.insert(rec.end(), e.head.begin(), e.head.end());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(rec.data()), static_cast<std::streamsize>(rec.size()));
  out.seekp(static_cast<std::streamoff>(rec.size() + e.zeros));
  out.write(reinterpret_cast<const char*>(e.tail.data()),
            static_cast<std::streamsize>(e.tail.size()));
  ASSERT_TRUE(out.good());
}

// The generator itself, checked against zlib on a small size.
TEST(BigEntries, TheZeroLiteralStreamDecodesWithZlib) {
  BigEntry e = big_entry(5000);
  std::vector<uint8_t> stream = e.head;
  stream.resize(stream.size() + e.zeros, 0);
  stream.insert(stream.end(), e.tail.begin(), e.tail.end());
  ASSERT_EQ(stream.size(), 5000u);
  std::vector<uint8_t> out(e.literals + 100, 0xAA);
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = stream.data();
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(z.total_out, e.literals);
  EXPECT_EQ(z.avail_in, 0u);
  inflateEnd(&z);
  out.resize(e.literals);
  EXPECT_EQ(out, std::vector<uint8_t>(e.literals, 0));
  EXPECT_EQ(crc_of_zeros(e.literals),
            static_cast<uint32_t>(crc32(0L, out.data(), static_cast<uInt>(out.size()))));
}

TEST(BigEntries, CompressedSizesFrom2GiBTo4GiBMinus1AreRead) {
  rztest::TempDir dir;
  const uint64_t sizes[] = {5000, (uint64_t{1} << 31) + 4097, 0xFFFFFFFFu};
  for (uint64_t packed : sizes) {
    SCOPED_TRACE(packed);
    BigEntry e = big_entry(packed);
    std::string archive = dir / "big.qg";
    write_sparse(archive, e);
    QEN_RESETDLL();
    UDF1(0, 0);
    char path[256];
    std::snprintf(path, sizeof path, "%s", archive.c_str());
    EntryInfo info;
    ASSERT_EQ(QEN_NEXTLOOP(path, 0, &info), 0);
    EXPECT_EQ(info.header.packed_size, packed);
    char spare[4] = "";
    EXPECT_EQ(QEN_UNPACK("big", spare, path, "", UNPACK_TEST_ONLY | UNPACK_QUIET), 0);
    // The walk goes on behind the entry, past 4 GiB in the file, to the end.
    EXPECT_EQ(QEN_NEXTLOOP(path, 0, &info), 1);
  }
  QEN_RESETDLL();
}

}  // namespace
