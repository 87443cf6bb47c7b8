// How the receive parser treats the stream, chosen by the front end: the
// window program from its roll period and stop-at-alarm choice, the tool
// directly (every measurement, no hold).
//
// Threads: any thread may configure the link, before it starts or while it
// runs; the reader thread reads both fields on every word. Relaxed atomics:
// each field stands alone, and a change takes effect from the next word.
#pragma once

#include <atomic>
#include <cstdint>

struct LinkConfig {
    // Measurements per trend sample (1 or more).
    std::atomic<int32_t> decimation{1};
    // 1: an alarm word arms liveState.alarmHoldCount (the graph's hold).
    std::atomic<int32_t> alarmHold{0};
};

extern LinkConfig linkConfig;

// Stores both; a decimation below 1 counts as 1.
void configureLink(int decimation, bool alarmHold);
