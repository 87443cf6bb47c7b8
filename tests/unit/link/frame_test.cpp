// The 6-byte command frame: nibbles of the word in the high halves, 1 in the
// low halves, the sum byte and CR.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "link/command_frames.h"

namespace {

std::array<uint8_t, FRAME_SIZE> frameOf(uint16_t word) {
    std::array<uint8_t, FRAME_SIZE> frame{};
    buildFrame(word, frame.data());
    return frame;
}

using Frame = std::array<uint8_t, FRAME_SIZE>;

}  // namespace

TEST(CommandFrame, WorkedExamplesMatchWireBytes) {
    EXPECT_EQ((Frame{0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D}), frameOf(CMD_REQUEST_DATA));
    EXPECT_EQ((Frame{0xF1, 0xE1, 0x11, 0xC1, 0xA4, 0x0D}), frameOf(CMD_RESET_MAX_PEAK));
    EXPECT_EQ((Frame{0x01, 0xD1, 0x51, 0xC1, 0xE4, 0x0D}), frameOf(3420));
    EXPECT_EQ((Frame{0x01, 0x01, 0x01, 0x01, 0x04, 0x0D}), frameOf(0));
}

TEST(CommandFrame, CommandWordValues) {
    EXPECT_EQ(65050, CMD_REQUEST_DATA);
    EXPECT_EQ(65051, CMD_SPACE_KEY);
    EXPECT_EQ(65052, CMD_RESET_MAX_PEAK);
    EXPECT_EQ(65053, CMD_RESET_MIN_PEAK);
}

TEST(CommandFrame, EveryWordHasOnlyItsTerminatorAsCarriageReturnOrNul) {
    for (int word = 0; word <= 0xFFFF; ++word) {
        Frame frame = frameOf(static_cast<uint16_t>(word));
        uint16_t carried = 0;
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(0x01, frame[i] & 0x0F) << word;
            carried = static_cast<uint16_t>(carried << 4 | frame[i] >> 4);
        }
        ASSERT_EQ(word, carried);
        ASSERT_EQ(static_cast<uint8_t>(frame[0] + frame[1] + frame[2] + frame[3]), frame[4]);
        ASSERT_EQ(0x04, frame[4] & 0x0F) << word;
        ASSERT_EQ(0x0D, frame[5]);
    }
}
