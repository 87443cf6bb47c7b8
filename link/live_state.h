// What the device last reported: readouts, link watchdog, alarm hold and the
// trend ring.
//
// Threads: the reader thread (receive parser) writes every field; the window
// thread reads them, and also writes the readouts and the first text byte at
// a link-loss reset, clears readoutsChanged, counts linkWatchdog down and
// alarmHoldCount up, and moves trendReadIndex. Readouts are relaxed. The trend
// ring is single-producer, single-consumer: a sample is stored before the
// release stores of trendSampleCount and trendWriteIndex that cover it, and
// a consumer acquires one of them before reading samples. The writer never
// waits for a stalled consumer (a window thread blocked in a printer
// driver): it overwrites the oldest samples, behind a release fence, and
// takeTrendSample checks the count again after each read (acquire fence)
// so that a slot overwritten while it was read is never taken as its old
// sample. The alarm ring is the same
// hand-over by count: the word is stored in alarmWords before the release
// store of alarmWordCount that covers it.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int TREND_SIZE = 500;
// The last ALARM_RING_SIZE alarm words (the device repeats one every 100 ms):
// a consumer that looks less often than each word comes still gets them all.
constexpr uint32_t ALARM_RING_SIZE = 64;
constexpr int32_t NO_VALUE = -1;

// The link watchdog: command-pump ticks (COMMAND_TICK_MS) left without a valid
// line before the link counts as lost.
constexpr uint8_t LINK_WATCHDOG_AFTER_LINE = 15;  // each valid line refills it
constexpr uint8_t LINK_WATCHDOG_AT_START = 20;    // program start and a reopened link
// Why two: a talking device sends a line every 20 ms; a fresh link has sent none yet.

// Measurements per trend sample for the window program's roll periods
// (10 s, 30 s, 60 s), indexed by its rollIndex; the link takes its own
// decimation from link_config.h.
extern const int TREND_DECIMATION[3];

struct LiveState {
    std::atomic<int32_t> measurement{NO_VALUE};
    std::atomic<int32_t> maxPeak{NO_VALUE};
    std::atomic<int32_t> minPeak{NO_VALUE};
    std::atomic<int32_t> readoutsChanged{0};
    std::atomic<uint8_t> linkWatchdog{LINK_WATCHDOG_AT_START};
    std::atomic<uint8_t> alarmHoldCount{0};
    std::atomic<int32_t> deviceTextLength{0};
    std::atomic<int32_t> trendSamples[TREND_SIZE] = {};
    std::atomic<uint16_t> trendWriteIndex{0};
    std::atomic<uint16_t> trendReadIndex{0};
    // Samples appended and taken since start, counting on past the ring's
    // size (and wrapping at 2^32; only their difference counts): how far the
    // consumer is behind, which the indexes cannot tell once it is a lap.
    std::atomic<uint32_t> trendSampleCount{0};
    std::atomic<uint32_t> trendTakenCount{0};
    std::atomic<int32_t> trendDecimationCount{0};
    std::atomic<int32_t> trendEmpty{1};
    // The alarm words and how many have arrived, for a front end that logs
    // them; the window program goes by alarmHoldCount instead. Word number n
    // (counting from 0) sits in alarmWords[n % ALARM_RING_SIZE] until
    // ALARM_RING_SIZE later words have overwritten it.
    std::atomic<uint32_t> alarmWordCount{0};
    std::atomic<uint16_t> alarmWords[ALARM_RING_SIZE] = {};
};

extern LiveState liveState;

// Stores the measurement (percent) at trendWriteIndex and advances it (500 -> 0),
// whether or not the sample there has been taken.
void appendTrendSample();

// The samples a consumer that fell behind by a lap or more can still take:
// the newest, less the one whose slot the writer may be filling.
constexpr uint32_t TREND_KEPT = TREND_SIZE - 1;

// The consumer's side, at trendReadIndex: the next sample not yet taken,
// oldest first. A consumer more than TREND_KEPT behind loses the oldest
// ones and goes on with the newest, in order. false when there is none.
bool takeTrendSample(int32_t* sample);

// Drops the samples not yet drawn, once the graph has drawn anything.
void skipPendingTrendSamples();
