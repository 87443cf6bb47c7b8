// Throughput of the receive parser on a stream shaped like the device's: mostly
// 8-bit measurement lines, now and then a peak, and from time to time a full
// parameter answer with the identification text. Fed 4 bytes per call, as the
// reader thread does. The serial line carries at most 960 bytes/s, so the
// line_ratio counter says how many times faster than the line the parser is.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "link/link_config.h"
#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "link/receive_parser.h"
#include "params/parameter_set.h"
#include "params/settings.h"

namespace {

constexpr double LINE_BYTES_PER_SECOND = 960.0;
constexpr int READ_SIZE = 4;

void appendWord(std::vector<uint8_t>& stream, uint16_t word) {
    uint8_t frame[FRAME_SIZE];
    buildFrame(word, frame);
    stream.insert(stream.end(), frame, frame + FRAME_SIZE);
}

void appendMeasurement(std::vector<uint8_t>& stream, uint8_t word) {
    uint8_t b0 = static_cast<uint8_t>((word & 0xF0) | 0x01);
    uint8_t b1 = static_cast<uint8_t>((word & 0x0F) << 4 | 0x01);
    stream.insert(stream.end(), {b0, b1, static_cast<uint8_t>(b0 + b1), 0x0D});
}

void appendAnswer(std::vector<uint8_t>& stream) {
    for (const char* c = "ELQ770 400V 20A V2.14"; *c != '\0'; ++c)
        appendWord(stream, static_cast<uint16_t>(65200 + *c));
    appendWord(stream, 65213);
    for (int i = PARAMETER_COUNT - 1; i >= 0; --i)
        appendWord(stream, static_cast<uint16_t>(PARAMETER_BANDS[i].code + 1));
}

std::vector<uint8_t> deviceStream(size_t targetSize) {
    std::vector<uint8_t> stream;
    for (uint32_t line = 0; stream.size() < targetSize; ++line) {
        uint8_t value = static_cast<uint8_t>((line * 7) % 100);
        appendMeasurement(stream, line % 500 < 250 ? value : static_cast<uint8_t>(value | 0x80));
        if (line % 50 == 0) appendWord(stream, static_cast<uint16_t>(500 + value));
        if (line % 50 == 25) appendWord(stream, static_cast<uint16_t>(300 + value / 2));
        if (line % 97 == 0) appendWord(stream, 65012);
        if (line % 3000 == 0) appendAnswer(stream);
    }
    // Whole reads only, so every pass starts on a line boundary.
    while (stream.size() % READ_SIZE != 0) appendMeasurement(stream, 1);
    return stream;
}

int replies = 0;
void countReply(void*) { ++replies; }
const SignalTap countingTap{countReply, nullptr};

void BM_ParseDeviceStream(benchmark::State& state) {
    const std::vector<uint8_t> stream = deviceStream(400 * 1024);
    resetLiveState();
    resetReceiveLine();
    deviceParameters = {};
    setSettingsDefaults(&appSettings);
    linkConfig.alarmHold = 1;
    replyTaps.add(&countingTap);
    replies = 0;

    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += READ_SIZE)
            parseReceivedBytes(stream.data() + offset, READ_SIZE);
        benchmark::DoNotOptimize(liveState.measurement.load());
    }
    const double bytes = static_cast<double>(stream.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["line_ratio"] =
        benchmark::Counter(bytes / LINE_BYTES_PER_SECOND, benchmark::Counter::kIsRate);
    state.counters["stream_KiB"] = static_cast<double>(stream.size()) / 1024.0;
    state.counters["answers_per_pass"] = static_cast<double>(replies) / static_cast<double>(state.iterations());
    replyTaps.remove(&countingTap);
}

}  // namespace

BENCHMARK(BM_ParseDeviceStream)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
