#include "cli/device/device_session.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/console/platform.h"
#include "cli/console/report.h"
#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/receive_parser.h"
#include "link/serial_link.h"
#include "params/parameter_set.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int POLL_MS = 5;

template <typename Done>
bool pollUntil(int timeoutMs, Done done) {
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
    }
}

}  // namespace

// The parser restarts the text at the end of a parameter answer and ends it
// with a NUL for the device's CR, or stops at DEVICE_TEXT_MAX characters.
bool deviceTextComplete() {
    int32_t length = liveState.deviceTextLength.load(std::memory_order_relaxed);
    if (length >= DEVICE_TEXT_MAX) return true;
    return length > 0 && loadTextByte(deviceParameters.deviceText[length - 1]) == '\0';
}

int openDevicePort(const std::string& port) {
    if (openLinkByName(port.c_str(), BAUD_RATE)) return 1;
    int error = lastSystemError();
    report(port, portOpenFailure(port, error));
    return 0;
}

int requestParameters(int timeoutMs) {
    ParameterAnswers answers;
    sendRequest();
    bool answered = pollUntil(timeoutMs, [&] { return answers.seen() != 0; });
    if (!answered) return 0;
    pollUntil(TEXT_TIMEOUT_MS, deviceTextComplete);
    return 1;
}

namespace {

// True at the second stop request; tells the first once.
bool abandoned(DownloadStops* stops) {
    int requests = stops->requests->load(std::memory_order_relaxed);
    if (requests >= 1 && stops->held != nullptr) {
        stops->held();
        stops->held = nullptr;
    }
    return requests >= 2;
}

}  // namespace

DownloadResult downloadQueuedWords(DownloadStops* stops) {
    stops->wordsQueued = commandQueuePending();
    stops->wordsSent = 0;
    Clock::time_point tick = Clock::now();
    while (pumpCommandWord()) {
        ++stops->wordsSent;
        tick += std::chrono::milliseconds(COMMAND_TICK_MS);
        // The pace in short steps, so that a second request ends it at once.
        if (pollUntil(COMMAND_TICK_MS, [&] { return abandoned(stops) || Clock::now() >= tick; }) &&
            abandoned(stops))
            return DOWNLOAD_ABANDONED;
        std::this_thread::sleep_until(tick);
    }
    ParameterAnswers answers;
    sendRequest();
    bool answered = pollUntil(REPLY_TIMEOUT_MS, [&] { return answers.seen() != 0 || abandoned(stops); });
    if (abandoned(stops)) return DOWNLOAD_ABANDONED;
    if (!answered) return DOWNLOAD_NO_ANSWER;
    // The parameters are in: a request now only shortens the wait for the text.
    pollUntil(TEXT_TIMEOUT_MS, [&] { return deviceTextComplete() || abandoned(stops); });
    return editedMatchesDevice() ? DOWNLOAD_CONFIRMED : DOWNLOAD_MISMATCH;
}

void forgetDevice() {
    resetReceiveLine();
    for (char& byte : deviceParameters.deviceText) storeTextByte(byte, '\0');
    liveState.deviceTextLength.store(0, std::memory_order_relaxed);
}
