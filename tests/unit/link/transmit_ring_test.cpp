// The TransmitRing carries frame bytes from the window thread to the writer
// thread: whole frames or nothing, never over unsent bytes, and nothing while
// no link is open.
#include <thread>
#include <vector>

#include "link_test_support.h"

namespace {

int readyCount = 0;
void countReady() { ++readyCount; }

class TransmitRing : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        readyCount = 0;
        setTransmitReadyHook(countReady);
        setTransmitLinkOpen(1);
    }

    static std::vector<uint8_t> takeAll() {
        uint8_t buffer[TRANSMIT_CHUNK_SIZE];
        int count = takeTransmitBytes(buffer);
        return std::vector<uint8_t>(buffer, buffer + count);
    }
};

const std::vector<uint8_t> REQUEST_FRAME = {0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D};

std::vector<uint8_t> frameBytes(uint16_t word) {
    std::vector<uint8_t> frame(FRAME_SIZE);
    buildFrame(word, frame.data());
    return frame;
}

}  // namespace

TEST_F(TransmitRing, SentWordReachesTheWriterAsItsFrame) {
    EXPECT_EQ(1, sendCommandWord(65050));
    EXPECT_EQ(1, readyCount);
    EXPECT_EQ(REQUEST_FRAME, takeAll());
}

TEST_F(TransmitRing, SendRequestFramesRequestData) {
    EXPECT_EQ(1, sendRequest());
    EXPECT_EQ(REQUEST_FRAME, takeAll());
}

TEST_F(TransmitRing, EmptyPutStillSignalsTheWriter) {
    const uint8_t none[1] = {0};
    EXPECT_EQ(1, putTransmitBytes(none, 0));
    EXPECT_EQ(1, readyCount);
    EXPECT_EQ(0, transmitRingPending());
}

TEST_F(TransmitRing, TakingFromEmptyRingReturnsNothingAndMovesNothing) {
    uint8_t buffer[TRANSMIT_CHUNK_SIZE];
    EXPECT_EQ(0, takeTransmitBytes(buffer));
    EXPECT_EQ(0, transmitRingPending());
    sendRequest();
    EXPECT_EQ(FRAME_SIZE, transmitRingPending());
    EXPECT_EQ(REQUEST_FRAME, takeAll());
}

TEST_F(TransmitRing, FiveFramesFitAndTheSixthIsDroppedWhole) {
    for (uint16_t word = 1; word <= 5; ++word) ASSERT_EQ(1, sendCommandWord(word));
    EXPECT_EQ(0, sendCommandWord(6));
    EXPECT_EQ(5, readyCount);
    std::vector<uint8_t> expected;
    for (uint16_t word = 1; word <= 5; ++word) {
        std::vector<uint8_t> frame = frameBytes(word);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(expected, takeAll());
}

TEST_F(TransmitRing, ThirtyOneBytesFillTheRingAndNoneIsOverwritten) {
    std::vector<uint8_t> bytes(31);
    for (int i = 0; i < 31; ++i) bytes[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(1, putTransmitBytes(bytes.data(), 30));
    EXPECT_EQ(1, putTransmitBytes(bytes.data() + 30, 1));
    const uint8_t extra[1] = {0xEE};
    EXPECT_EQ(0, putTransmitBytes(extra, 1));
    EXPECT_EQ(31, transmitRingPending());
    EXPECT_EQ(bytes, takeAll());
}

TEST_F(TransmitRing, FrameFitsAgainOnceTheWriterHasDrained) {
    for (uint16_t word = 1; word <= 5; ++word) sendCommandWord(word);
    EXPECT_EQ(0, sendRequest());
    takeAll();
    EXPECT_EQ(1, sendRequest());
    EXPECT_EQ(REQUEST_FRAME, takeAll());
}

TEST_F(TransmitRing, BytesSurviveWrappingAroundTheRingEnd) {
    for (int round = 0; round < 40; ++round) {
        uint16_t word = static_cast<uint16_t>(round * 997);
        ASSERT_EQ(1, sendCommandWord(word));
        ASSERT_EQ(frameBytes(word), takeAll()) << round;
    }
}

TEST_F(TransmitRing, NothingIsStoredWhileNoLinkIsOpen) {
    setTransmitLinkOpen(0);
    EXPECT_EQ(0, sendRequest());
    EXPECT_EQ(0, readyCount);
    setTransmitLinkOpen(1);
    EXPECT_EQ(0, transmitRingPending());
    EXPECT_TRUE(takeAll().empty());
}

TEST_F(TransmitRing, PumpWhileNoLinkIsOpenDoesNotReachTheNextDevice) {
    setTransmitLinkOpen(0);
    queueCommandWord(3100, 50);
    EXPECT_EQ(1, pumpCommandWord());
    setTransmitLinkOpen(1);
    EXPECT_TRUE(takeAll().empty());
}

TEST_F(TransmitRing, OpeningALinkDiscardsWhatTheLastOneLeftUnsent) {
    sendCommandWord(3150);
    setTransmitLinkOpen(0);
    setTransmitLinkOpen(1);
    EXPECT_EQ(0, transmitRingPending());
    sendRequest();
    EXPECT_EQ(REQUEST_FRAME, takeAll());
}

// One window thread framing words, one writer thread draining: the stream the
// writer sees is exactly the accepted frames, whole and in order.
TEST_F(TransmitRing, WriterSeesExactlyTheAcceptedFramesInOrder) {
    setTransmitReadyHook(nullptr);
    constexpr int COUNT = 30000;
    std::vector<char> accepted(COUNT, 0);
    std::atomic<int> producerDone{0};
    std::vector<uint8_t> stream;
    std::thread writer([&] {
        uint8_t buffer[TRANSMIT_CHUNK_SIZE];
        for (;;) {
            int done = producerDone.load(std::memory_order_acquire);
            int count = takeTransmitBytes(buffer);
            stream.insert(stream.end(), buffer, buffer + count);
            if (count == 0 && done) break;
            if (count == 0) std::this_thread::yield();
        }
    });
    for (int i = 0; i < COUNT; ++i) accepted[i] = static_cast<char>(sendCommandWord(static_cast<uint16_t>(i)));
    producerDone.store(1, std::memory_order_release);
    writer.join();

    std::vector<uint8_t> expected;
    int acceptedCount = 0;
    for (int i = 0; i < COUNT; ++i) {
        if (!accepted[i]) continue;
        ++acceptedCount;
        std::vector<uint8_t> frame = frameBytes(static_cast<uint16_t>(i));
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_GT(acceptedCount, 0);
    EXPECT_EQ(expected.size(), stream.size());
    EXPECT_TRUE(expected == stream);
}
