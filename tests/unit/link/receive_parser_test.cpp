// Line assembly, the sum check and the dispatch of words by band.
#include <cstring>

#include "link_test_support.h"

namespace {

int replyCount = 0;
void countReply(void*) { ++replyCount; }
const SignalTap countingTap{countReply, nullptr};

struct Snapshot {
    int32_t measurement, maxPeak, minPeak, readoutsChanged;
    int linkWatchdog, alarmHoldCount;
    int32_t deviceTextLength, trendDecimationCount;
    int trendWriteIndex;
    uint8_t parameters[sizeof(ParameterSet)];

    static Snapshot take() {
        Snapshot s{};
        s.measurement = liveState.measurement;
        s.maxPeak = liveState.maxPeak;
        s.minPeak = liveState.minPeak;
        s.readoutsChanged = liveState.readoutsChanged;
        s.linkWatchdog = liveState.linkWatchdog;
        s.alarmHoldCount = liveState.alarmHoldCount;
        s.deviceTextLength = liveState.deviceTextLength;
        s.trendDecimationCount = liveState.trendDecimationCount;
        s.trendWriteIndex = liveState.trendWriteIndex;
        std::memcpy(s.parameters, &deviceParameters, sizeof s.parameters);
        return s;
    }
    bool operator==(const Snapshot& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

class ParserLines : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        replyCount = 0;
        replyTaps.add(&countingTap);
        // Something other than 15, so that a refresh is visible.
        liveState.linkWatchdog = 3;
    }
};

class ParserBands : public ParserLines {};

}  // namespace

TEST_F(ParserLines, EightBitMeasurementLine) {
    feed({0x31, 0x91, 0xC2, 0x0D});
    EXPECT_EQ(57, liveState.measurement);
    EXPECT_EQ(0, deviceParameters.activeLimit);
    EXPECT_EQ(15, liveState.linkWatchdog);
}

TEST_F(ParserLines, LineSplitAcrossCallsEqualsOneCall) {
    const uint8_t first[] = {0x31, 0x91};
    const uint8_t second[] = {0xC2, 0x0D};
    parseReceivedBytes(first, 2);
    EXPECT_EQ(NO_VALUE, liveState.measurement);
    parseReceivedBytes(second, 2);
    EXPECT_EQ(57, liveState.measurement);
    EXPECT_EQ(15, liveState.linkWatchdog);
}

TEST_F(ParserLines, BadChecksumChangesNothing) {
    Snapshot before = Snapshot::take();
    feed({0x31, 0x91, 0xC3, 0x0D});
    EXPECT_TRUE(before == Snapshot::take());
    EXPECT_EQ(3, liveState.linkWatchdog);
}

TEST_F(ParserLines, LoneCarriageReturnIsDropped) {
    Snapshot before = Snapshot::take();
    feed({0x0D, 0x0D});
    EXPECT_TRUE(before == Snapshot::take());
}

TEST_F(ParserLines, LineLongerThanSevenBytesIsCutAndFailsItsSum) {
    // The first five bytes alone are the valid word 3001; the cut line is
    // 01 B1 B1 91 F4 11 11, whose last byte is not the sum of the others.
    Snapshot before = Snapshot::take();
    feed({0x01, 0xB1, 0xB1, 0x91, 0xF4, 0x11, 0x11, 0x11, 0x11, 0x0D});
    EXPECT_TRUE(before == Snapshot::take());
    EXPECT_EQ(0, replyCount);
}

TEST_F(ParserLines, CutLineIsCheckedOnItsFirstSevenBytes) {
    // Seven bytes 31 91 11 11 11 11 sum, then junk that the cut drops: the
    // first seven bytes form a valid 8-bit line carrying 57.
    uint8_t sum = static_cast<uint8_t>(0x31 + 0x91 + 0x11 * 4);
    feed({0x31, 0x91, 0x11, 0x11, 0x11, 0x11, sum, 0x77, 0x55, 0x0D});
    EXPECT_EQ(57, liveState.measurement);
}

TEST_F(ParserLines, LineOfOtherLengthCarriesEightBits) {
    // Six bytes: not a 16-bit line, so the word is the high nibbles of the
    // first two bytes only.
    uint8_t sum = static_cast<uint8_t>(0x21 + 0x51 + 0xF1 + 0xF1 + 0xF1);
    feed({0x21, 0x51, 0xF1, 0xF1, 0xF1, sum, 0x0D});
    EXPECT_EQ(37, liveState.measurement);
}

TEST_F(ParserLines, GarbageBeforeAValidLineIsForgottenAtCarriageReturn) {
    feed({0x99, 0x0D});
    feed({0x31, 0x91, 0xC2, 0x0D});
    EXPECT_EQ(57, liveState.measurement);
}

TEST_F(ParserLines, PartialLineSurvivesUntilItsCarriageReturn) {
    feed({0x01, 0x21, 0x41});
    feed({0xB1, 0x14});
    EXPECT_EQ(NO_VALUE, liveState.maxPeak);
    feed({0x0D});
    EXPECT_EQ(87, liveState.maxPeak);
}

TEST_F(ParserLines, HelperFunctionsOnStoredLines) {
    const uint8_t empty[8] = {};
    const uint8_t word57[8] = {0x31, 0x91, 0xC2, 0};
    const uint8_t word587[8] = {0x01, 0x21, 0x41, 0xB1, 0x14, 0};
    EXPECT_EQ(0, lineLength(empty));
    EXPECT_EQ(0, lineChecksumOk(empty));
    EXPECT_EQ(3, lineLength(word57));
    EXPECT_EQ(1, lineChecksumOk(word57));
    EXPECT_EQ(57, decodeLineValue(word57));
    EXPECT_EQ(5, lineLength(word587));
    EXPECT_EQ(587, decodeLineValue(word587));
}

TEST_F(ParserBands, LimitTwoMeasurementSetsActiveLimitAndFlagsTheChange) {
    feed({0xB1, 0x91, 0x42, 0x0D});
    EXPECT_EQ(57, liveState.measurement);
    EXPECT_EQ(1, deviceParameters.activeLimit);
    EXPECT_EQ(1, liveState.readoutsChanged);
}

TEST_F(ParserBands, MeasurementOnUnchangedLimitLeavesReadoutsFlagAlone) {
    deviceParameters.activeLimit = 1;
    feed({0xB1, 0x91, 0x42, 0x0D});
    EXPECT_EQ(0, liveState.readoutsChanged);
    feedWord(20);
    EXPECT_EQ(0, deviceParameters.activeLimit);
    EXPECT_EQ(1, liveState.readoutsChanged);
    liveState.readoutsChanged = 0;
    feedWord(21);
    EXPECT_EQ(0, liveState.readoutsChanged);
}

TEST_F(ParserBands, MeasurementBandEdges) {
    feedWord(127);
    EXPECT_EQ(127, liveState.measurement);
    EXPECT_EQ(0, deviceParameters.activeLimit);
    feedWord(128);
    EXPECT_EQ(0, liveState.measurement);
    EXPECT_EQ(1, deviceParameters.activeLimit);
    feedWord(299);
    EXPECT_EQ(171, liveState.measurement);
}

TEST_F(ParserBands, PeakWords) {
    feed({0x01, 0x21, 0x41, 0xB1, 0x14, 0x0D});
    EXPECT_EQ(87, liveState.maxPeak);
    EXPECT_EQ(1, liveState.readoutsChanged);
    liveState.readoutsChanged = 0;
    feed({0x01, 0x11, 0x51, 0x91, 0xF4, 0x0D});
    EXPECT_EQ(45, liveState.minPeak);
    EXPECT_EQ(1, liveState.readoutsChanged);
    feedWord(300);
    EXPECT_EQ(0, liveState.minPeak);
    feedWord(499);
    EXPECT_EQ(199, liveState.minPeak);
    feedWord(500);
    EXPECT_EQ(0, liveState.maxPeak);
    feedWord(999);
    EXPECT_EQ(499, liveState.maxPeak);
    EXPECT_EQ(NO_VALUE, liveState.measurement);
}

TEST_F(ParserBands, LimitOneTypeEndsTheAnswerAndRestartsText) {
    liveState.deviceTextLength = 5;
    feed({0x01, 0xB1, 0xB1, 0x91, 0xF4, 0x0D});
    EXPECT_EQ(1, deviceParameters.limit1Type);
    EXPECT_EQ(1, replyCount);
    EXPECT_EQ(0, liveState.deviceTextLength);
}

namespace {
uint16_t typeSeenByHook = 0;
void recordTypeAtReply(void*) { typeSeenByHook = loadField(deviceParameters.limit1Type); }
}  // namespace

TEST_F(ParserBands, LimitOneTypeIsStoredBeforeTheReplyIsSignalled) {
    replyTaps.clear();
    const SignalTap typeTap{recordTypeAtReply, nullptr};
    replyTaps.add(&typeTap);
    feedWord(3002);
    EXPECT_EQ(2, typeSeenByHook);
}

TEST_F(ParserBands, OtherParameterWordsDoNotSignalAReply) {
    feedWord(3010);
    feedWord(4500);
    EXPECT_EQ(0, replyCount);
}

TEST_F(ParserBands, AlarmWordsHoldOnlyWhenStopAtAlarmIsOn) {
    feed({0xF1, 0xD1, 0xF1, 0x41, 0xF4, 0x0D});
    EXPECT_EQ(0, liveState.alarmHoldCount);
    linkConfig.alarmHold = 1;
    feedWord(65005);
    feedWord(65009);
    feedWord(65025);
    feedWord(65034);
    EXPECT_EQ(0, liveState.alarmHoldCount);
    feed({0xF1, 0xD1, 0xF1, 0x41, 0xF4, 0x0D});
    EXPECT_EQ(1, liveState.alarmHoldCount);
    for (uint16_t word : {65010, 65024, 65035, 65049}) {
        liveState.alarmHoldCount = 0;
        feedWord(word);
        EXPECT_EQ(1, liveState.alarmHoldCount) << word;
    }
}

TEST_F(ParserBands, EveryAlarmWordIsCountedAndKeptWhateverStopAtAlarmSays) {
    for (uint16_t word : {65005, 65009, 65025, 65034}) feedWord(word);
    EXPECT_EQ(0u, liveState.alarmWordCount);
    feedWord(65024);
    linkConfig.alarmHold = 1;
    feedWord(65035);
    EXPECT_EQ(2u, liveState.alarmWordCount);
    EXPECT_EQ(65035, liveState.alarmWords[1]);
}

TEST_F(ParserBands, IgnoredWordsOnlyRefreshTheWatchdog) {
    for (uint16_t word : {1000, 1500, 2999, 65000, 65050, 65199, 65500, 65535}) {
        liveState.linkWatchdog = 3;
        Snapshot before = Snapshot::take();
        feedWord(word);
        EXPECT_EQ(15, liveState.linkWatchdog) << word;
        liveState.linkWatchdog = 3;
        EXPECT_TRUE(before == Snapshot::take()) << word;
    }
    EXPECT_EQ(0, replyCount);
}

TEST_F(ParserBands, WordFifteenHundredFromTheWire) {
    Snapshot before = Snapshot::take();
    feed({0x01, 0x51, 0xD1, 0xC1, 0xE4, 0x0D});
    EXPECT_EQ(15, liveState.linkWatchdog);
    liveState.linkWatchdog = 3;
    EXPECT_TRUE(before == Snapshot::take());
}
