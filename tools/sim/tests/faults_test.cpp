// Spoiled lines must be ones the program drops: checked against a plain
// reading of the line rule (sum of the bytes before the last equals the last).
#include <gtest/gtest.h>

#include <vector>

#include "tools/sim/device_wire.h"
#include "tools/sim/line_faults.h"

using namespace sim;

namespace {

std::vector<std::vector<uint8_t>> splitLines(const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> lines(1);
    for (uint8_t byte : bytes) {
        if (byte == 0x0D) {
            lines.emplace_back();
        } else {
            lines.back().push_back(byte);
        }
    }
    lines.pop_back();  // what follows the last CR
    return lines;
}

bool sumHolds(const std::vector<uint8_t>& line) {
    if (line.empty()) return false;
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < line.size(); ++i) sum += line[i];
    return (sum & 0xFF) == line.back();
}

std::vector<uint8_t> writeWords(const LineFaults& faults, int count, uint16_t word) {
    LineWriter writer(faults, 42);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i) writer.append(word, bytes);
    return bytes;
}

}  // namespace

TEST(LineFaultsOutput, CleanLineIsTheEncodedWord) {
    std::vector<uint8_t> bytes = writeWords(LineFaults{}, 1, 3001);
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0xB1, 0xB1, 0x91, 0xF4, 0x0D}), bytes);
}

TEST(LineFaultsOutput, DropAllSendsNothingDropNoneSendsAll) {
    EXPECT_TRUE(writeWords(LineFaults{100, 0, false}, 50, 57).empty());
    EXPECT_EQ(50u, splitLines(writeWords(LineFaults{0, 0, false}, 50, 57)).size());
}

TEST(LineFaultsOutput, DropShareIsRoughlyThePercentage) {
    size_t kept = splitLines(writeWords(LineFaults{30, 0, false}, 2000, 57)).size();
    EXPECT_GT(kept, 1250u);
    EXPECT_LT(kept, 1550u);
}

TEST(LineFaultsOutput, CorruptedLinesFailTheSumAndCarryNoNul) {
    for (uint16_t word : {uint16_t{57}, uint16_t{3001}, uint16_t{65265}}) {
        std::vector<std::vector<uint8_t>> lines = splitLines(writeWords(LineFaults{0, 100, false}, 100, word));
        ASSERT_EQ(100u, lines.size());
        for (const auto& line : lines) {
            EXPECT_FALSE(sumHolds(line));
            for (uint8_t byte : line) EXPECT_NE(0, byte);
        }
    }
}

TEST(LineFaultsOutput, GarbageLinesFailTheSumAndRealLinesStayIntact) {
    std::vector<std::vector<uint8_t>> lines = splitLines(writeWords(LineFaults{0, 0, true}, 400, 3001));
    size_t good = 0;
    size_t garbage = 0;
    for (const auto& line : lines) {
        for (uint8_t byte : line) ASSERT_NE(0, byte);
        if (line == std::vector<uint8_t>{0x01, 0xB1, 0xB1, 0x91, 0xF4}) {
            ++good;
        } else {
            EXPECT_FALSE(sumHolds(line));
            EXPECT_LE(line.size(), 4u);
            ++garbage;
        }
    }
    EXPECT_EQ(400u, good);
    EXPECT_GT(garbage, 50u);
}
