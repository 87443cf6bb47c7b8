#include <gtest/gtest.h>

#include "tools/sim/frame_log.h"

using namespace sim;

TEST(FrameLogLines, WordLineIsSecondsAndWord) {
    FrameEvent event;
    event.kind = FrameEvent::WORD;
    event.word = 65050;
    EXPECT_EQ("12.345 65050", formatFrameEvent(12345, event));
    EXPECT_EQ("0.007 65050", formatFrameEvent(7, event));
}

TEST(FrameLogLines, BadLineListsItsBytesInHex) {
    FrameEvent event;
    event.kind = FrameEvent::BAD;
    event.count = 3;
    event.bytes[0] = 0xF1;
    event.bytes[1] = 0x0A;
    event.bytes[2] = 0x85;
    EXPECT_EQ("1.000 BAD F1 0A 85", formatFrameEvent(1000, event));
}
