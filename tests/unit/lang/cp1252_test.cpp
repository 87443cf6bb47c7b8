// Code page 1252 to UTF-16, as the texts reach the W functions.
#include <gtest/gtest.h>

#include <string>

#include "lang/cp1252.h"

namespace {

TEST(Cp1252, TableTextsBecomeTheirUtf16) {
    char16_t out[64];
    EXPECT_EQ(28u, cp1252ToUtf16("ELQ770 Konfigurationsv\xE6rkt\xF8j", out, 64));
    EXPECT_EQ(std::u16string(u"ELQ770 Konfigurationsværktøj"), std::u16string(out));
    cp1252ToUtf16("\x80\x8A\x9F\xDF", out, 64);
    EXPECT_EQ(std::u16string(u"\u20AC\u0160\u0178\u00DF"), std::u16string(out));
    EXPECT_EQ(0x81, cp1252ToUtf16Unit(0x81));
}

TEST(Cp1252, LongTextIsCutInsideTheBuffer) {
    char16_t out[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(3u, cp1252ToUtf16("\xDC" "berlang", out, 4));
    EXPECT_EQ(std::u16string(u"Übe"), std::u16string(out));
}

}  // namespace
