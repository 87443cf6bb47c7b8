// UTF-8 encoding: the bytes of each length class at its edges, pinned as
// bytes rather than derived from the encoder's own arithmetic.
#include <gtest/gtest.h>

#include <string>

#include "lang/utf8.h"

namespace {

std::string encoded(char32_t codePoint) {
    std::string out;
    appendUtf8(out, codePoint);
    return out;
}

TEST(Utf8Encoding, EachLengthClassAtItsEdges) {
    EXPECT_EQ(std::string(1, '\0'), encoded(0x00));
    EXPECT_EQ("A", encoded(0x41));
    EXPECT_EQ("\x7F", encoded(0x7F));
    EXPECT_EQ("\xC2\x80", encoded(0x80));
    EXPECT_EQ("\xC3\xA6", encoded(0xE6));  // æ
    EXPECT_EQ("\xDF\xBF", encoded(0x7FF));
    EXPECT_EQ("\xE0\xA0\x80", encoded(0x800));
    EXPECT_EQ("\xE2\x82\xAC", encoded(0x20AC));  // the euro sign
    EXPECT_EQ("\xEF\xBF\xBF", encoded(0xFFFF));
    EXPECT_EQ("\xF0\x90\x80\x80", encoded(0x10000));
    EXPECT_EQ("\xF4\x8F\xBF\xBF", encoded(0x10FFFF));
}

TEST(Utf8Encoding, NoScalarValueBecomesTheReplacementCharacter) {
    EXPECT_EQ("\xEF\xBF\xBD", encoded(0xD800));
    EXPECT_EQ("\xEF\xBF\xBD", encoded(0xDFFF));
    EXPECT_EQ("\xEF\xBF\xBD", encoded(0x110000));
}

TEST(Utf8Encoding, AppendsBehindWhatIsThere) {
    std::string out = "x";
    appendUtf8(out, 0xF8);  // ø
    appendUtf8(out, 0x2026);
    EXPECT_EQ("x\xC3\xB8\xE2\x80\xA6", out);
}

TEST(Utf8Encoding, Utf16TextWithPairsAndLoneSurrogates) {
    EXPECT_EQ("", utf8FromUtf16(u""));
    EXPECT_EQ("Konfigurationsv\xC3\xA6rkt\xC3\xB8j", utf8FromUtf16(u"Konfigurationsværktøj"));
    EXPECT_EQ("\xF0\x9F\x98\x80!", utf8FromUtf16(u"\U0001F600!"));
    const char16_t lone[] = {0xD83D, u'a', 0xDE00, 0};
    EXPECT_EQ("\xEF\xBF\xBD" "a" "\xEF\xBF\xBD", utf8FromUtf16(lone));
    const char16_t highAtEnd[] = {u'b', 0xDBFF, 0};
    EXPECT_EQ("b\xEF\xBF\xBD", utf8FromUtf16(highAtEnd));
}

}  // namespace
