// The conversion between the UTF-16 of the command line and file names and
// the UTF-8 the tool and the core work in: exact both ways, and malformed
// input refused rather than altered.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "params/utf8_win32.h"

namespace {

const std::string LODZ_UTF8 = "\xC5\x81\xC3\xB3" "d\xC5\xBA";  // a folder name outside code page 1252
const std::wstring LODZ_WIDE = L"\u0141\u00F3d\u017A";
const std::string CLEF_UTF8 = "\xF0\x9D\x84\x9E";  // U+1D11E, a surrogate pair in UTF-16
const std::wstring CLEF_WIDE = L"\xD834\xDD1E";

}  // namespace

TEST(Utf8Conversion, CarriesNamesOutsideTheAnsiCodePageBothWays) {
    std::wstring wide;
    ASSERT_TRUE(utf8ToWide("C:\\" + LODZ_UTF8 + "\\" + CLEF_UTF8 + ".770", &wide));
    EXPECT_EQ(wide, L"C:\\" + LODZ_WIDE + L"\\" + CLEF_WIDE + L".770");
    std::string narrow;
    ASSERT_TRUE(wideToUtf8(wide, &narrow));
    EXPECT_EQ(narrow, "C:\\" + LODZ_UTF8 + "\\" + CLEF_UTF8 + ".770");
    EXPECT_TRUE(utf8ToWide("", &wide));
    EXPECT_TRUE(wide.empty());
    EXPECT_TRUE(wideToUtf8(L"", &narrow));
    EXPECT_TRUE(narrow.empty());
}

TEST(Utf8Conversion, RefusesMalformedUtf8) {
    const std::string malformed[] = {
        "\xC5",              // a sequence cut short at the end
        "a\xC5" "b",         // and in the middle
        "\xFF",              // a byte that never occurs
        "\x81",              // a continuation byte alone
        LODZ_UTF8 + "\xE2\x82",  // valid text with a cut-off sequence behind it
    };
    for (const std::string& text : malformed) {
        std::wstring wide = L"left over";
        EXPECT_FALSE(utf8ToWide(text, &wide)) << testing::PrintToString(text);
        EXPECT_TRUE(wide.empty()) << testing::PrintToString(text);
    }
}

TEST(Utf8Conversion, RefusesUnpairedSurrogates) {
    const std::wstring malformed[] = {
        L"a\xD800" L"b",          // a high surrogate without its low half
        L"\xDC00",                // a low surrogate alone
        LODZ_WIDE + L"\xD834",    // a pair cut off at the end
    };
    for (const std::wstring& text : malformed) {
        std::string narrow = "left over";
        EXPECT_FALSE(wideToUtf8(text, &narrow)) << text.size();
        EXPECT_TRUE(narrow.empty());
    }
}

#endif  // _WIN32
