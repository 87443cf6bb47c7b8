// The golden recordings against the simulator's own reader, held to the same
// table as the core's (tests/data/recording-outcomes.txt).
#include <gtest/gtest.h>

#include "tests/support/golden_recordings.h"
#include "tools/sim/replay_file.h"

TEST(SimGoldenRecordings, TheSimulatorsReaderGivesEachFilesOutcome) {
    std::vector<GoldenRecording> files = goldenRecordings(ELQ_TEST_DATA_DIR);
    ASSERT_EQ(6u, files.size());
    for (const GoldenRecording& file : files) {
        ASSERT_FALSE(file.bytes.empty()) << file.name;
        sim::ReplayFile replay;
        std::string error;
        int read = sim::parseReplay(file.bytes.data(), file.bytes.size(), replay, error);
        EXPECT_EQ(file.read, read == 1) << file.name << ": " << error;
        EXPECT_EQ(file.devicePackets, replay.packets.size()) << file.name;
        EXPECT_EQ(file.lastPacketCutOff, !replay.warning.empty()) << file.name;
    }
}
