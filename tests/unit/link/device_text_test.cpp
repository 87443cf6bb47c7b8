// The device's identification text: one character per word, ended by the
// character 13, restarted by the word of code 3000, and kept inside its 32
// bytes however long the device's text runs.
#include <cstring>
#include <string>

#include "link_test_support.h"

using DeviceText = LinkTest;

TEST_F(DeviceText, CharacterWordsFromTheWireBuildTheText) {
    feed({0xF1, 0xE1, 0xF1, 0x11, 0xD4, 0x0D});
    EXPECT_EQ('A', deviceParameters.deviceText[0]);
    EXPECT_EQ(1, liveState.deviceTextLength);
    std::memset(deviceParameters.deviceText + 1, 'x', 4);
    feed({0xF1, 0xE1, 0xB1, 0xD1, 0x54, 0x0D});
    EXPECT_STREQ("A", deviceParameters.deviceText);
    EXPECT_EQ(2, liveState.deviceTextLength);
}

TEST_F(DeviceText, CodeThreeThousandRestartsTheText) {
    feedText("ELQ770 V1.2");
    feedTextEnd();
    feedWord(3001);
    feedText("NEW");
    feedTextEnd();
    EXPECT_STREQ("NEW", deviceParameters.deviceText);
}

TEST_F(DeviceText, TextWithoutRestartIsAppended) {
    feedText("AB");
    feedTextEnd();
    feedText("CD");
    feedTextEnd();
    EXPECT_STREQ("AB", deviceParameters.deviceText);
    EXPECT_EQ(0, std::memcmp(deviceParameters.deviceText, "AB\0CD\0", 6));
}

TEST_F(DeviceText, ThirtyOneCharactersFitWithTheirTerminator) {
    const std::string text(31, 'T');
    feedText(text.c_str());
    feedTextEnd();
    EXPECT_EQ(text, std::string(deviceParameters.deviceText));
    EXPECT_EQ('\0', deviceParameters.deviceText[31]);
}

TEST_F(DeviceText, LongTextIsCutAndNeverLeavesItsField) {
    deviceParameters.activeLimit = 1;
    std::memset(deviceParameters.reserved, 0x5A, sizeof deviceParameters.reserved);
    const std::string text = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    feedText(text.c_str());
    feedTextEnd();
    EXPECT_EQ(text.substr(0, 31), std::string(deviceParameters.deviceText));
    EXPECT_EQ('\0', deviceParameters.deviceText[31]);
    EXPECT_EQ(1, deviceParameters.activeLimit);
    for (uint8_t b : deviceParameters.reserved) EXPECT_EQ(0x5A, b);
    EXPECT_LE(liveState.deviceTextLength, 31);
}

TEST_F(DeviceText, CharactersPastTheLimitStayDroppedUntilRestart) {
    feedText(std::string(40, 'L').c_str());
    feedTextEnd();
    feedText("more text without a restart");
    feedTextEnd();
    EXPECT_EQ(std::string(31, 'L'), std::string(deviceParameters.deviceText));
    feedWord(3000);
    feedText("OK");
    feedTextEnd();
    EXPECT_STREQ("OK", deviceParameters.deviceText);
}

TEST_F(DeviceText, LinkLossResetEmptiesTextButKeepsPosition) {
    feedText("DEV");
    // The window thread's link-loss reset: first byte NUL, position kept.
    storeTextByte(deviceParameters.deviceText[0], '\0');
    feedText("X");
    EXPECT_EQ(4, liveState.deviceTextLength);
    EXPECT_EQ('X', deviceParameters.deviceText[3]);
    EXPECT_STREQ("", deviceParameters.deviceText);
}

// Against a steady reading nothing else would repaint the header.
TEST_F(DeviceText, CompletedTextAsksForARepaint) {
    feedText("ELQ");
    EXPECT_EQ(0, liveState.readoutsChanged.load());
    feedTextEnd();
    EXPECT_EQ(1, liveState.readoutsChanged.load());
}
