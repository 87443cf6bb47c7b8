// The CommandQueue paces parameter writes: one word per pump step, at most 31
// pending, and a word that does not fit is refused without disturbing the
// words already queued.
#include <cstring>
#include <vector>

#include "link_test_support.h"

namespace {

class CommandQueueTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        setTransmitLinkOpen(1);
    }

    // Pumps one word and reads back the word its frame carries; -1 when the
    // pump found the queue empty.
    static int pumpAndDecode() {
        if (pumpCommandWord() == 0) return -1;
        uint8_t buffer[TRANSMIT_CHUNK_SIZE];
        int count = takeTransmitBytes(buffer);
        if (count != FRAME_SIZE) return -2;
        return buffer[0] >> 4 << 12 | buffer[1] >> 4 << 8 | buffer[2] >> 4 << 4 | buffer[3] >> 4;
    }

    static std::vector<int> drain() {
        std::vector<int> words;
        for (int word = pumpAndDecode(); word != -1; word = pumpAndDecode()) words.push_back(word);
        return words;
    }
};

using CommandQueue = CommandQueueTest;

}  // namespace

TEST_F(CommandQueue, WordIsCodePlusValueModulo65536) {
    EXPECT_EQ(1, queueCommandWord(4500, 61040));
    EXPECT_EQ(std::vector<int>{4}, drain());
}

TEST_F(CommandQueue, PumpOnEmptyQueueSendsNothing) {
    EXPECT_EQ(0, pumpCommandWord());
    EXPECT_EQ(0, transmitRingPending());
}

TEST_F(CommandQueue, WordsLeaveOnePerPumpInOrder) {
    queueCommandWord(3300, 120);
    queueCommandWord(3040, 2);
    queueCommandWord(3010, 2);
    EXPECT_EQ(3, commandQueuePending());
    EXPECT_EQ(3420, pumpAndDecode());
    EXPECT_EQ(2, commandQueuePending());
    EXPECT_EQ(3042, pumpAndDecode());
    EXPECT_EQ(3012, pumpAndDecode());
    EXPECT_EQ(1, commandQueueEmpty());
    EXPECT_EQ(-1, pumpAndDecode());
}

TEST_F(CommandQueue, AllParametersInCodeOrderWithTheirValues) {
    // Distinct values, set by byte offset in the record so that a field mixed
    // up with another shows.
    for (int i = 0; i < 16; ++i) {
        uint16_t value = static_cast<uint16_t>(i + 1);
        std::memcpy(reinterpret_cast<char*>(&deviceParameters) + 2 * i, &value, 2);
    }
    // code, offset of the field in the record
    const int expected[16][2] = {{3000, 0},  {3010, 10}, {3020, 8},  {3030, 18},
                                 {3040, 20}, {3050, 24}, {3060, 22}, {3065, 30},
                                 {3070, 26}, {3100, 2},  {3200, 12}, {3300, 4},
                                 {3600, 14}, {3900, 6},  {4200, 16}, {4500, 28}};
    EXPECT_EQ(1, queueAllParameters());
    EXPECT_EQ(16, commandQueuePending());
    std::vector<int> words;
    for (int tick = 0; tick < 16; ++tick) words.push_back(pumpAndDecode());
    EXPECT_EQ(1, commandQueueEmpty());
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(expected[i][0] + expected[i][1] / 2 + 1, words[i]) << "word " << i;
}

TEST_F(CommandQueue, ThirtyOneWordsFillTheQueue) {
    for (uint16_t i = 0; i < 31; ++i) ASSERT_EQ(1, queueCommandWord(3100, i));
    EXPECT_EQ(31, commandQueuePending());
    EXPECT_EQ(0, commandQueueEmpty());
}

TEST_F(CommandQueue, WordIntoFullQueueIsRefusedAndQueueKept) {
    for (uint16_t i = 0; i < 31; ++i) queueCommandWord(3100, i);
    EXPECT_EQ(0, queueCommandWord(4500, 60));
    EXPECT_EQ(31, commandQueuePending());
    std::vector<int> words = drain();
    ASSERT_EQ(31u, words.size());
    for (int i = 0; i < 31; ++i) EXPECT_EQ(3100 + i, words[i]);
}

TEST_F(CommandQueue, QueueWrapsAroundItsEnd) {
    for (uint16_t i = 0; i < 20; ++i) queueCommandWord(3300, i);
    EXPECT_EQ(20u, drain().size());
    for (uint16_t i = 0; i < 31; ++i) ASSERT_EQ(1, queueCommandWord(3600, i));
    EXPECT_EQ(0, queueCommandWord(3600, 99));
    std::vector<int> words = drain();
    ASSERT_EQ(31u, words.size());
    for (int i = 0; i < 31; ++i) EXPECT_EQ(3600 + i, words[i]);
}

TEST_F(CommandQueue, AllParametersThatDoNotFitQueueNothing) {
    for (uint16_t i = 0; i < 16; ++i) queueCommandWord(3100, i);
    EXPECT_EQ(0, queueAllParameters());
    EXPECT_EQ(16, commandQueuePending());
    for (uint16_t i = 0; i < 15; ++i) queueCommandWord(3100, i);
    EXPECT_EQ(31, commandQueuePending());
}

TEST_F(CommandQueue, AllParametersFitBesideFifteenPending) {
    for (uint16_t i = 0; i < 15; ++i) queueCommandWord(3100, i);
    EXPECT_EQ(1, queueAllParameters());
    EXPECT_EQ(31, commandQueuePending());
}

TEST_F(CommandQueue, ClearEmptiesTheQueue) {
    queueCommandWord(3100, 1);
    clearCommandQueue();
    EXPECT_EQ(1, commandQueueEmpty());
    EXPECT_EQ(0, pumpCommandWord());
}
