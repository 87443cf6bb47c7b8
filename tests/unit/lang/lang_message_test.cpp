#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <string>

#include "lang/lang_message.h"
#include "lang/language_table.h"
#include "tests/unit/lang/language_guard.h"

namespace {

constexpr char SENTINEL = 0x5A;

// A message buffer followed by guard bytes, to see any write past 80 bytes.
struct GuardedText {
    char text[MESSAGE_TEXT_SIZE];
    char guard[16];
    GuardedText() {
        std::memset(text, SENTINEL, sizeof text);
        std::memset(guard, SENTINEL, sizeof guard);
    }
    bool guardIntact() const {
        for (char byte : guard)
            if (byte != SENTINEL) return false;
        return true;
    }
};

std::string composed(int messageIndex, int code) {
    GuardedText buffer;
    composeMessageText(buffer.text, messageIndex, code);
    EXPECT_TRUE(buffer.guardIntact());
    return buffer.text;
}

}  // namespace

TEST(MessageText, ZeroCodeAppendsNothing) {
    LanguageGuard language(0);
    EXPECT_EQ("Comm Port occupied or non-existing", composed(85, 0));
}

TEST(MessageText, CodeFollowsAsColonBlankAndDigits) {
    LanguageGuard language(0);
    EXPECT_EQ("Error opening configuration file: 32", composed(83, 32));
    EXPECT_EQ("Error opening configuration file: 30003", composed(83, 30003));
}

TEST(MessageText, NegativeCodeKeepsItsMinusSign) {
    LanguageGuard language(0);
    EXPECT_EQ("Error printing: -1", composed(89, -1));
}

TEST(MessageText, UsesTheCurrentLanguage) {
    LanguageGuard language(100);
    EXPECT_EQ("Schnittstelle besetzt oder nicht vorhanden: 5", composed(85, 5));
}

TEST(MessageText, EveryEntryWithTheLongestCodeFitsTheBuffer) {
    for (int offset : {0, 100, 200}) {
        LanguageGuard language(static_cast<uint16_t>(offset));
        for (int index = 0; index < LANGUAGE_BLOCK; ++index) {
            std::string entry = languageTable.slots[offset + index];
            std::string text = composed(index, INT_MIN);
            EXPECT_EQ(entry + ": -2147483648", text) << "slot " << offset + index;
            EXPECT_LT(text.size(), static_cast<size_t>(MESSAGE_TEXT_SIZE));
        }
    }
}

TEST(CodeSuffix, ExtremeCodesAreWrittenInFull) {
    char text[MESSAGE_TEXT_SIZE] = "x";
    appendCodeSuffix(text, sizeof text, INT_MAX);
    EXPECT_STREQ("x: 2147483647", text);
    std::strcpy(text, "y");
    appendCodeSuffix(text, sizeof text, INT_MIN);
    EXPECT_STREQ("y: -2147483648", text);
}

TEST(CodeSuffix, IsCutAtTheEndOfTheBuffer) {
    GuardedText buffer;
    std::memset(buffer.text, 'a', 75);
    buffer.text[75] = '\0';
    appendCodeSuffix(buffer.text, MESSAGE_TEXT_SIZE, INT_MIN);
    EXPECT_EQ(std::string(75, 'a') + ": -2", std::string(buffer.text));
    EXPECT_EQ('\0', buffer.text[MESSAGE_TEXT_SIZE - 1]);
    EXPECT_TRUE(buffer.guardIntact());
}

TEST(CodeSuffix, FullBufferIsLeftTerminated) {
    GuardedText buffer;
    std::memset(buffer.text, 'b', MESSAGE_TEXT_SIZE - 1);
    buffer.text[MESSAGE_TEXT_SIZE - 1] = '\0';
    appendCodeSuffix(buffer.text, MESSAGE_TEXT_SIZE, 7);
    EXPECT_EQ(std::string(MESSAGE_TEXT_SIZE - 1, 'b'), std::string(buffer.text));
    EXPECT_TRUE(buffer.guardIntact());
}

TEST(CodeSuffix, UnterminatedBufferGetsTerminatedInside) {
    GuardedText buffer;  // no NUL in the 80 bytes
    appendCodeSuffix(buffer.text, MESSAGE_TEXT_SIZE, 7);
    EXPECT_EQ('\0', buffer.text[MESSAGE_TEXT_SIZE - 1]);
    EXPECT_TRUE(buffer.guardIntact());
}

TEST(MessageIcon, InformationBelowEightyStopFromEighty) {
    EXPECT_FALSE(isStopMessage(0));
    EXPECT_FALSE(isStopMessage(70));
    EXPECT_FALSE(isStopMessage(79));
    EXPECT_TRUE(isStopMessage(80));
    EXPECT_TRUE(isStopMessage(85));
    EXPECT_TRUE(isStopMessage(98));
}
