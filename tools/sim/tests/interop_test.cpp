// The program's own receive parser and frame builder against the simulator:
// what the simulator sends is what the program understands, and the
// program's frames are what the simulator decodes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "link/receive_parser.h"
#include "params/parameter_set.h"
#include "params/settings.h"
#include "tools/sim/device_model.h"
#include "tools/sim/device_wire.h"
#include "tools/sim/line_faults.h"

namespace {

int replies = 0;
void countReply(void*) { ++replies; }
const SignalTap countingTap{countReply, nullptr};

class CoreAgainstSim : public ::testing::Test {
protected:
    void SetUp() override {
        resetLiveState();
        resetReceiveLine();
        std::memset(&deviceParameters, 0, sizeof deviceParameters);
        replies = 0;
        replyTaps.add(&countingTap);
    }
    void TearDown() override { replyTaps.remove(&countingTap); }

    // Runs the device for `steps` steps and feeds its line bytes to the
    // program's parser 4 bytes at a time, as the reader thread does.
    void pump(sim::DeviceModel& model, sim::LineWriter& writer, int steps) {
        for (int i = 0; i < steps; ++i) {
            now += 20;
            std::vector<uint16_t> words;
            std::vector<uint8_t> bytes;
            model.step(now, words);
            for (uint16_t word : words) writer.append(word, bytes);
            for (size_t at = 0; at < bytes.size(); at += 4)
                parseReceivedBytes(bytes.data() + at, static_cast<int>(std::min<size_t>(4, bytes.size() - at)));
            if (liveState.measurement.load() != NO_VALUE) seen.push_back(liveState.measurement.load());
        }
    }

    uint32_t now = 0;
    std::vector<int32_t> seen;
};

}  // namespace

TEST_F(CoreAgainstSim, ProgramFramesDecodeToTheirWords) {
    for (uint16_t word : {CMD_REQUEST_DATA, CMD_SPACE_KEY, CMD_RESET_MAX_PEAK, CMD_RESET_MIN_PEAK,
                          uint16_t{3420}, uint16_t{0}, uint16_t{4600}}) {
        uint8_t frame[FRAME_SIZE];
        buildFrame(word, frame);
        sim::FrameDecoder decoder;
        sim::FrameEvent events[2];
        int found = 0;
        for (uint8_t byte : frame) found = decoder.feed(byte, events);
        ASSERT_EQ(1, found);
        EXPECT_EQ(word, events[0].word);
    }
}

TEST_F(CoreAgainstSim, AnswerFillsDeviceParametersAndText) {
    sim::ModelConfig config;
    config.fixedLevel = 57;
    config.activeLimit = 1;
    config.setParameter(3300, 120);
    sim::DeviceModel model(config, 0);
    sim::LineWriter writer(sim::LineFaults{}, 1);
    model.receiveWord(sim::WORD_REQUEST_DATA, 0);
    pump(model, writer, 40);
    EXPECT_EQ(1, replies);
    EXPECT_STREQ("ELQ770 SIM 1.0", deviceParameters.deviceText);
    EXPECT_EQ(2, deviceParameters.limit1Type);
    EXPECT_EQ(60, deviceParameters.limit1Setpoint);
    EXPECT_EQ(120, deviceParameters.limit1Tr);
    EXPECT_EQ(10, deviceParameters.limit1Ts);
    EXPECT_EQ(1, deviceParameters.limit2Type);
    EXPECT_EQ(20, deviceParameters.limit2Setpoint);
    EXPECT_EQ(1, deviceParameters.outputs);
    EXPECT_EQ(100, deviceParameters.p1Max);
    EXPECT_EQ(1, deviceParameters.activeLimit);
    EXPECT_EQ(57, liveState.measurement.load());
    EXPECT_EQ(57, liveState.maxPeak.load());
    EXPECT_EQ(57, liveState.minPeak.load());
}

TEST_F(CoreAgainstSim, SpoiledLinesNeverReachTheProgramAsValues) {
    sim::ModelConfig config;
    config.fixedLevel = 42;
    sim::DeviceModel model(config, 0);
    sim::LineWriter writer(sim::LineFaults{10, 20, true}, 3);
    model.receiveWord(sim::WORD_REQUEST_DATA, 0);
    pump(model, writer, 500);
    ASSERT_FALSE(seen.empty());
    for (int32_t value : seen) ASSERT_EQ(42, value);
    int32_t maxPeak = liveState.maxPeak.load();
    EXPECT_TRUE(maxPeak == 42 || maxPeak == NO_VALUE);
    // Parameter words that got through carry the device's values only.
    EXPECT_TRUE(deviceParameters.limit1Setpoint == 60 || deviceParameters.limit1Setpoint == 0);
    EXPECT_TRUE(deviceParameters.p1Max == 100 || deviceParameters.p1Max == 0);
}

TEST_F(CoreAgainstSim, AlarmWordsSetTheProgramsAlarmHold) {
    linkConfig.alarmHold = 1;
    sim::ModelConfig config;
    config.fixedLevel = 70;
    sim::DeviceModel model(config, 0);
    sim::LineWriter writer(sim::LineFaults{}, 1);
    pump(model, writer, 140);  // 2.8 s: still holding
    EXPECT_EQ(0, liveState.alarmHoldCount.load());
    pump(model, writer, 20);
    EXPECT_EQ(1, liveState.alarmHoldCount.load());
    linkConfig.alarmHold = 0;
}
