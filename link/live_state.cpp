#include "link/live_state.h"
#include "link/live_state_testing.h"

const int TREND_DECIMATION[3] = {1, 3, 6};

LiveState liveState;

void resetLiveState() {
    liveState.measurement = NO_VALUE;
    liveState.maxPeak = NO_VALUE;
    liveState.minPeak = NO_VALUE;
    liveState.readoutsChanged = 0;
    liveState.linkWatchdog = LINK_WATCHDOG_AT_START;
    liveState.alarmHoldCount = 0;
    liveState.deviceTextLength = 0;
    for (auto& sample : liveState.trendSamples) sample.store(0, std::memory_order_relaxed);
    liveState.trendWriteIndex = 0;
    liveState.trendReadIndex = 0;
    liveState.trendSampleCount = 0;
    liveState.trendTakenCount = 0;
    liveState.trendDecimationCount = 0;
    liveState.trendEmpty = 1;
    liveState.alarmWordCount = 0;
    for (auto& word : liveState.alarmWords) word.store(0, std::memory_order_relaxed);
}

namespace {

uint16_t slotAfter(uint16_t slot, uint32_t samples) {
    return static_cast<uint16_t>((slot + samples % TREND_SIZE) % TREND_SIZE);
}

// The consumer has taken (or dropped) up to this many samples.
void storeTaken(uint32_t taken, uint16_t slot) {
    liveState.trendTakenCount.store(taken, std::memory_order_relaxed);
    liveState.trendReadIndex.store(slot, std::memory_order_relaxed);
}

}  // namespace

void appendTrendSample() {
    uint16_t index = liveState.trendWriteIndex.load(std::memory_order_relaxed);
    uint32_t count = liveState.trendSampleCount.load(std::memory_order_relaxed);
    int32_t sample = liveState.measurement.load(std::memory_order_relaxed);
    // The slot may hold a sample a consumer is reading: one that sees the
    // new value also sees the count that told it the slot was due.
    std::atomic_thread_fence(std::memory_order_release);
    liveState.trendSamples[index].store(sample, std::memory_order_relaxed);
    // Release: the sample is visible before the count and index that cover it.
    liveState.trendSampleCount.store(count + 1, std::memory_order_release);
    index = slotAfter(index, 1);
    liveState.trendWriteIndex.store(index, std::memory_order_release);
}

bool takeTrendSample(int32_t* sample) {
    uint32_t taken = liveState.trendTakenCount.load(std::memory_order_relaxed);
    uint16_t slot = liveState.trendReadIndex.load(std::memory_order_relaxed);
    for (;;) {
        uint32_t behind = liveState.trendSampleCount.load(std::memory_order_acquire) - taken;
        if (behind == 0) {
            storeTaken(taken, slot);
            return false;
        }
        if (behind > TREND_KEPT) {  // overrun: the oldest have been overwritten
            taken += behind - TREND_KEPT;
            slot = slotAfter(slot, behind - TREND_KEPT);
        }
        int32_t value = liveState.trendSamples[slot].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        // Still not due for reuse after the read: the value is the sample.
        if (liveState.trendSampleCount.load(std::memory_order_relaxed) - taken > TREND_KEPT) continue;
        storeTaken(taken + 1, slotAfter(slot, 1));
        *sample = value;
        return true;
    }
}

void skipPendingTrendSamples() {
    if (liveState.trendEmpty.load(std::memory_order_relaxed) != 0) return;
    uint32_t taken = liveState.trendTakenCount.load(std::memory_order_relaxed);
    uint32_t written = liveState.trendSampleCount.load(std::memory_order_acquire);
    storeTaken(written, slotAfter(liveState.trendReadIndex.load(std::memory_order_relaxed), written - taken));
}
