// Thread contract: see link_observe.h (onReply alone runs on the reader
// thread).
#include "tests/e2e/win32/observe/link_observe.h"

#include <cstdio>

#include "link/live_state.h"
#include "link/serial_link.h"
#include "link/serial_link_testing.h"

namespace {

// 100 ns intervals from 1601 (FILETIME's epoch) to 1970.
constexpr ULONGLONG UNIX_EPOCH_FILETIME = 116444736000000000ULL;

ULONGLONG fileTimeValue(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return value.QuadPart;
}

// Counts measurement lines through the trend ring between two looks.
struct MeasurementCounter {
    uint16_t lastIndex = liveState.trendWriteIndex.load(std::memory_order_acquire);
    long long lines = 0;
    void poll() {
        uint16_t index = liveState.trendWriteIndex.load(std::memory_order_acquire);
        lines += (index - lastIndex + TREND_SIZE) % TREND_SIZE;
        lastIndex = index;
    }
};

HANDLE openLinkThread(DWORD threadId) {
    return OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, threadId);
}

}  // namespace

int64_t nowMicros() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return static_cast<int64_t>((fileTimeValue(now) - UNIX_EPOCH_FILETIME) / 10);
}

double elapsedMs(int64_t startMicros) { return (nowMicros() - startMicros) / 1000.0; }

int64_t fileTimeMicros(const FILETIME& time) { return static_cast<int64_t>(fileTimeValue(time) / 10); }

int64_t processCpuMicros() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    return fileTimeMicros(kernel) + fileTimeMicros(user);
}

void printValue(const char* key, long long value) { std::printf("%s=%lld\n", key, value); }
void printMs(const char* key, double value) { std::printf("%s=%.3f\n", key, value); }

// Polls often enough that the trend ring (500 samples, 50 a second) cannot
// wrap between two looks.
long long countMeasurementsFor(int ms) {
    MeasurementCounter counter;
    for (int waited = 0; waited < ms; waited += 50) {
        Sleep(50);
        counter.poll();
    }
    return counter.lines;
}

int openPort(int port) {
    int opened = openLink(port, BAUD_RATE);
    printValue("open", opened);
    std::fflush(stdout);
    return opened;
}

LinkThreads::LinkThreads()
    : reader(openLinkThread(linkReaderThreadId())), writer(openLinkThread(linkWriterThreadId())) {}

LinkThreads::~LinkThreads() {
    if (reader != nullptr) CloseHandle(reader);
    if (writer != nullptr) CloseHandle(writer);
}

int LinkThreads::ended(HANDLE thread) const {
    return thread != nullptr && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 ? 1 : 0;
}

std::atomic<int> replyStampCount{0};
int64_t replyStamps[MAX_REPLY_STAMPS];
HANDLE replyEvent = nullptr;

const SignalTap replyStampTap{onReply, nullptr};

void onReply(void*) {
    int slot = replyStampCount.load(std::memory_order_relaxed);
    if (slot < MAX_REPLY_STAMPS) {
        replyStamps[slot] = nowMicros();
        replyStampCount.store(slot + 1, std::memory_order_release);
    }
    if (replyEvent != nullptr) SetEvent(replyEvent);
}
