// The type-library reader behind REGTLB on POSIX, over small libraries built
// here and damaged one field at a time.
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/posix/shelllink_posix.h"

namespace {

void put32(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4, '\0');
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// Where the pieces of a built library lie, so that a case can damage one.
struct Built {
  std::string bytes;
  size_t directory = 0;  // the segment directory
};

constexpr size_t kGuid = 5, kNames = 7, kStrings = 8;

// A minimal library: header, the optional DLL word, no type infos, the
// segment directory, then the GUID, name and string segments.
Built minimal_library(bool help_dll_word) {
  Built t;
  std::string& b = t.bytes;
  b.assign(0x54, '\0');
  b.replace(0, 4, "MSFT");
  put32(b, 0x04, 0x00010002);
  put32(b, 0x08, 0);                                // LIBID at offset 0 of the GUID table
  put32(b, 0x0C, 0x409);                            // lcid
  put32(b, 0x14, 1 | (help_dll_word ? 0x100 : 0));  // win32
  put32(b, 0x18, 0x000A0002);                       // version 2.10
  put32(b, 0x1C, 0x8);                              // library flags
  put32(b, 0x20, 0);                                // type infos
  put32(b, 0x24, 0);                                // help string at offset 0 of the string table
  put32(b, 0x38, 0);                                // name at offset 0 of the name table
  if (help_dll_word) b.append(4, '\0');
  t.directory = b.size();
  b.append(15 * 16, '\0');
  for (size_t i = 0; i < 15; ++i) {
    put32(b, t.directory + 16 * i, 0xffffffffu);
    put32(b, t.directory + 16 * i + 8, 0xffffffffu);
    put32(b, t.directory + 16 * i + 12, 0x0f);
  }
  auto segment = [&](size_t index, const std::string& data) {
    put32(b, t.directory + 16 * index, static_cast<uint32_t>(b.size()));
    put32(b, t.directory + 16 * index + 4, static_cast<uint32_t>(data.size()));
    b += data;
  };
  segment(kGuid,
          std::string("\x7e\x1c\x2a\x5b\xbc\x9a\xf0\x4e\x82\x34\x56\x78\x9a\xbc\xde\xf0", 16) +
              std::string(8, '\xff'));
  std::string name(12, '\0');
  name[8] = 7;
  segment(kNames, name + "DemoLib");
  segment(kStrings, std::string("\x11\x00", 2) + "Demo type library");
  return t;
}

TEST(TypeLibReader, ReadsAMinimalLibrary) {
  for (bool dll_word : {false, true}) {
    rz::plat::TypeLibInfo info;
    ASSERT_EQ(rz::plat::read_type_library(minimal_library(dll_word).bytes, info), 0);
    EXPECT_EQ(info.lcid, 0x409u);
    EXPECT_EQ(info.syskind, 1u);
    EXPECT_EQ(info.major, 2);
    EXPECT_EQ(info.minor, 10);
    EXPECT_EQ(info.flags, 8u);
    EXPECT_EQ(info.help_string, "Demo type library");
    EXPECT_EQ(info.name, "DemoLib");
    EXPECT_EQ(info.libid[0], 0x7e);
  }
}

// Each case damages one field; every one must be refused without a read
// past the buffer (the sanitizer build checks that part).
TEST(TypeLibReader, RefusesEveryOffsetOutsideTheFile) {
  const Built good = minimal_library(false);
  const size_t dir = good.directory;
  auto seg = [&](size_t index) { return dir + 16 * index; };
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases;
  // A header with the DLL-word flag but 84 to 87 bytes in all: the DLL word
  // and the segment directory lie beyond the end.
  for (size_t size = 0x54; size < 0x58; ++size) {
    std::string b = good.bytes.substr(0, size);
    put32(b, 0x14, 0x101);
    cases.push_back({"help DLL word past the end", b});
  }
  auto damaged = [&](const char* what, size_t at, uint32_t value) {
    std::string b = good.bytes;
    put32(b, at, value);
    cases.push_back({what, b});
  };
  damaged("type infos beyond the file", 0x20, 0x1000);
  damaged("type infos whose size wraps in 32 bits", 0x20, 0x40000000);
  damaged("type infos all ones", 0x20, 0xffffffffu);
  damaged("LIBID beyond its segment", 0x08, 16);
  damaged("LIBID offset all ones", 0x08, 0xfffffff8u);
  damaged("GUID segment past the end", seg(kGuid), static_cast<uint32_t>(good.bytes.size() - 8));
  damaged("GUID segment offset that wraps", seg(kGuid), 0xfffffff0u);
  damaged("GUID segment length that wraps", seg(kGuid) + 4, 0xfffffff0u);
  damaged("help string beyond its segment", 0x24, 0x100);
  damaged("help string offset near the top", 0x24, 0xfffffffeu);
  damaged("name beyond its segment", 0x38, 0x10);
  damaged("name offset near the top", 0x38, 0xfffffff4u);
  damaged("string segment offset that wraps", seg(kStrings), 0xffffff00u);
  damaged("name segment cut to its header", seg(kNames) + 4, 11);
  {
    std::string b = good.bytes;
    b[b.size() - 17 - 2] = '\x40';  // help string length 0x40 in a 0x13-byte segment
    cases.push_back({"help string longer than its segment", b});
  }
  {
    std::string b = good.bytes.substr(0, good.bytes.size() - 1);
    cases.push_back({"file cut by one byte", b});
  }
  {
    std::string b = good.bytes;
    b.resize(dir + 15 * 16 - 1);
    cases.push_back({"segment directory cut", b});
  }
  for (const Case& c : cases) {
    rz::plat::TypeLibInfo info;
    EXPECT_EQ(static_cast<uint32_t>(rz::plat::read_type_library(c.bytes, info)), 0x80029C4Au)
        << c.what;
  }
}

}  // namespace

#endif  // !_WIN32
