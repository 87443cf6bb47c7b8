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
    liveState.trendDecimationCount = 0;
    liveState.trendEmpty = 1;
    liveState.alarmWordCount = 0;
    for (auto& word : liveState.alarmWords) word.store(0, std::memory_order_relaxed);
}

void appendTrendSample() {
    uint16_t index = liveState.trendWriteIndex.load(std::memory_order_relaxed);
    liveState.trendSamples[index].store(
        liveState.measurement.load(std::memory_order_relaxed) * 2, std::memory_order_relaxed);
    index = static_cast<uint16_t>(index + 1 == TREND_SIZE ? 0 : index + 1);
    // Release: the sample is visible before the index that covers it.
    liveState.trendWriteIndex.store(index, std::memory_order_release);
}

void skipPendingTrendSamples() {
    if (liveState.trendEmpty.load(std::memory_order_relaxed) != 0) return;
    liveState.trendReadIndex.store(liveState.trendWriteIndex.load(std::memory_order_acquire),
                                   std::memory_order_relaxed);
}
