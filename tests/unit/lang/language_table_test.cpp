#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

#include "lang/language_table.h"
#include "tests/unit/lang/language_guard.h"

namespace {

constexpr int OFFSETS[] = {0, 100, 200};

std::string slotText(int slot) {
    return std::string(languageTable.slots[slot]);
}

bool englishIndexIsUsed(int index) {
    // 36 to 39 and 72: the "Other port..." dialog's.
    return (index >= 0 && index <= 39) || (index >= 50 && index <= 62) || index == 70 ||
           index == 71 || index == 72 || (index >= 80 && index <= 98);
}

struct Expected {
    int index;
    const char* bytes;
};

// Written as octal escapes, independently of the table's own hex escapes:
// \334 U-umlaut, \366 o-umlaut, \346 ae, \370 o-slash, \345 a-ring.
constexpr Expected GERMAN_QUOTED[] = {
    {0, "\334ber"},
    {1, "Ja  "},
    {2, "Nein"},
    {3, "Aus"},
    {4, "Ein"},
    {34, "ELQ770 Konfiguration"},
    {51, "Strombereich: "},
    {57, "Aktive Grenze: "},
    {59, "Grenzwert   : "},
    {80, "Einrichten des Vorgangs nicht m\366glich!"},
    {85, "Schnittstelle besetzt oder nicht vorhanden"},
    {92, "ELQ770 nicht gefunden"},
};

constexpr Expected DANISH_QUOTED[] = {
    {0, "Omkring"},
    {1, "Ja  "},
    {2, "Nej "},
    {3, "Off"},
    {4, "On"},
    {34, "ELQ770 Konfigurationsv\346rkt\370j"},
    {51, "Str\370momr\345de: "},
    {57, "Aktive gr\346nse: "},
    {59, "Gr\346nsev\346rdi: "},
    {80, "Oprettelse af Event fejlet!"},
    {85, "CommPort optaget eller ikke-eksisterende"},
    {92, "ELQ770 ikke fundet p\345 nogen COM-port!"},
};

// English entries whose exact bytes are easy to get wrong: trailing blanks,
// the odd spelling of the originals, the line feeds.
constexpr Expected ENGLISH_EXACT[] = {
    {1, "Yes "},
    {2, "No  "},
    {27, "Measmnt. [%]:"},
    {34, "ELQ770 Configuration tool"},
    {50, "Auto ShutDn: "},
    {57, "Active Limit: "},
    {70, "Unit not connected. Parameters can not be send.\012Continue?"},
    {82, "Timeout on confirmation of parameters.\012Please check!"},
    {85, "Comm Port occupied or non-existing"},
    {98, "Error Writing file to disc"},
};

}  // namespace

TEST(LanguageTableLayout, EverySlotIsTerminatedAndZeroBehindTheNul) {
    for (int slot = 0; slot < LANGUAGE_SLOTS; ++slot) {
        const char* bytes = languageTable.slots[slot];
        const void* nul = std::memchr(bytes, '\0', LANGUAGE_TEXT_SIZE);
        ASSERT_NE(nullptr, nul) << "slot " << slot;
        int length = static_cast<const char*>(nul) - bytes;
        for (int i = length; i < LANGUAGE_TEXT_SIZE; ++i)
            EXPECT_EQ(0, bytes[i]) << "slot " << slot << " byte " << i;
    }
}

TEST(LanguageTableLayout, EnglishFillsExactlyTheUsedIndexes) {
    for (int index = 0; index < LANGUAGE_BLOCK; ++index)
        EXPECT_EQ(englishIndexIsUsed(index), !slotText(index).empty()) << "index " << index;
}

TEST(LanguageTableLayout, TranslationsFillTheSameIndexesAsEnglish) {
    for (int offset : {100, 200})
        for (int index = 0; index < LANGUAGE_BLOCK; ++index)
            EXPECT_EQ(slotText(index).empty(), slotText(offset + index).empty())
                << "slot " << offset + index;
}

TEST(LanguageTableLayout, TextsAreSingleByteCodePage1252) {
    // 0xC3 is the lead byte of UTF-8 encoded umlauts; no translation uses it.
    for (int slot = 0; slot < LANGUAGE_SLOTS; ++slot)
        for (unsigned char byte : slotText(slot)) {
            EXPECT_NE(0xC3, byte) << "UTF-8 in slot " << slot;
            EXPECT_TRUE(byte >= 0x20 || byte == '\n') << "control byte in slot " << slot;
        }
}

TEST(LanguageTableTexts, EnglishEntriesAreExact) {
    for (const Expected& entry : ENGLISH_EXACT)
        EXPECT_EQ(std::string(entry.bytes), slotText(entry.index)) << "index " << entry.index;
}

TEST(LanguageTableTexts, GermanQuotedEntriesAreExact) {
    for (const Expected& entry : GERMAN_QUOTED)
        EXPECT_EQ(std::string(entry.bytes), slotText(100 + entry.index))
            << "index " << entry.index;
}

TEST(LanguageTableTexts, DanishQuotedEntriesAreExact) {
    for (const Expected& entry : DANISH_QUOTED)
        EXPECT_EQ(std::string(entry.bytes), slotText(200 + entry.index))
            << "index " << entry.index;
}

TEST(LanguageTableTexts, YesAndNoArePaddedToFourCharacters) {
    for (int offset : OFFSETS) {
        EXPECT_EQ(4u, slotText(offset + 1).size()) << "offset " << offset;
        EXPECT_EQ(4u, slotText(offset + 2).size()) << "offset " << offset;
    }
}

TEST(LanguageTableTexts, LineBreaksAreSingleLineFeedBytes) {
    for (int offset : OFFSETS)
        for (int index : {70, 82, 84, 91}) {
            std::string text = slotText(offset + index);
            EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << "slot " << offset + index;
            EXPECT_EQ(std::string::npos, text.find('\\')) << "slot " << offset + index;
        }
    for (int slot = 0; slot < LANGUAGE_SLOTS; ++slot) {
        int index = slot % LANGUAGE_BLOCK;
        if (index == 70 || index == 82 || index == 84 || index == 91) continue;
        EXPECT_EQ(std::string::npos, slotText(slot).find('\n')) << "slot " << slot;
    }
}

TEST(LanguageTableTexts, TranslationsAreNotLeftInEnglish) {
    // Texts that are the same in every language (symbols, "Zoom", the fixed
    // printout labels of symbols) are few; most entries must differ.
    for (int offset : {100, 200}) {
        int differing = 0;
        for (int index = 0; index < LANGUAGE_BLOCK; ++index)
            if (slotText(index) != slotText(offset + index)) ++differing;
        EXPECT_GT(differing, 55) << "offset " << offset;
    }
    for (int index : {5, 33, 81, 83, 87, 88, 89, 93, 96, 97, 98}) {
        EXPECT_NE(slotText(index), slotText(100 + index)) << "German index " << index;
        EXPECT_NE(slotText(index), slotText(200 + index)) << "Danish index " << index;
    }
}

TEST(FixedWidthLabels, EnglishLabelsAreThirteenCharactersAndActiveLimitFourteen) {
    for (int index = 50; index <= 62; ++index) {
        std::string text = slotText(index);
        if (index == 57) {
            EXPECT_EQ("Active Limit: ", text);
            continue;
        }
        ASSERT_EQ(13u, text.size()) << "index " << index;
        EXPECT_EQ(": ", text.substr(11)) << "index " << index;
        EXPECT_NE(' ', text[0]) << "index " << index;
    }
}

// German names are up to 12 characters ("Strombereich"), Danish up to 11.
TEST(FixedWidthLabels, TranslatedLabelsKeepTheValueColumn) {
    for (int offset : {100, 200})
        for (int index = 50; index <= 62; ++index) {
            if (index == 57) continue;
            std::size_t width = offset == 100 ? 12 : 11;
            std::string text = slotText(offset + index);
            ASSERT_EQ(width + 2, text.size()) << "slot " << offset + index;
            EXPECT_EQ(": ", text.substr(width)) << "slot " << offset + index;
            EXPECT_EQ(std::string::npos, text.substr(0, width).find(':')) << "slot " << offset + index;
            EXPECT_NE(' ', text[0]) << "slot " << offset + index;
        }
}

TEST(FixedWidthLabels, ActiveLimitLabelGrowsInTranslations) {
    for (int offset : {100, 200}) {
        std::string text = slotText(offset + 57);
        EXPECT_GT(text.size(), 14u) << "offset " << offset;
        EXPECT_EQ(": ", text.substr(text.size() - 2)) << "offset " << offset;
    }
}

TEST(FixedWidthLabels, CurrentRangeLabelIsItsTextWhole) {
    for (int offset : {100, 200}) {
        std::string full = slotText(offset + 8);
        std::string label = slotText(offset + 51);
        EXPECT_EQ(full + ": ", label) << "offset " << offset;
    }
}

TEST(LangText, FollowsTheLanguageOffset) {
    const char* expected[] = {"ELQ770 Configuration tool", "ELQ770 Konfiguration",
                              "ELQ770 Konfigurationsv\346rkt\370j"};
    for (int i = 0; i < 3; ++i) {
        LanguageGuard language(static_cast<uint16_t>(OFFSETS[i]));
        char text[LANGUAGE_TEXT_SIZE];
        langText(text, 34);
        EXPECT_STREQ(expected[i], text) << "offset " << OFFSETS[i];
    }
}

TEST(LangText, SwitchTakesEffectAtTheNextCall) {
    char text[LANGUAGE_TEXT_SIZE];
    {
        LanguageGuard language(0);
        langText(text, 3);
        EXPECT_STREQ("Off", text);
    }
    LanguageGuard language(100);
    langText(text, 3);
    EXPECT_STREQ("Aus", text);
}

TEST(LangText, EmptyEntryYieldsEmptyText) {
    LanguageGuard language(100);
    char text[LANGUAGE_TEXT_SIZE];
    std::memset(text, 'x', sizeof text);
    langText(text, 40);
    EXPECT_STREQ("", text);
    langText(text, 99);
    EXPECT_STREQ("", text);
}

TEST(LangText, IndexOrOffsetOutsideTheTableYieldsEmptyText) {
    char text[LANGUAGE_TEXT_SIZE];
    {
        LanguageGuard language(200);
        for (int index : {-1, 100, 1000}) {
            std::memset(text, 'x', sizeof text);
            langText(text, index);
            EXPECT_STREQ("", text) << "index " << index;
        }
    }
    LanguageGuard damaged(250);
    std::memset(text, 'x', sizeof text);
    langText(text, 34);
    EXPECT_STREQ("", text);
}
