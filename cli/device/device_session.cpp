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

std::atomic<uint32_t> answersSeen{0};

void countAnswer() { answersSeen.fetch_add(1, std::memory_order_release); }

void installReplyHook() {
    static const bool installed = (setReplyHook(countAnswer), true);
    (void)installed;
}

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

uint32_t parameterAnswers() {
    installReplyHook();
    return answersSeen.load(std::memory_order_acquire);
}

int openDevicePort(const std::string& port) {
    if (openLinkByName(port.c_str(), BAUD_RATE)) return 1;
    int error = lastSystemError();
    report(port, std::string("cannot open port: ") + systemErrorText(error));
    return 0;
}

int requestParameters(int timeoutMs) {
    uint32_t before = parameterAnswers();
    sendRequest();
    bool answered = pollUntil(timeoutMs, [&] { return parameterAnswers() != before; });
    if (!answered) return 0;
    pollUntil(TEXT_TIMEOUT_MS, deviceTextComplete);
    return 1;
}

DownloadResult downloadQueuedWords() {
    Clock::time_point tick = Clock::now();
    while (pumpCommandWord()) {
        tick += std::chrono::milliseconds(COMMAND_TICK_MS);
        std::this_thread::sleep_until(tick);
    }
    if (!requestParameters()) return DOWNLOAD_NO_ANSWER;
    return editedMatchesDevice() ? DOWNLOAD_CONFIRMED : DOWNLOAD_MISMATCH;
}

void forgetDevice() {
    resetReceiveLine();
    for (char& byte : deviceParameters.deviceText) storeTextByte(byte, '\0');
    liveState.deviceTextLength.store(0, std::memory_order_relaxed);
}
