#include "display/readout_text.h"

#include "display_test_support.h"

namespace {

std::string measurementText(int32_t value) {
    char text[READOUT_TEXT_SIZE];
    formatMeasurement(text, sizeof text, value);
    return text;
}

std::string peakText(int32_t value) {
    char text[READOUT_TEXT_SIZE];
    formatPeak(text, sizeof text, value);
    return text;
}

std::string header() {
    char text[READOUT_TEXT_SIZE];
    headerLineNow(text, sizeof text);
    return text;
}

std::string activeLimit() {
    char text[READOUT_TEXT_SIZE];
    activeLimitTextNow(text, sizeof text);
    return text;
}

}  // namespace

TEST(ReadoutNumbers, MeasurementHasTwoDigitsBelowHundredAndThreeFromHundred) {
    EXPECT_EQ("05", measurementText(5));
    EXPECT_EQ("00", measurementText(0));
    EXPECT_EQ("99", measurementText(99));
    EXPECT_EQ("100", measurementText(100));
    EXPECT_EQ("171", measurementText(171));
}

TEST(ReadoutNumbers, NoValueShowsTwoDashes) {
    EXPECT_EQ("--", measurementText(NO_VALUE));
    EXPECT_EQ("--", peakText(NO_VALUE));
}

TEST(ReadoutNumbers, PeaksKeepTwoLeadingBlanksToCoverLongerText) {
    EXPECT_EQ("  05", peakText(5));
    EXPECT_EQ("  99", peakText(99));
    EXPECT_EQ("  105", peakText(105));
}

class HeaderLine : public DisplayTest {};

TEST_F(HeaderLine, WithoutDeviceShowsDashesAndTwentySevenBlanks) {
    EXPECT_EQ("Corvanta: - - -" + blanks(27), header());
}

TEST_F(HeaderLine, DeviceTextWaitsForAMeasurement) {
    setDeviceText("ELQ770 V2.1");
    EXPECT_EQ("Corvanta: - - -" + blanks(27), header());
}

TEST_F(HeaderLine, ShowsDeviceTextAndTwentyFiveBlanks) {
    setDeviceText("ELQ770 V2.1");
    liveState.measurement = 0;
    EXPECT_EQ("Corvanta: ELQ770 V2.1" + blanks(25), header());
}

TEST_F(HeaderLine, LostMeasurementBringsDashesBack) {
    setDeviceText("ELQ770 V2.1");
    liveState.measurement = 42;
    liveState.measurement = NO_VALUE;
    EXPECT_EQ("Corvanta: - - -" + blanks(27), header());
}

// A parameter file may load 32 text bytes without a NUL; the bytes behind
// the field (the active-limit flag here) must not join the text.
TEST_F(HeaderLine, DeviceTextWithoutNulEndsAfterThirtyTwoBytes) {
    std::memset(deviceParameters.deviceText, 'A', sizeof deviceParameters.deviceText);
    deviceParameters.activeLimit = 0x4242;
    deviceParameters.reserved[0] = 'C';
    liveState.measurement = 10;
    EXPECT_EQ("Corvanta: " + std::string(32, 'A') + blanks(25), header());
    char copy[DEVICE_TEXT_SIZE + 1];
    EXPECT_EQ(32, copyDeviceText(copy));
    EXPECT_EQ(std::string(32, 'A'), copy);
}

class ActiveLimitText : public DisplayTest {};

TEST_F(ActiveLimitText, WithoutDeviceShowsDashesAndTwentyBlanks) {
    deviceParameters.limit1Type = 1;
    EXPECT_EQ("- - -" + blanks(20), activeLimit());
}

TEST_F(ActiveLimitText, ShownAsSoonAsDeviceTextArrivesEvenWithoutMeasurement) {
    setDeviceText("ELQ770");
    deviceParameters.limit1Type = 2;
    EXPECT_EQ("Limit 1 (Max)  ", activeLimit());
}

TEST_F(ActiveLimitText, TypeOneIsMinAnyOtherTypeIsMax) {
    setDeviceText("ELQ770");
    deviceParameters.limit1Type = 1;
    EXPECT_EQ("Limit 1 (Min)  ", activeLimit());
    deviceParameters.limit1Type = 0;
    EXPECT_EQ("Limit 1 (Max)  ", activeLimit());
    deviceParameters.limit1Type = 7;
    EXPECT_EQ("Limit 1 (Max)  ", activeLimit());
}

TEST_F(ActiveLimitText, AnyOtherActiveLimitNamesLimitTwoWithItsType) {
    setDeviceText("ELQ770");
    deviceParameters.limit1Type = 2;
    deviceParameters.limit2Type = 1;
    deviceParameters.activeLimit = 1;
    EXPECT_EQ("Limit 2 (Min)  ", activeLimit());
    deviceParameters.activeLimit = 9;
    EXPECT_EQ("Limit 2 (Min)  ", activeLimit());
}
