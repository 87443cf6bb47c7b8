// What the reader thread hands the tool through liveState: every measurement
// as a trend sample, and every alarm word. Main thread only; the consumer
// side of the trend ring and the alarm ring (link/live_state.h).
#pragma once

#include <cstdint>
#include <functional>

// Configures the link so that every measurement becomes a trend sample and
// an alarm holds nothing: the tool sees the stream whole.
void takeEveryMeasurement();

// Skips the samples published before now.
void skipTrendSamplesSoFar();

// Each measurement (percent) published since the last call, oldest first.
void takeTrendSamples(const std::function<void(int32_t)>& each);

// Each alarm word that arrived after the first *seen, in order; *seen moves
// on. Returns how many of them the ring had already overwritten (a consumer
// that did not look for ALARM_RING_SIZE words); those are skipped.
uint32_t takeAlarmWords(uint32_t* seen, const std::function<void(uint16_t)>& each);
