// Feeds arbitrary device bytes to the receive parser in chunks of random size
// and checks that whatever arrives, the live state and deviceParameters stay
// within the values the rest of the program relies on, and that the result
// does not depend on how the bytes were split into reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "link/receive_parser.h"
#include "params/parameter_set.h"

namespace {

int replies = 0;
void countReply(void*) { ++replies; }
const SignalTap countingTap{countReply, nullptr};

void check(bool ok) {
    if (!ok) std::abort();
}

struct State {
    int32_t measurement, maxPeak, minPeak, readoutsChanged, linkWatchdog, alarmHoldCount;
    int32_t deviceTextLength, trendWriteIndex, trendDecimationCount;
    int32_t samples[TREND_SIZE];
    uint8_t parameters[sizeof(ParameterSet)];
    int32_t replies;
};

void capture(State* s) {
    std::memset(s, 0, sizeof *s);
    s->measurement = liveState.measurement;
    s->maxPeak = liveState.maxPeak;
    s->minPeak = liveState.minPeak;
    s->readoutsChanged = liveState.readoutsChanged;
    s->linkWatchdog = liveState.linkWatchdog;
    s->alarmHoldCount = liveState.alarmHoldCount;
    s->deviceTextLength = liveState.deviceTextLength;
    s->trendWriteIndex = liveState.trendWriteIndex;
    s->trendDecimationCount = liveState.trendDecimationCount;
    for (int i = 0; i < TREND_SIZE; ++i) s->samples[i] = liveState.trendSamples[i];
    std::memcpy(s->parameters, &deviceParameters, sizeof s->parameters);
    s->replies = replies;
}

void start(uint8_t settingsByte) {
    resetLiveState();
    resetReceiveLine();
    deviceParameters = {};
    configureLink(TREND_DECIMATION[settingsByte % 3], ((settingsByte >> 2) & 1) != 0);
    replies = 0;
    replyTaps.clear();
    replyTaps.add(&countingTap);
}

void checkInvariants() {
    check(deviceParameters.deviceText[DEVICE_TEXT_MAX] == '\0');
    check(liveState.deviceTextLength >= 0 && liveState.deviceTextLength <= DEVICE_TEXT_MAX);
    check(liveState.trendWriteIndex < TREND_SIZE);
    check(liveState.trendReadIndex < TREND_SIZE);
    check(liveState.trendDecimationCount >= 0 &&
          liveState.trendDecimationCount < linkConfig.decimation);
    check(liveState.measurement >= -1 && liveState.measurement <= 171);
    check(liveState.minPeak >= -1 && liveState.minPeak <= 199);
    check(liveState.maxPeak >= -1 && liveState.maxPeak <= 499);
    check(liveState.linkWatchdog == 20 || liveState.linkWatchdog == 15);
    check(liveState.alarmHoldCount == 0 || (liveState.alarmHoldCount == 1 && linkConfig.alarmHold));
    check(deviceParameters.activeLimit <= 1);
    for (uint8_t b : deviceParameters.reserved) check(b == 0);
    for (const auto& sample : liveState.trendSamples) check(sample >= 0 && sample <= 171);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t settingsByte = data[0];
    uint32_t seed = data[1] * 2654435761u + static_cast<uint32_t>(size);
    data += 2;
    size -= 2;
    const int length = static_cast<int>(size);

    start(settingsByte);
    parseReceivedBytes(data, length);
    checkInvariants();
    State whole;
    capture(&whole);

    start(settingsByte);
    int offset = 0;
    while (offset < length) {
        seed = seed * 1664525u + 1013904223u;
        int chunk = static_cast<int>((seed >> 24) % 9);  // 0..8, empty reads included
        if (chunk > length - offset) chunk = length - offset;
        parseReceivedBytes(data + offset, chunk);
        offset += chunk;
        checkInvariants();
    }
    State chunked;
    capture(&chunked);
    check(std::memcmp(&whole, &chunked, sizeof whole) == 0);
    return 0;
}
