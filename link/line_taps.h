// Subscribers to what crosses the link: the device's bytes as they arrive,
// the command frames as they are stored for sending, and the end of each
// parameter answer. A program may have several at once (a recording and a
// share of the line in the same gateway), each with its own state.
//
// Threads: a tap is called on the thread that moves the bytes (the reader
// thread for received bytes and answers; whoever calls putTransmitBytes for
// sent frames), so it must not wait and should not allocate. add and remove
// may be called from any thread while the link runs; they are lock-free
// compare-exchanges on a few fixed slots. remove returns once no call to the
// removed subscriber is under way, so its state may go right after; it
// must therefore never be called from inside a tap.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

constexpr int TAP_SLOTS = 4;

// A subscriber: the function and the context it is called with. The record
// belongs to the subscriber and must outlive its subscription.
struct BytesTap {
    void (*take)(void* context, const uint8_t* bytes, int count);
    void* context;
};
struct SignalTap {
    void (*take)(void* context);
    void* context;
};

template <typename Tap>
class TapSlots {
public:
    // false when every slot is taken.
    bool add(const Tap* tap) {
        for (std::atomic<const Tap*>& slot : slots_) {
            const Tap* empty = nullptr;
            if (slot.compare_exchange_strong(empty, tap)) return true;
        }
        return false;
    }

    void remove(const Tap* tap) {
        for (std::atomic<const Tap*>& slot : slots_) {
            const Tap* expected = tap;
            slot.compare_exchange_strong(expected, nullptr);
        }
        // Sequentially consistent with call's count and loads: a call that
        // began before the slot was emptied is counted here, and one that
        // begins after it finds the slot empty.
        while (calling_.load() != 0) std::this_thread::yield();
    }

    template <typename... Args>
    void call(Args... args) {
        calling_.fetch_add(1);
        for (std::atomic<const Tap*>& slot : slots_) {
            const Tap* tap = slot.load();
            if (tap != nullptr) tap->take(tap->context, args...);
        }
        calling_.fetch_sub(1, std::memory_order_release);
    }

    // Tests: forgets every subscriber, with no call under way.
    void clear() {
        for (std::atomic<const Tap*>& slot : slots_) slot.store(nullptr);
    }

private:
    std::atomic<const Tap*> slots_[TAP_SLOTS]{};
    std::atomic<int> calling_{0};
};

// Called by parseReceivedBytes on the reader thread with every chunk it
// takes, before it is parsed, so that a recorder sees the bytes as they
// arrived.
extern TapSlots<BytesTap> receivedTaps;
// Called by putTransmitBytes with every group of bytes it stored (a whole
// command frame); never for dropped bytes.
extern TapSlots<BytesTap> sentTaps;
// Called by the parser at the end of each parameter answer, once the record
// is stored; the window program binds it to SetEvent(ReplyEvent).
extern TapSlots<SignalTap> replyTaps;
