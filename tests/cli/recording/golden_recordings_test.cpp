// The golden recordings against the core's reader: each file's outcome as
// tests/data/recording-outcomes.txt has it (the simulator's reader is held
// to the same table in tools/sim/tests/golden_test.cpp).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "link/line_recording.h"

TEST(GoldenRecordings, TheCoresReaderGivesEachFilesOutcome) {
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
        RecordingContents contents;
        RecordingReadResult result = readRecording(bytes.data(), bytes.size(), &contents);
        EXPECT_EQ(outcome == "read", result.error == RECORDING_OK) << name << ": " << result.text;
        size_t fromDevice = 0;
        for (const RecordedPacket& packet : contents.packets) fromDevice += packet.direction == FROM_DEVICE;
        EXPECT_EQ(devicePackets, fromDevice) << name;
        EXPECT_EQ(cutOff == "yes", contents.truncatedLastPacket) << name;
        ++files;
    }
    EXPECT_EQ(6, files);
}
