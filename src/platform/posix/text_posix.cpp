#include "platform/posix/text_posix.h"

#include <cstdint>

namespace rz::plat {

namespace {

// Code page 1252's bytes 0x80-0x9F.  The five it leaves undefined map to the
// control character of the same number, as Windows maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t cp1252_unit(unsigned char b) {
  return b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
}

// Decodes one sequence at s[i]: its length, or 0 when the bytes there are no
// valid sequence.  surrogates admits U+D800-U+DFFF in the three-byte form.
size_t utf8_at(std::string_view s, size_t i, uint32_t& cp, bool surrogates) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  unsigned char c = b(0);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || n > s.size() - i) return 0;
  cp = n == 1 ? c : n == 2 ? (c & 0x1fu) : n == 3 ? (c & 0x0fu) : (c & 0x07u);
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3fu);
  }
  static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[n] || cp > 0x10ffff) return 0;
  if (!surrogates && cp >= 0xd800 && cp <= 0xdfff) return 0;
  return n;
}

void put_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  } else {
    out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  }
}

void put_utf16(std::u16string& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xd800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xdc00 + (cp & 0x3ff)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

std::u16string utf16_of_cp1252(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char c : s) out.push_back(cp1252_unit(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool is_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t n = utf8_at(s, i, cp, false);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::u16string utf16_of_text(std::string_view s) {
  return is_utf8(s) ? utf16_of_utf8(s) : utf16_of_cp1252(s);
}

std::string utf8_of_text(std::string_view s) {
  return is_utf8(s) ? std::string(s) : utf8_of_utf16(utf16_of_cp1252(s));
}

std::string utf8_of_utf16(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xd800 && cp < 0xdc00 && i + 1 < s.size() && s[i + 1] >= 0xdc00 &&
        s[i + 1] < 0xe000) {
      cp = 0x10000 + ((cp - 0xd800) << 10) + (s[i + 1] - 0xdc00u);
      ++i;
    }
    put_utf8(out, cp);
  }
  return out;
}

std::u16string utf16_of_utf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t n = utf8_at(s, i, cp, true);
    if (n == 0) {
      out.push_back(cp1252_unit(static_cast<unsigned char>(s[i])));
      ++i;
      continue;
    }
    put_utf16(out, cp);
    i += n;
  }
  return out;
}

std::string cp1252_of_utf16(std::u16string_view s, bool* exact) {
  std::string out;
  bool all = true;
  for (char16_t u : s) {
    char c = '?';
    if (u < 0x80 || (u >= 0xa0 && u <= 0xff)) {
      c = static_cast<char>(u);
    } else {
      bool found = false;
      for (unsigned k = 0; k < 32 && !found; ++k) {
        if (kCp1252High[k] != u) continue;
        c = static_cast<char>(0x80 + k);
        found = true;
      }
      all = all && found;
    }
    out.push_back(c);
  }
  if (exact) *exact = all;
  return out;
}

std::string utf16le_bytes(std::u16string_view s) {
  std::string out;
  out.reserve(2 * s.size());
  for (char16_t u : s) {
    out.push_back(static_cast<char>(u & 0xff));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

std::u16string utf16_of_le_bytes(std::string_view bytes, bool* whole) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        static_cast<unsigned char>(bytes[i + 1]) << 8));
  if (whole) *whole = bytes.size() % 2 == 0;
  return out;
}

FileEncoding decode_text_file(std::string_view raw, std::string& text) {
  if (raw.substr(0, 2) == "\xFF\xFE") {
    text = utf8_of_utf16(utf16_of_le_bytes(raw.substr(2)));
    return FileEncoding::utf16le;
  }
  if (raw.substr(0, 3) == "\xEF\xBB\xBF") {
    text.assign(raw.substr(3));
    return FileEncoding::utf8_bom;
  }
  text.assign(raw);
  return FileEncoding::bytes;
}

std::string encode_text_file(std::string_view text, FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::utf16le:
      return "\xFF\xFE" + utf16le_bytes(utf16_of_utf8(text));
    case FileEncoding::utf8_bom:
      return "\xEF\xBB\xBF" + std::string(text);
    default:
      return std::string(text);
  }
}

std::string text_for_file(std::string_view s, FileEncoding encoding) {
  return encoding == FileEncoding::bytes ? std::string(s) : utf8_of_text(s);
}

}  // namespace rz::plat
