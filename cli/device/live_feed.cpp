#include "cli/device/live_feed.h"

#include "link/link_config.h"
#include "link/live_state.h"

void takeEveryMeasurement() { configureLink(1, false); }

void skipTrendSamplesSoFar() {
    liveState.trendReadIndex.store(liveState.trendWriteIndex.load(std::memory_order_acquire),
                                   std::memory_order_relaxed);
}

void takeTrendSamples(const std::function<void(int32_t)>& each) {
    uint16_t readIndex = liveState.trendReadIndex.load(std::memory_order_relaxed);
    uint16_t writeIndex = liveState.trendWriteIndex.load(std::memory_order_acquire);
    while (readIndex != writeIndex) {
        each(liveState.trendSamples[readIndex].load(std::memory_order_relaxed));
        readIndex = static_cast<uint16_t>(readIndex + 1 == TREND_SIZE ? 0 : readIndex + 1);
    }
    liveState.trendReadIndex.store(readIndex, std::memory_order_relaxed);
}

// A word is read, then the count looked at again: a word the reader thread
// may have overwritten meanwhile counts as lost rather than passing as
// another one.
uint32_t takeAlarmWords(uint32_t* seen, const std::function<void(uint16_t)>& each) {
    uint32_t lost = 0;
    for (;;) {
        uint32_t count = liveState.alarmWordCount.load(std::memory_order_acquire);
        if (*seen == count) return lost;
        if (count - *seen > ALARM_RING_SIZE) {
            lost += count - *seen - ALARM_RING_SIZE;
            *seen = count - ALARM_RING_SIZE;
        }
        uint16_t word = liveState.alarmWords[*seen % ALARM_RING_SIZE].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (liveState.alarmWordCount.load(std::memory_order_relaxed) - *seen > ALARM_RING_SIZE) continue;
        each(word);
        ++*seen;
    }
}
