// The alarm words taken from the ring the reader thread fills.
#include <gtest/gtest.h>

#include <vector>

#include "cli/device/live_feed.h"
#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "link/receive_parser.h"

class AlarmRing : public testing::Test {
protected:
    void SetUp() override { resetLiveState(); }
    void TearDown() override { resetLiveState(); }
    std::vector<uint16_t> taken(uint32_t* seen, uint32_t* lost) {
        std::vector<uint16_t> words;
        *lost = takeAlarmWords(seen, [&](uint16_t word) { words.push_back(word); });
        return words;
    }
};

TEST_F(AlarmRing, SeveralWordsBetweenTwoLooksAllArriveInOrder) {
    uint32_t seen = 0;
    uint32_t lost = 0;
    for (uint16_t word : {65010, 65011, 65036, 65012}) dispatchWord(word);
    dispatchWord(65003);  // the timing words before the alarm are not alarm words
    EXPECT_EQ((std::vector<uint16_t>{65010, 65011, 65036, 65012}), taken(&seen, &lost));
    EXPECT_EQ(0u, lost);
    EXPECT_TRUE(taken(&seen, &lost).empty());
    dispatchWord(65024);
    EXPECT_EQ((std::vector<uint16_t>{65024}), taken(&seen, &lost));
}

TEST_F(AlarmRing, WordsOverwrittenBeforeALookAreCountedNotMisread) {
    uint32_t seen = 0;
    uint32_t lost = 0;
    for (uint32_t i = 0; i < ALARM_RING_SIZE + 5; ++i) dispatchWord(static_cast<uint16_t>(65010 + i % 15));
    std::vector<uint16_t> words = taken(&seen, &lost);
    EXPECT_EQ(5u, lost);
    ASSERT_EQ(ALARM_RING_SIZE, words.size());
    EXPECT_EQ(65010 + 5 % 15, words.front()) << "the oldest kept is the sixth";
    EXPECT_EQ(65010 + (ALARM_RING_SIZE + 4) % 15, words.back());
}
