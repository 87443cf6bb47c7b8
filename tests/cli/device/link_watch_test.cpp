// A link's gaps on a clock the test turns: when silence is a gap, when the
// port is tried again, the words the user reads, and the count and length.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "cli/console/clock.h"
#include "cli/device/link_watch.h"

namespace {

using Clock = LinkGaps::Clock;
using Ms = std::chrono::milliseconds;

const Clock::time_point T0 = Clock::time_point() + std::chrono::hours(1);
constexpr int64_t EPOCH_MS = 1765000000000;  // what the wall clock says at T0 + 1500 ms

}  // namespace

TEST(LinkGaps, SilenceIsAGapOnlyAfterASecondAndOnlyOnceTheDeviceWasHeard) {
    LinkGaps gaps("/dev/ttyUSB0");
    EXPECT_FALSE(gaps.silent(T0 + Ms(5000)));  // never heard: the first line's wait is LinkWatch's
    gaps.heardAt(T0);
    EXPECT_FALSE(gaps.silent(T0 + Ms(999)));
    EXPECT_TRUE(gaps.silent(T0 + Ms(1000)));
    gaps.lost(T0 + Ms(1000), EPOCH_MS);
    EXPECT_FALSE(gaps.silent(T0 + Ms(5000)));  // inside the gap it is not lost again
}

TEST(LinkGaps, AGapIsDatedFromTheLastLineTriedAtOnceThenEveryTwoSecondsAndMeasuredToTheFirstLineBack) {
    LinkGaps gaps("/dev/ttyUSB0");
    gaps.heardAt(T0);
    std::string lost = gaps.lost(T0 + Ms(1500), EPOCH_MS);
    EXPECT_EQ("elq770ctl: /dev/ttyUSB0: link lost at " + isoTimestamp(EPOCH_MS - 1500) +
                  "; trying the port again every 2 s",
              lost);
    EXPECT_TRUE(gaps.inside());
    EXPECT_TRUE(gaps.retryDue(T0 + Ms(1500)));
    gaps.tried(T0 + Ms(1500));
    EXPECT_FALSE(gaps.retryDue(T0 + Ms(3499)));
    EXPECT_TRUE(gaps.retryDue(T0 + Ms(3500)));
    EXPECT_EQ("elq770ctl: /dev/ttyUSB0: link back after 4.2 s", gaps.back(T0 + Ms(4200)));
    EXPECT_FALSE(gaps.inside());
    EXPECT_FALSE(gaps.retryDue(T0 + Ms(9000)));
    EXPECT_FALSE(gaps.silent(T0 + Ms(5199)));  // the line back counts as heard
    EXPECT_EQ(1, gaps.gaps());
    EXPECT_EQ("1 link gaps (4.2 s)", gaps.summaryText());
}

TEST(LinkGaps, ARunEndingInsideAGapCountsItToTheEndAndOnlyOnce) {
    LinkGaps gaps("COM3");
    gaps.heardAt(T0);
    gaps.lost(T0 + Ms(1000), EPOCH_MS);
    gaps.endInside(T0 + Ms(3500));
    gaps.endInside(T0 + Ms(9000));
    EXPECT_EQ("1 link gaps (3.5 s)", gaps.summaryText());
    // A hang-up before any line: the gap counts from the hang-up.
    LinkGaps early("COM3");
    early.lost(T0, EPOCH_MS);
    EXPECT_EQ("elq770ctl: COM3: link back after 2.0 s", early.back(T0 + Ms(2000)));
}
