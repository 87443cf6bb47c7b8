#include "link/line_taps.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "link/command_frames.h"
#include "link/receive_parser.h"
#include "link_test_support.h"

namespace {

// A subscriber's own state, reached through its context.
struct Collected {
    std::string bytes;
    static void take(void* self, const uint8_t* bytes, int count) {
        static_cast<Collected*>(self)->bytes.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
    }
};

}  // namespace

TEST_F(LinkTest, EachSubscriberSeesTheBytesWithItsOwnContextUntilItLeaves) {
    Collected recorder, share;
    const BytesTap recorderTap{Collected::take, &recorder};
    const BytesTap shareTap{Collected::take, &share};
    ASSERT_TRUE(receivedTaps.add(&recorderTap));
    ASSERT_TRUE(receivedTaps.add(&shareTap));
    const uint8_t first[] = {0x31, 0x91, 0xC2, 0x0D};
    parseReceivedBytes(first, 4);
    receivedTaps.remove(&recorderTap);
    const uint8_t second[] = {0x32};
    parseReceivedBytes(second, 1);
    EXPECT_EQ(std::string("\x31\x91\xC2\x0D", 4), recorder.bytes);
    EXPECT_EQ(std::string("\x31\x91\xC2\x0D\x32", 5), share.bytes);

    // Sent frames: only what the ring stored.
    Collected sent;
    const BytesTap sentTap{Collected::take, &sent};
    ASSERT_TRUE(sentTaps.add(&sentTap));
    sendRequest();  // no link open: dropped
    EXPECT_EQ("", sent.bytes);
    setTransmitLinkOpen(1);
    sendRequest();
    EXPECT_EQ(6u, sent.bytes.size());
    sentTaps.remove(&sentTap);
    receivedTaps.remove(&shareTap);
}

TEST(TapSlots, AFullSetRefusesAndAFreedSlotIsTakenAgain) {
    TapSlots<SignalTap> taps;
    int calls[TAP_SLOTS + 1] = {};
    SignalTap subscribers[TAP_SLOTS + 1];
    for (int i = 0; i <= TAP_SLOTS; ++i)
        subscribers[i] = SignalTap{[](void* count) { ++*static_cast<int*>(count); }, &calls[i]};
    for (int i = 0; i < TAP_SLOTS; ++i) ASSERT_TRUE(taps.add(&subscribers[i]));
    EXPECT_FALSE(taps.add(&subscribers[TAP_SLOTS]));
    taps.remove(&subscribers[1]);
    EXPECT_TRUE(taps.add(&subscribers[TAP_SLOTS]));
    taps.call();
    EXPECT_EQ(1, calls[0]);
    EXPECT_EQ(0, calls[1]);
    EXPECT_EQ(1, calls[TAP_SLOTS]);
}

// The subscriber's state may go as soon as remove returns, so remove must
// not return while the reader thread is still inside the subscriber.
TEST(TapSlots, RemoveWaitsForACallUnderWayAndNoCallFollows) {
    struct Gate {
        std::atomic<int> entered{0}, release{0}, calls{0};
    } gate;
    TapSlots<SignalTap> taps;
    const SignalTap tap{[](void* context) {
                            Gate* g = static_cast<Gate*>(context);
                            g->calls.fetch_add(1);
                            g->entered.store(1);
                            while (!g->release.load()) std::this_thread::yield();
                        },
                        &gate};
    // The other slots taken, so that a probe finds room only once the
    // remover has emptied the tap's slot.
    void (*const nothing)(void*) = [](void*) {};
    SignalTap others[TAP_SLOTS - 1];
    for (SignalTap& other : others) other = SignalTap{nothing, nullptr};
    ASSERT_TRUE(taps.add(&tap));
    for (const SignalTap& other : others) ASSERT_TRUE(taps.add(&other));
    std::thread reader([&] { taps.call(); });
    while (!gate.entered.load()) std::this_thread::yield();
    std::atomic<int> removed{0};
    std::thread remover([&] {
        taps.remove(&tap);
        removed.store(1);
    });
    const SignalTap probe{nothing, nullptr};
    while (!taps.add(&probe)) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0, removed.load());
    gate.release.store(1);
    remover.join();
    reader.join();
    EXPECT_EQ(1, removed.load());
    taps.call();
    EXPECT_EQ(1, gate.calls.load());
}
