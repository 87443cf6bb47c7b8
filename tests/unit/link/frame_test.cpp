#include <gtest/gtest.h>

#include "link/command_frames.h"

TEST(CommandFrame, RequestDataMatchesWireBytes) {
    uint8_t frame[FRAME_SIZE];
    buildFrame(CMD_REQUEST_DATA, frame);
    const uint8_t expected[FRAME_SIZE] = {0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D};
    EXPECT_EQ(0, memcmp(frame, expected, FRAME_SIZE));
}
