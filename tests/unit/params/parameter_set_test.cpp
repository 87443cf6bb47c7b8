// The parameter record: which field each received word lands in, what the two
// copies share, and when a download counts as confirmed.
#include <gtest/gtest.h>

#include <cstring>

#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "link/receive_parser.h"
#include "params/parameter_set.h"
#include "params/settings.h"

namespace {

// Fields by their byte offset in the record, so that a test does not lean on
// the member names it checks.
uint16_t fieldAt(const ParameterSet& set, int offset) {
    uint16_t value;
    std::memcpy(&value, reinterpret_cast<const char*>(&set) + offset, 2);
    return value;
}

void setFieldAt(ParameterSet& set, int offset, uint16_t value) {
    std::memcpy(reinterpret_cast<char*>(&set) + offset, &value, 2);
}

void receiveWord(uint16_t word) {
    uint8_t line[6];
    uint8_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        line[i] = static_cast<uint8_t>(((word >> (12 - 4 * i)) & 0x0F) << 4 | 0x01);
        sum = static_cast<uint8_t>(sum + line[i]);
    }
    line[4] = sum;
    line[5] = 0x0D;
    parseReceivedBytes(line, 6);
}

class ParameterTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        resetLiveState();
        resetReceiveLine();
        replyTaps.clear();
        deviceParameters = {};
        editedParameters = {};
        setSettingsDefaults(&appSettings);
    }
};

using ParameterBands = ParameterTest;
using ParameterCopies = ParameterTest;

struct Parameter {
    uint16_t code;
    int offset;
    uint16_t lowest, highest;  // the range the sheet lets the user enter
};

const Parameter PARAMETERS[16] = {
    {3000, 0, 1, 2},    {3100, 2, 5, 99},   {3300, 4, 0, 250},  {3900, 6, 0, 250},
    {3020, 8, 0, 9},    {3010, 10, 1, 2},   {3200, 12, 5, 99},  {3600, 14, 0, 250},
    {4200, 16, 0, 250}, {3030, 18, 0, 9},   {3040, 20, 0, 6},   {3060, 22, 0, 1},
    {3050, 24, 0, 1},   {3070, 26, 1, 2},   {4500, 28, 40, 100}, {3065, 30, 0, 1},
};

}  // namespace

TEST_F(ParameterBands, WordsFromTheExamples) {
    receiveWord(3150);
    EXPECT_EQ(50, deviceParameters.limit1Setpoint);
    receiveWord(3009);
    EXPECT_EQ(9, deviceParameters.limit1Type);
    receiveWord(3064);
    EXPECT_EQ(4, deviceParameters.polarity);
    receiveWord(3065);
    EXPECT_EQ(0, deviceParameters.autoShutDown);
    receiveWord(4601);
    EXPECT_EQ(101, deviceParameters.p1Max);
    receiveWord(64999);
    EXPECT_EQ(60499, deviceParameters.p1Max);
}

TEST_F(ParameterBands, TopOfEachBandBelongsToItsLowerCode) {
    // word, field offset, value
    const int cases[][3] = {{3019, 10, 9},  {3029, 8, 9},     {3039, 18, 9},  {3049, 20, 9},
                            {3059, 24, 9},  {3069, 30, 4},    {3099, 26, 29}, {3199, 2, 99},
                            {3299, 12, 99}, {3599, 4, 299},   {3899, 14, 299}, {4199, 6, 299},
                            {4499, 16, 299}, {5000, 28, 500}};
    for (const auto& c : cases) {
        deviceParameters = {};
        receiveWord(static_cast<uint16_t>(c[0]));
        EXPECT_EQ(c[2], fieldAt(deviceParameters, c[1])) << "word " << c[0];
        for (int offset = 0; offset < 32; offset += 2) {
            if (offset == c[1]) continue;
            EXPECT_EQ(0, fieldAt(deviceParameters, offset)) << c[0];
        }
    }
}

TEST_F(ParameterBands, EveryValueTheSheetCanProduceComesBackUnchanged) {
    for (const Parameter& p : PARAMETERS) {
        for (int value = p.lowest; value <= p.highest; ++value) {
            deviceParameters = {};
            receiveWord(static_cast<uint16_t>(p.code + value));
            ASSERT_EQ(value, fieldAt(deviceParameters, p.offset)) << "code " << p.code;
        }
    }
}

TEST_F(ParameterBands, FindBandOutsideTheParameterWordsIsNone) {
    EXPECT_EQ(nullptr, findParameterBand(2999));
    EXPECT_EQ(nullptr, findParameterBand(65000));
    ASSERT_NE(nullptr, findParameterBand(3000));
    EXPECT_EQ(3000, findParameterBand(3000)->code);
    EXPECT_EQ(4500, findParameterBand(64999)->code);
}

TEST_F(ParameterCopies, CopyTakesOnlyTheSixteenFields) {
    for (const Parameter& p : PARAMETERS) setFieldAt(deviceParameters, p.offset, p.highest);
    std::strcpy(deviceParameters.deviceText, "DEVICE");
    deviceParameters.activeLimit = 1;
    std::memset(deviceParameters.reserved, 0x77, sizeof deviceParameters.reserved);
    copyDeviceToEdited();
    for (const Parameter& p : PARAMETERS) EXPECT_EQ(p.highest, fieldAt(editedParameters, p.offset));
    ParameterSet zero{};
    EXPECT_EQ(0, std::memcmp(reinterpret_cast<const char*>(&editedParameters) + 32,
                             reinterpret_cast<const char*>(&zero) + 32, sizeof(ParameterSet) - 32));
}

TEST_F(ParameterCopies, TextFlagAndReservedBytesTakeNoPartInTheMatch) {
    copyDeviceToEdited();
    std::strcpy(deviceParameters.deviceText, "ELQ");
    deviceParameters.activeLimit = 1;
    deviceParameters.reserved[3] = 9;
    EXPECT_EQ(1, editedMatchesDevice());
}

TEST_F(ParameterCopies, AnyOneDifferingFieldFailsTheMatch) {
    for (int offset = 0; offset < 32; offset += 2) {
        deviceParameters = {};
        editedParameters = {};
        setFieldAt(editedParameters, offset, 7);
        EXPECT_EQ(0, editedMatchesDevice()) << "offset " << offset;
        setFieldAt(deviceParameters, offset, 7);
        EXPECT_EQ(1, editedMatchesDevice()) << "offset " << offset;
    }
}
