// CRC-32 methods, RunningCrc, SFXSIG and the entry decryption keys.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#if defined(_WIN32)
#include <direct.h>

#include <filesystem>
#endif

#include <cstdio>
#include <string>

#include "archive/decrypt.h"
#include "codec/crc32.h"
#include "codec_test_util.h"
#include "platform/file.h"
#include "raziza3z.h"

namespace rz::test {
namespace {

TEST(Crc, TableAndKnownValues) {
  EXPECT_EQ(kCrcTable[0], 0u);
  EXPECT_EQ(kCrcTable[1], 0x77073096u);
  EXPECT_EQ(kCrcTable[255], 0x2D02EF8Du);
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(crc_update(0xFFFFFFFFu, abc, 3), 0xCADBBE3Du);
  const std::string nine = "123456789";
  EXPECT_EQ(~crc_update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(nine.data()), 9),
            0xCBF43926u);
  EXPECT_EQ(crc_update(0x12345678u, abc, 0), 0x12345678u);
}

// Every method must equal the byte-at-a-time table step for any length,
// alignment and starting register, including lengths around the 16-, 64- and
// 256-byte steps of the folding methods; copying must copy exactly the span.
TEST(Crc, AllMethodsAgreeWithTheTableStep) {
  Bytes data = random_bytes(4096 + 64, 7);
  const size_t lengths[] = {0,   1,   7,   8,   15,  16,  17,  63,  64,  65,   79,   80,
                            127, 128, 129, 255, 256, 257, 271, 511, 512, 1000, 4095, 4096};
  const CrcMethod methods[] = {CrcMethod::sliced, CrcMethod::clmul128, CrcMethod::clmul512};
  for (CrcMethod method : methods) {
    if (!crc_method_available(method)) {
      std::printf("CRC method %d not available on this CPU\n", static_cast<int>(method));
      continue;
    }
    for (size_t off = 0; off < 16; ++off) {
      for (size_t n : lengths) {
        const uint8_t* p = data.data() + off;
        for (uint32_t start : {0xFFFFFFFFu, 0u, 0x9E3779B9u}) {
          uint32_t want = crc_update_bytewise(start, p, n);
          ASSERT_EQ(crc_copy_with(method, start, nullptr, p, n), want) << off << " " << n;
          Bytes copy(n + 1, 0xEE);
          ASSERT_EQ(crc_copy_with(method, start, copy.data(), p, n), want) << off << " " << n;
          ASSERT_TRUE(std::equal(p, p + n, copy.begin()));
          ASSERT_EQ(copy[n], 0xEE) << "copied past the span";
        }
      }
    }
  }
  // And what the dispatcher picks.
  for (size_t n : lengths) {
    uint32_t want = crc_update_bytewise(0xFFFFFFFFu, data.data(), n);
    EXPECT_EQ(crc_update_sliced(0xFFFFFFFFu, data.data(), n), want);
    EXPECT_EQ(crc_update(0xFFFFFFFFu, data.data(), n), want);
    Bytes copy(n);
    EXPECT_EQ(crc_copy(0xFFFFFFFFu, copy.data(), data.data(), n), want);
  }
}

TEST(Crc, MatchesZlibOnLargeInput) {
  Bytes data = random_bytes(3 * 1024 * 1024 + 5, 11);
  EXPECT_EQ(~crc_update(0xFFFFFFFFu, data.data(), data.size()), zlib_crc(data));
  // Split anywhere, the running register gives the same result.
  running_crc_reset();
  running_crc_add(data.data(), 1000003);
  running_crc_add(data.data() + 1000003, data.size() - 1000003);
  EXPECT_EQ(~running_crc_value(), zlib_crc(data));
}

TEST(Crc, RunningRegister) {
  running_crc_set(0);
  EXPECT_EQ(running_crc_value(), 0u);
  running_crc_reset();
  EXPECT_EQ(running_crc_value(), 0xFFFFFFFFu);
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(running_crc_add(abc, 1), crc_step(0xFFFFFFFFu, 'a'));
  uint8_t dst[2];
  EXPECT_EQ(running_crc_add_copy(dst, abc + 1, 2), 0xCADBBE3Du);
  EXPECT_EQ(dst[0], 'b');
  EXPECT_EQ(running_crc_value(), 0xCADBBE3Du);
}

// A scratch directory of the test's own.
class TempDir {
 public:
  TempDir() {
#if defined(_WIN32)
    std::string t = (std::filesystem::temp_directory_path() / "rz_codec_XXXXXX").string();
    if (_mktemp_s(t.data(), t.size() + 1) == 0 && _mkdir(t.c_str()) == 0) path_ = t;
#else
    char tmpl[] = "/tmp/rz_codec_XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (d) path_ = d;
#endif
  }
  ~TempDir() {
    for (const auto& f : files_) std::remove(f.c_str());
    if (!path_.empty()) rmdir(path_.c_str());
  }
  std::string write(const std::string& name, const Bytes& data) {
    std::string p = path_ + "/" + name;
    FILE* f = std::fopen(p.c_str(), "wb");
    if (f) {
      if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
      std::fclose(f);
    }
    files_.push_back(p);
    return p;
  }
  const std::string& path() const {
    return path_;
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

TEST(Sfxsig, Tails) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  Bytes xyzabc = {'x', 'y', 'z', 'a', 'b', 'c'};
  Bytes big = random_bytes(5000, 3);  // more than two 2048-byte reads
  std::string small = dir.write("small.bin", xyzabc);
  std::string large = dir.write("large.bin", big);
  std::string empty = dir.write("empty.bin", {});
  auto tail_crc = [](const Bytes& b, size_t n) {
    return crc_update(0xFFFFFFFFu, b.data() + b.size() - n, n);
  };
  struct Case {
    const char* name;
    const std::string* path;
    int32_t tail;
    uint32_t want;
  } cases[] = {
      {"abc tail", &small, 3, 0xCADBBE3Du},
      {"zero tail", &small, 0, 0xFFFFFFFFu},
      {"whole file", &small, 6, ~zlib_crc(xyzabc)},
      {"longer than file", &small, 7, 0xFFFFFFFFu},
      {"negative", &small, -5, 0xFFFFFFFFu},
      {"several reads", &large, 4500, tail_crc(big, 4500)},
      {"whole large", &large, 5000, ~zlib_crc(big)},
      {"empty file", &empty, 0, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    running_crc_set(0x5555);
    uint32_t got = SFXSIG(c.path->c_str(), c.tail);
    EXPECT_EQ(got, c.want) << c.name;
    EXPECT_EQ(running_crc_value(), got) << c.name << ": the register holds the result";
  }
}

TEST(Sfxsig, MissingFileGivesZeroAndKeepsTheRegister) {
  TempDir dir;
  running_crc_set(0x1234);
  EXPECT_EQ(SFXSIG((dir.path() + "/nothing.bin").c_str(), 3), 0u);
  EXPECT_EQ(running_crc_value(), 0x1234u);
}

TEST(Sfxsig, NoBufferGivesZeroAndKeepsTheRegister) {
  TempDir dir;
  std::string p = dir.write("f.bin", {'a', 'b', 'c'});
  running_crc_set(0x4321);
  FailingAllocator::install(1);
  uint32_t got = SFXSIG(p.c_str(), 3);
  int outstanding = FailingAllocator::outstanding();
  FailingAllocator::remove();
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(running_crc_value(), 0x4321u);
  EXPECT_EQ(outstanding, 0);
}

// A file table whose Nth read fails with -1; the rest pass through.
struct FailingReads {
  static int fail_at;
  static int reads;
  static int closes;
  static int32_t read(plat::FileHandle f, void* b, uint32_t n) {
    if (++reads == fail_at) return -1;
    return plat::native_file_ops().read(f, b, n);
  }
  static int close(plat::FileHandle f) {
    ++closes;
    return plat::native_file_ops().close(f);
  }
};
int FailingReads::fail_at = 0;
int FailingReads::reads = 0;
int FailingReads::closes = 0;

TEST(Sfxsig, StopsAtTheFirstFailedRead) {
  TempDir dir;
  Bytes big = random_bytes(5000, 9);
  std::string p = dir.write("big.bin", big);
  plat::FileOps ops = plat::native_file_ops();
  ops.read = FailingReads::read;
  ops.close = FailingReads::close;
  for (int fail_at = 1; fail_at <= 3; ++fail_at) {
    FailingReads::fail_at = fail_at;
    FailingReads::reads = 0;
    FailingReads::closes = 0;
    plat::set_file_ops(&ops);
    uint32_t got = SFXSIG(p.c_str(), 5000);
    plat::set_file_ops(nullptr);
    // Reads before the failing one delivered 2048 bytes each.
    size_t good = static_cast<size_t>(fail_at - 1) * 2048;
    EXPECT_EQ(got, crc_update(0xFFFFFFFFu, big.data(), good)) << fail_at;
    EXPECT_EQ(FailingReads::reads, fail_at) << "no read after the failure";
    EXPECT_EQ(FailingReads::closes, 1) << "the file is closed";
  }
}

// Keys: known answers computed independently from the published scheme.
TEST(Decrypt, KnownKeysAndCiphertext) {
  keys_init("");
  CipherKeys k = keys_get();
  EXPECT_EQ(k.key0, 0x12345678u);
  EXPECT_EQ(k.key1, 0x23456789u);
  EXPECT_EQ(k.key2, 0x34567890u);

  keys_init("secret");
  k = keys_get();
  EXPECT_EQ(k.key0, 0xdda9e469u);
  EXPECT_EQ(k.key1, 0x96212999u);
  EXPECT_EQ(k.key2, 0xf9fc9651u);

  const Bytes cipher = {0x80, 0x75, 0xf6, 0x32, 0x20, 0x4d, 0xe8, 0xb4, 0x9e, 0x05, 0xf2, 0xc9};
  Bytes plain;
  for (uint8_t c : cipher) {
    uint8_t before = keystream_byte();
    EXPECT_EQ(keystream_byte(), before) << "keystream_byte must not advance the keys";
    uint8_t p = static_cast<uint8_t>(c ^ before);
    keys_update(p);
    plain.push_back(p);
  }
  EXPECT_EQ(std::string(plain.begin(), plain.end()), "Hello, keys!");
  k = keys_get();
  EXPECT_EQ(k.key0, 0x0349a0e3u);
  EXPECT_EQ(k.key1, 0x1c9cfb16u);
  EXPECT_EQ(k.key2, 0x121da739u);
}

TEST(Decrypt, HighCharactersCountByTheirLowEightBits) {
  keys_init("\xC1\xFF");
  CipherKeys k = keys_get();
  EXPECT_EQ(k.key0, 0x9a0d1c89u);
  EXPECT_EQ(k.key1, 0x75626b62u);
  EXPECT_EQ(k.key2, 0x297a41ceu);
}

TEST(Decrypt, SpanHelpersMatchBytewiseAndRoundTrip) {
  Bytes data = random_bytes(1000, 5);
  keys_init("pw");
  Bytes cipher = data;
  encrypt_span(cipher.data(), cipher.size());
  EXPECT_NE(cipher, data);
  keys_init("pw");
  Bytes one_by_one;
  for (uint8_t c : cipher) {
    uint8_t p = static_cast<uint8_t>(c ^ keystream_byte());
    keys_update(p);
    one_by_one.push_back(p);
  }
  CipherKeys after_bytes = keys_get();
  keys_init("pw");
  Bytes span = cipher;
  decrypt_span(span.data(), span.size());
  EXPECT_EQ(span, data);
  EXPECT_EQ(one_by_one, data);
  CipherKeys after_span = keys_get();
  EXPECT_EQ(after_span.key0, after_bytes.key0);
  EXPECT_EQ(after_span.key1, after_bytes.key1);
  EXPECT_EQ(after_span.key2, after_bytes.key2);
  // Another password gives other plain bytes.
  keys_init("pW");
  span = cipher;
  decrypt_span(span.data(), span.size());
  EXPECT_NE(span, data);
}

}  // namespace
}  // namespace rz::test
