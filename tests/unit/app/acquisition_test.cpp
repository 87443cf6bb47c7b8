#include <gtest/gtest.h>

#include <vector>

#include "app/acquisition.h"
#include "app/acquisition_testing.h"
#include "display/display_state.h"
#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "link/receive_parser.h"
#include "params/parameter_set.h"
#include "params/settings.h"

namespace {

// Collects the words that reach the transmit ring, decoded from the frames.
std::vector<uint16_t> takeSentWords() {
    uint8_t buffer[TRANSMIT_CHUNK_SIZE];
    std::vector<uint16_t> words;
    int count = takeTransmitBytes(buffer);
    for (int i = 0; i + FRAME_SIZE <= count; i += FRAME_SIZE)
        words.push_back(static_cast<uint16_t>((buffer[i] >> 4) << 12 | (buffer[i + 1] >> 4) << 8 |
                                              (buffer[i + 2] >> 4) << 4 | buffer[i + 3] >> 4));
    return words;
}

void receiveWord(uint16_t word) {
    uint8_t line[6];
    buildFrame(word, line);  // the device's 16-bit lines share the frame layout
    parseReceivedBytes(line, 6);
}

class Acquisition : public ::testing::Test {
protected:
    void SetUp() override {
        resetLiveState();
        resetReceiveLine();
        resetAcquisition();
        clearCommandQueue();
        deviceParameters = ParameterSet{};
        editedParameters = ParameterSet{};
        setSettingsDefaults(&appSettings);
        configureLinkFromSettings();
        redrawAll = redrawHeader = graphFrozen = 0;
        setTransmitLinkOpen(1);
    }
    void TearDown() override { setTransmitLinkOpen(0); }
};

TEST_F(Acquisition, SixteenQueuedWordsLeaveInSixteenTicksThenTheConfirmationRequest) {
    deviceParameters.limit1Setpoint = 50;
    ASSERT_EQ(1, queueAllParameters());
    downloadPending = 1;
    std::vector<uint16_t> sent;
    for (int tick = 0; tick < 16; ++tick) {
        EXPECT_EQ(PUMP_SENT_WORD, pumpTick());
        for (uint16_t w : takeSentWords()) sent.push_back(w);
    }
    ASSERT_EQ(16u, sent.size());
    EXPECT_EQ(3000, sent.front());
    EXPECT_EQ(4500, sent.back());
    EXPECT_EQ(PUMP_CONFIRM, pumpTick());
    EXPECT_EQ(std::vector<uint16_t>{CMD_REQUEST_DATA}, takeSentWords());
    EXPECT_EQ(0, downloadPending);
}

TEST_F(Acquisition, ConfirmationReportsTimeoutAndMismatchOnly) {
    EXPECT_EQ(82, confirmationMessage(0));
    EXPECT_EQ(0, confirmationMessage(1));
    editedParameters.limit2Tr = 120;
    EXPECT_EQ(81, confirmationMessage(1));
}

TEST_F(Acquisition, WatchdogRunsDownWithoutDeviceAndLeavesNoValuesAlone) {
    for (int tick = 0; tick < 20; ++tick) EXPECT_EQ(PUMP_WATCHDOG, pumpTick());
    EXPECT_EQ(0, liveState.linkWatchdog.load());
    EXPECT_EQ(PUMP_WATCHDOG, pumpTick());
    EXPECT_EQ(0, redrawHeader);
    EXPECT_EQ(0, identificationTick());
    EXPECT_TRUE(takeSentWords().empty());
}

TEST_F(Acquisition, LinkLossClearsReadoutsAndTextOnce) {
    receiveWord(57);
    receiveWord(587);
    receiveWord(65265);  // 'A'
    ASSERT_EQ(57, liveState.measurement.load());
    for (int tick = 0; tick < 15; ++tick) pumpTick();
    EXPECT_EQ(PUMP_LINK_LOST, pumpTick());
    EXPECT_EQ(NO_VALUE, liveState.measurement.load());
    EXPECT_EQ(NO_VALUE, liveState.maxPeak.load());
    EXPECT_EQ(0, deviceParameters.deviceText[0]);
    EXPECT_EQ(1, redrawHeader);
    redrawHeader = 0;
    EXPECT_EQ(PUMP_WATCHDOG, pumpTick());
    EXPECT_EQ(0, redrawHeader);
}

TEST_F(Acquisition, IdentificationRequestedEachSecondUntilTextArrives) {
    receiveWord(57);
    EXPECT_EQ(1, identificationTick());
    EXPECT_EQ(std::vector<uint16_t>{CMD_REQUEST_DATA}, takeSentWords());
    receiveWord(65265);
    EXPECT_EQ(0, identificationTick());
    EXPECT_TRUE(takeSentWords().empty());
}

TEST_F(Acquisition, AlarmHoldFreezesOnThe39thTickAtTenSeconds) {
    appSettings.rollIndex = 0;
    appSettings.stopAtAlarm = 1;
    configureLinkFromSettings();
    receiveWord(65012);
    for (int tick = 1; tick < 39; ++tick) ASSERT_EQ(0, alarmHoldTick()) << tick;
    EXPECT_EQ(1, alarmHoldTick());
    EXPECT_EQ(1, graphFrozen);
    EXPECT_EQ(1, redrawAll);
    EXPECT_EQ(0, liveState.alarmHoldCount.load());
}

TEST_F(Acquisition, SecondAlarmRestartsTheHold) {
    appSettings.rollIndex = 0;
    appSettings.stopAtAlarm = 1;
    configureLinkFromSettings();
    receiveWord(65012);
    for (int tick = 0; tick < 30; ++tick) alarmHoldTick();
    receiveWord(65040);
    for (int tick = 1; tick < 39; ++tick) ASSERT_EQ(0, alarmHoldTick()) << tick;
    EXPECT_EQ(1, alarmHoldTick());
}

TEST_F(Acquisition, ReadoutsRepaintOnChangeAndRefillWhenShrinkingFromThreeDigits) {
    EXPECT_EQ(1, readoutsTick());  // -1 differs from the start value 0
    EXPECT_EQ(0, readoutsTick());
    receiveWord(100);
    EXPECT_EQ(1, readoutsTick());
    EXPECT_EQ(0, redrawHeader);
    receiveWord(99);
    EXPECT_EQ(1, readoutsTick());
    EXPECT_EQ(1, redrawHeader);
    redrawHeader = 0;
    receiveWord(248);  // 120 with Limit 2 active
    EXPECT_EQ(1, readoutsTick());
    liveState.measurement = NO_VALUE;
    EXPECT_EQ(1, readoutsTick());
    EXPECT_EQ(1, redrawHeader);
}

TEST_F(Acquisition, PeakArrivalRepaintsEvenWithUnchangedMeasurement) {
    receiveWord(57);
    readoutsTick();
    receiveWord(345);
    EXPECT_EQ(1, readoutsTick());
    EXPECT_EQ(0, liveState.readoutsChanged.load());
}

}  // namespace

// A pulled adapter: the dead link is closed once the watchdog has run out,
// and the port is tried again every 2 s until it opens. A silent device on a
// live port, or a port the user has changed, is left alone.
using LinkRecovery = Acquisition;

TEST_F(LinkRecovery, DeadLinkIsClosedAfterTheWatchdogAndReopenedEveryTwoSeconds) {
    liveState.linkWatchdog.store(3);
    EXPECT_EQ(RECOVERY_NONE, linkRecoveryTick(1, 1, 1000)) << "the watchdog has not run out";
    liveState.linkWatchdog.store(0);
    EXPECT_EQ(RECOVERY_NONE, linkRecoveryTick(1, 0, 1000)) << "a silent device on a live port";
    EXPECT_EQ(RECOVERY_CLOSE_AND_REOPEN, linkRecoveryTick(1, 1, 1000));
    linkReopened(0);
    std::vector<uint32_t> attempts;
    for (uint32_t now = 1047; now < 7100; now += 47)
        if (linkRecoveryTick(0, 0, now) == RECOVERY_REOPEN) {
            attempts.push_back(now);
            linkReopened(0);
        }
    ASSERT_EQ(3u, attempts.size());
    EXPECT_GE(attempts[0], 3000u);
    for (size_t i = 1; i < attempts.size(); ++i) EXPECT_GE(attempts[i] - attempts[i - 1], 2000u);
}

TEST_F(LinkRecovery, ReopenedLinkResumesAsAtStartAndEndsTheRecovery) {
    liveState.linkWatchdog.store(0);
    ASSERT_EQ(RECOVERY_CLOSE_AND_REOPEN, linkRecoveryTick(1, 1, 0xFFFFF000u));
    linkReopened(0);
    EXPECT_EQ(RECOVERY_REOPEN, linkRecoveryTick(0, 0, 0x00000800u)) << "the tick count wraps";
    linkReopened(1);
    EXPECT_EQ(20, liveState.linkWatchdog.load()) << "identification requests resume";
    EXPECT_EQ(1, identificationTick());
    EXPECT_EQ(RECOVERY_NONE, linkRecoveryTick(1, 0, 0x00010000u));
    EXPECT_EQ(RECOVERY_NONE, linkRecoveryTick(0, 0, 0x00020000u)) << "nothing left to recover";
}

TEST_F(LinkRecovery, APortTheUserMarkedNotOpenIsNotReopened) {
    liveState.linkWatchdog.store(0);
    ASSERT_EQ(RECOVERY_CLOSE_AND_REOPEN, linkRecoveryTick(1, 1, 0));
    linkReopened(0);
    appSettings.comPort = 3 + PORT_NOT_OPEN;  // another port was picked and failed
    EXPECT_EQ(RECOVERY_NONE, linkRecoveryTick(0, 0, 5000));
    appSettings.comPort = 3;
    EXPECT_EQ(RECOVERY_NONE, linkRecoveryTick(0, 0, 9000));
}
