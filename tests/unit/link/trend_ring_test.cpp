// Trend samples: decimation by roll period, the 500-sample ring, dropping
// undrawn samples, and the hand-over from the reader to the window thread.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "link_test_support.h"

using TrendRing = LinkTest;

namespace {
int samplesWritten() { return liveState.trendWriteIndex; }
}  // namespace

TEST_F(TrendRing, TenSecondsTakesEveryMeasurement) {
    linkConfig.decimation = TREND_DECIMATION[0];
    appSettings.rollIndex = 2;  // the window program's record, not the link's
    feedWord(10);
    feedWord(140);  // Limit 2, value 12
    EXPECT_EQ(2, samplesWritten());
    EXPECT_EQ(10, liveState.trendSamples[0]);
    EXPECT_EQ(12, liveState.trendSamples[1]);
}

TEST_F(TrendRing, ThirtySecondsTakesEveryThird) {
    linkConfig.decimation = TREND_DECIMATION[1];
    for (uint16_t value = 1; value <= 6; ++value) feedWord(value);
    EXPECT_EQ(2, samplesWritten());
    EXPECT_EQ(3, liveState.trendSamples[0]);
    EXPECT_EQ(6, liveState.trendSamples[1]);
}

TEST_F(TrendRing, SixtySecondsTakesEverySixth) {
    linkConfig.decimation = TREND_DECIMATION[2];
    for (uint16_t value = 1; value <= 5; ++value) feedWord(value);
    EXPECT_EQ(0, samplesWritten());
    feedWord(6);
    EXPECT_EQ(1, samplesWritten());
    EXPECT_EQ(6, liveState.trendSamples[0]);
}

TEST_F(TrendRing, OnlyMeasurementWordsCount) {
    linkConfig.decimation = TREND_DECIMATION[0];
    feedWord(400);
    feedWord(600);
    feedWord(3100);
    EXPECT_EQ(0, samplesWritten());
}

TEST_F(TrendRing, CountCarriesOverARollPeriodChange) {
    linkConfig.decimation = TREND_DECIMATION[2];
    for (uint16_t value = 1; value <= 4; ++value) feedWord(value);
    linkConfig.decimation = TREND_DECIMATION[0];
    feedWord(5);
    EXPECT_EQ(1, samplesWritten());
    EXPECT_EQ(5, liveState.trendSamples[0]);
}

TEST_F(TrendRing, WriteIndexWrapsAfterFiveHundredSamples) {
    linkConfig.decimation = TREND_DECIMATION[0];
    for (int i = 0; i < TREND_SIZE; ++i) feedWord(static_cast<uint16_t>(i % 100));
    EXPECT_EQ(0, samplesWritten());
    feedWord(77);
    EXPECT_EQ(1, samplesWritten());
    EXPECT_EQ(77, liveState.trendSamples[0]);
}

TEST_F(TrendRing, SkipBeforeFirstDrawLeavesReadIndex) {
    linkConfig.decimation = TREND_DECIMATION[0];
    for (int i = 0; i < 7; ++i) feedWord(1);
    skipPendingTrendSamples();
    EXPECT_EQ(0, liveState.trendReadIndex);
}

TEST_F(TrendRing, SkipAfterFirstDrawDropsUndrawnSamples) {
    linkConfig.decimation = TREND_DECIMATION[0];
    for (int i = 0; i < 7; ++i) feedWord(1);
    liveState.trendEmpty = 0;
    skipPendingTrendSamples();
    EXPECT_EQ(7, liveState.trendReadIndex);
}

namespace {

// A sample the test can tell from every other: the measurement is its number.
void appendNumbered(int32_t number) {
    liveState.measurement.store(number, std::memory_order_relaxed);
    appendTrendSample();
}

std::vector<int32_t> takeAll() {
    std::vector<int32_t> taken;
    for (int32_t sample; takeTrendSample(&sample);) taken.push_back(sample);
    return taken;
}

}  // namespace

// The reader thread parses measurements while the window thread draws the
// samples: every sample must arrive whole and in order. The producer keeps
// below the ring's size so that nothing is overwritten and the order can be
// checked exactly.
TEST_F(TrendRing, ReaderAndWindowThreadHandOverEverySampleInOrder) {
    linkConfig.decimation = TREND_DECIMATION[0];
    constexpr int COUNT = 20000;
    std::atomic<int> mismatches{0};
    std::thread window([&] {
        int expected = 0;
        while (expected < COUNT) {
            for (int32_t sample; takeTrendSample(&sample); ++expected)
                if (sample != expected % 128) mismatches.fetch_add(1);
        }
    });
    for (int i = 0; i < COUNT; ++i) {
        for (;;) {
            int write = liveState.trendWriteIndex.load(std::memory_order_relaxed);
            int read = liveState.trendReadIndex.load(std::memory_order_acquire);
            if ((write - read + TREND_SIZE) % TREND_SIZE < TREND_SIZE - 1) break;
            std::this_thread::yield();
        }
        feedWord(static_cast<uint16_t>(i % 128));
    }
    window.join();
    EXPECT_EQ(0, mismatches.load());
}

// A window thread stalled for laps of the ring (a blocked print) takes the
// newest samples in order, not a lap's remainder nor nothing at all.
TEST_F(TrendRing, AConsumerLapsBehindTakesTheNewestSamplesInOrder) {
    for (int32_t number = 0; number < 1234; ++number) appendNumbered(number);
    std::vector<int32_t> taken = takeAll();
    ASSERT_EQ(TREND_KEPT, taken.size());
    for (size_t i = 0; i < taken.size(); ++i) ASSERT_EQ(static_cast<int32_t>(1234 - TREND_KEPT + i), taken[i]) << i;
    appendNumbered(1234);
    EXPECT_EQ(std::vector<int32_t>{1234}, takeAll()) << "and goes on from there";
    EXPECT_EQ(liveState.trendWriteIndex.load(), liveState.trendReadIndex.load());
}

// The writer never waits: while the window thread takes in bursts, with
// stalls between in which the writer laps the ring, it overwrites slots
// that may be being read. Whatever is taken must be samples in the order
// written, never a newer value read where an older one stood.
TEST_F(TrendRing, AWriterThatNeverWaitsNeverTearsWhatIsTaken) {
    constexpr int32_t COUNT = 2000000;
    std::thread reader([] {
        for (int32_t number = 0; number < COUNT; ++number) appendNumbered(number);
    });
    auto written = [] { return liveState.trendSampleCount.load(std::memory_order_relaxed); };
    const uint32_t total = COUNT;
    int32_t last = -1;
    long taken = 0, outOfOrder = 0;
    auto takeBurst = [&](int most) {
        int32_t sample;
        for (int i = 0; i < most && takeTrendSample(&sample); ++i, ++taken) {
            outOfOrder += sample <= last;
            last = sample;
        }
    };
    while (written() < total) {
        takeBurst(1000);
        for (uint32_t from = written(); written() - from < TREND_KEPT + 100 && written() < total;)
            std::this_thread::yield();  // a stall: the writer laps the ring
    }
    reader.join();
    takeBurst(TREND_SIZE);
    EXPECT_EQ(0, outOfOrder);
    EXPECT_EQ(COUNT - 1, last) << "the newest sample is taken last";
    EXPECT_LT(taken, COUNT) << "the stalls overran the ring";
}
