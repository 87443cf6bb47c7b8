// The status line on a clock the test turns: shown at most every STATUS_MS
// unless forced, never off a terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "cli/console/status_line.h"

namespace {

using Clock = StatusLine::Clock;
const Clock::time_point T0 = Clock::time_point() + std::chrono::hours(1);

Clock::time_point at(int ms) { return T0 + std::chrono::milliseconds(ms); }

}  // namespace

TEST(StatusLine, OnATerminalTheFirstLineAtOnceThenEveryStatusMsOrWhenForced) {
    StatusLine status(true);
    EXPECT_TRUE(status.due(false, at(0)));
    EXPECT_FALSE(status.due(false, at(StatusLine::STATUS_MS - 1)));
    EXPECT_TRUE(status.due(true, at(StatusLine::STATUS_MS - 1)));
    EXPECT_FALSE(status.due(false, at(2 * StatusLine::STATUS_MS - 2)));
    EXPECT_TRUE(status.due(false, at(2 * StatusLine::STATUS_MS - 1)));
}

TEST(StatusLine, OffATerminalOrHiddenThereIsNoneEvenForced) {
    StatusLine piped(false);
    EXPECT_FALSE(piped.due(true, at(0)));
    StatusLine hidden(true);
    hidden.hide();
    EXPECT_FALSE(hidden.due(true, at(0)));
    EXPECT_FALSE(hidden.shown());
}
