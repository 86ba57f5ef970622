// Conversion between the single-byte code pages of the text tables and
// Unicode (UTF-8 inside the program, UTF-16 for component strings).

#pragma once

#include <string>
#include <string_view>

namespace mbus::text {

enum class CodePage {
    Windows1252,  // Western European
    Windows1251,  // Cyrillic
    Windows1250,  // Central European
    Utf8,         // already Unicode: passed through unchanged
};

// Code page of a text-table language column: 0..3, 5, 7 Windows-1252,
// 4 (Russian) Windows-1251, 6 and 8 (Slovenian, Croatian) Windows-1250,
// 9 (the user column) UTF-8.
CodePage CodePageOfLanguage(int language);

// Decodes single-byte text of the given code page. Never fails: every byte
// of the three Windows code pages has a Unicode value.
std::string ToUtf8(std::string_view bytes, CodePage page);
std::u16string ToUtf16(std::string_view bytes, CodePage page);

// Appends the UTF-8 form of `bytes` to `out` (no temporary string).
void AppendUtf8(std::string& out, std::string_view bytes, CodePage page);

// Encodes UTF-8 text into the code page. Characters the code page cannot
// represent (and malformed UTF-8) become '?'; *lossless (when given) tells
// whether that happened.
std::string FromUtf8(std::string_view utf8, CodePage page, bool* lossless = nullptr);
std::string FromUtf16(std::u16string_view utf16, CodePage page, bool* lossless = nullptr);

// Plain UTF-8 <-> UTF-16 (malformed input becomes U+FFFD).
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Longest prefix of `utf8` that has at most `maxBytes` bytes and does not
// end inside a multi-byte character.
std::string_view CutUtf8(std::string_view utf8, std::size_t maxBytes);

// Longest prefix of `utf8` that has at most `maxCharacters` characters (a
// character is a lead byte with its continuation bytes).
std::string_view CutUtf8Characters(std::string_view utf8, std::size_t maxCharacters);

// The most bytes that `maxCharacters` UTF-8 characters can take.
constexpr std::size_t Utf8Capacity(std::size_t maxCharacters) { return maxCharacters * 4; }

}  // namespace mbus::text
