// The golden recordings against the simulator's own reader, held to the same
// table as the core's (tests/data/recording-outcomes.txt).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/sim/replay_file.h"

TEST(SimGoldenRecordings, TheSimulatorsReaderGivesEachFilesOutcome) {
    std::ifstream table(std::string(ELQ_TEST_DATA_DIR) + "/recording-outcomes.txt");
    ASSERT_TRUE(table.good());
    int files = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, outcome, cutOff;
        size_t devicePackets = 0;
        fields >> name >> outcome >> devicePackets >> cutOff;
        std::ifstream file(std::string(ELQ_TEST_DATA_DIR) + "/recordings/" + name, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(bytes.empty()) << name;
        sim::ReplayFile replay;
        std::string error;
        int read = sim::parseReplay(bytes.data(), bytes.size(), replay, error);
        EXPECT_EQ(outcome == "read", read == 1) << name << ": " << error;
        EXPECT_EQ(devicePackets, replay.packets.size()) << name;
        EXPECT_EQ(cutOff == "yes", !replay.warning.empty()) << name;
        ++files;
    }
    EXPECT_EQ(6, files);
}
