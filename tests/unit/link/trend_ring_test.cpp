// Trend samples: decimation by roll period, the 500-sample ring, dropping
// undrawn samples, and the hand-over from the reader to the window thread.
#include <atomic>
#include <thread>

#include "link_test_support.h"

using TrendRing = LinkTest;

namespace {
int samplesWritten() { return liveState.trendWriteIndex; }
}  // namespace

TEST_F(TrendRing, TenSecondsTakesEveryMeasurement) {
    appSettings.rollIndex = 0;
    feedWord(10);
    feedWord(140);  // Limit 2, value 12
    EXPECT_EQ(2, samplesWritten());
    EXPECT_EQ(20, liveState.trendSamples[0]);
    EXPECT_EQ(24, liveState.trendSamples[1]);
}

TEST_F(TrendRing, ThirtySecondsTakesEveryThird) {
    appSettings.rollIndex = 1;
    for (uint16_t value = 1; value <= 6; ++value) feedWord(value);
    EXPECT_EQ(2, samplesWritten());
    EXPECT_EQ(6, liveState.trendSamples[0]);
    EXPECT_EQ(12, liveState.trendSamples[1]);
}

TEST_F(TrendRing, SixtySecondsTakesEverySixth) {
    appSettings.rollIndex = 2;
    for (uint16_t value = 1; value <= 5; ++value) feedWord(value);
    EXPECT_EQ(0, samplesWritten());
    feedWord(6);
    EXPECT_EQ(1, samplesWritten());
    EXPECT_EQ(12, liveState.trendSamples[0]);
}

TEST_F(TrendRing, OnlyMeasurementWordsCount) {
    appSettings.rollIndex = 0;
    feedWord(400);
    feedWord(600);
    feedWord(3100);
    EXPECT_EQ(0, samplesWritten());
}

TEST_F(TrendRing, CountCarriesOverARollPeriodChange) {
    appSettings.rollIndex = 2;
    for (uint16_t value = 1; value <= 4; ++value) feedWord(value);
    appSettings.rollIndex = 0;
    feedWord(5);
    EXPECT_EQ(1, samplesWritten());
    EXPECT_EQ(10, liveState.trendSamples[0]);
}

TEST_F(TrendRing, WriteIndexWrapsAfterFiveHundredSamples) {
    appSettings.rollIndex = 0;
    for (int i = 0; i < TREND_SIZE; ++i) feedWord(static_cast<uint16_t>(i % 100));
    EXPECT_EQ(0, samplesWritten());
    feedWord(77);
    EXPECT_EQ(1, samplesWritten());
    EXPECT_EQ(154, liveState.trendSamples[0]);
}

TEST_F(TrendRing, SkipBeforeFirstDrawLeavesReadIndex) {
    appSettings.rollIndex = 0;
    for (int i = 0; i < 7; ++i) feedWord(1);
    skipPendingTrendSamples();
    EXPECT_EQ(0, liveState.trendReadIndex);
}

TEST_F(TrendRing, SkipAfterFirstDrawDropsUndrawnSamples) {
    appSettings.rollIndex = 0;
    for (int i = 0; i < 7; ++i) feedWord(1);
    liveState.trendEmpty = 0;
    skipPendingTrendSamples();
    EXPECT_EQ(7, liveState.trendReadIndex);
}

// The reader thread parses measurements while the window thread draws the
// samples: every sample must arrive whole and in order. The producer keeps
// below the ring's size so that nothing is overwritten and the order can be
// checked exactly.
TEST_F(TrendRing, ReaderAndWindowThreadHandOverEverySampleInOrder) {
    appSettings.rollIndex = 0;
    constexpr int COUNT = 20000;
    std::atomic<int> mismatches{0};
    std::thread window([&] {
        int expected = 0;
        uint16_t read = 0;
        while (expected < COUNT) {
            uint16_t write = liveState.trendWriteIndex.load(std::memory_order_acquire);
            while (read != write) {
                int32_t sample = liveState.trendSamples[read].load(std::memory_order_relaxed);
                if (sample != (expected % 128) * 2) mismatches.fetch_add(1);
                ++expected;
                read = static_cast<uint16_t>(read + 1 == TREND_SIZE ? 0 : read + 1);
            }
            liveState.trendReadIndex.store(read, std::memory_order_release);
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
