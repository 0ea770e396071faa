// The one rule for 8-bit texts that reach the POSIX layer (paths, names,
// shortcut fields, registry texts, script values): a text that is valid
// UTF-8 is UTF-8, as Linux names and scripts written there are; any other
// text is code page 1252, as scripts written on Windows are.  The rule looks
// at the whole text, never byte by byte, so one text has one meaning.
//
// Every service that turns such a text into another encoding (Unicode
// strings of a shortcut, a desktop entry, a registry store in the Unicode
// export format, a Unicode profile file) goes through these functions.
#pragma once

#include <string>
#include <string_view>

namespace rz::plat {

// True when s is valid UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
bool is_utf8(std::string_view s);

// The text of s as UTF-16 / UTF-8, by the rule above.
std::u16string utf16_of_text(std::string_view s);
std::string utf8_of_text(std::string_view s);

// UTF-16 to UTF-8.  A lone surrogate is kept in the three-byte form, so
// that utf16_of_utf8 gives back the same units.
std::string utf8_of_utf16(std::u16string_view s);
// The inverse of utf8_of_utf16 (which accepts the three-byte surrogates it
// writes); a byte that is no part of a sequence is taken as code page 1252.
std::u16string utf16_of_utf8(std::string_view s);

// UTF-16 to code page 1252, '?' for a character it lacks (as Windows' ANSI
// conversion does).  *exact tells whether every character was there.
std::string cp1252_of_utf16(std::u16string_view s, bool* exact = nullptr);

// UTF-16LE bytes, and back (an odd last byte is dropped: *whole false).
std::string utf16le_bytes(std::u16string_view s);
std::u16string utf16_of_le_bytes(std::string_view bytes, bool* whole = nullptr);

// How a text file is encoded: 8-bit bytes as they are, UTF-8 behind a
// byte-order mark, or UTF-16LE behind its byte-order mark (the two Unicode
// forms that the Windows profile calls and the registry editor read).
enum class FileEncoding { bytes, utf8_bom, utf16le };

// The text of a file's bytes: the mark dropped, UTF-16 turned into UTF-8.
FileEncoding decode_text_file(std::string_view raw, std::string& text);
// The bytes of a file holding text in the given encoding (its mark first).
std::string encode_text_file(std::string_view text, FileEncoding encoding);
// A text going into a file of the given encoding: unchanged for 8-bit
// files, by the rule above for the Unicode ones.
std::string text_for_file(std::string_view s, FileEncoding encoding);

}  // namespace rz::plat
