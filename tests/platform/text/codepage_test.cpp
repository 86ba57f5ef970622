// Code pages of the text tables and UTF-8/UTF-16.

#include <gtest/gtest.h>

#include "platform/text/codepage.h"

namespace mbus::text {
namespace {

TEST(CodePage, KnownCharactersOfEachPage) {
    EXPECT_EQ(ToUtf8("\xC4\xD6\xDC\xDF\xB0\xB5\x80", CodePage::Windows1252), "ÄÖÜß°µ€");
    EXPECT_EQ(ToUtf8("\xC2\xEE\xE4\xE0", CodePage::Windows1251), "Вода");
    EXPECT_EQ(ToUtf8("\xE8\x9A\x9E\xE6\xF0", CodePage::Windows1250), "čšžćđ");
    EXPECT_EQ(ToUtf8("plain", CodePage::Windows1251), "plain");
}

TEST(CodePage, EveryByteRoundTrips) {
    for (CodePage page : {CodePage::Windows1252, CodePage::Windows1251, CodePage::Windows1250}) {
        std::string all;
        for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
        bool lossless = false;
        EXPECT_EQ(FromUtf8(ToUtf8(all, page), page, &lossless), all);
        EXPECT_TRUE(lossless);
        EXPECT_EQ(FromUtf16(ToUtf16(all, page), page), all);
    }
}

TEST(CodePage, UnrepresentableCharactersBecomeQuestionMarks) {
    bool lossless = true;
    EXPECT_EQ(FromUtf8("aЖb", CodePage::Windows1252, &lossless), "a?b");
    EXPECT_FALSE(lossless);
    EXPECT_EQ(FromUtf8("Ж", CodePage::Windows1251, &lossless), "\xC6");
    EXPECT_TRUE(lossless);
}

TEST(CodePage, MalformedUtf8IsReplacedNotPassedOn) {
    bool lossless = true;
    EXPECT_EQ(FromUtf8("a\xC3", CodePage::Windows1252, &lossless), "a?");
    EXPECT_FALSE(lossless);
    EXPECT_EQ(FromUtf8("\xE0\x80\x80", CodePage::Utf8, &lossless), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(CodePage, CutUtf8KeepsWholeCharacters) {
    EXPECT_EQ(CutUtf8("äöü", 3), "ä");
    EXPECT_EQ(CutUtf8("äöü", 4), "äö");
    EXPECT_EQ(CutUtf8("abc", 10), "abc");
    EXPECT_EQ(CutUtf8("a€", 3), "a");
}

TEST(CodePage, CutUtf8CharactersCountsCharactersNotBytes) {
    EXPECT_EQ(CutUtf8Characters("äöü", 2), "äö");
    EXPECT_EQ(CutUtf8Characters("Жук€\xF0\x9F\x98\x80x", 5), "Жук€\xF0\x9F\x98\x80");
    EXPECT_EQ(CutUtf8Characters("abc", 3), "abc");
    EXPECT_EQ(CutUtf8Characters("abc", 0), "");
}

}  // namespace
}  // namespace mbus::text
