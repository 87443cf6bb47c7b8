// link_timing.exe: times the real serial link (openLink, its reader and
// writer threads) for the link figures of tools/measure (LinkMeasure.*), and
// prints "key=value" lines:
//   link_timing cpu COMn [SECONDS]      CPU time of the two link threads and
//                                       of the process while the device streams
//   link_timing latency COMn [COUNT]    when the parser takes each parameter-
//                                       answer end line (reply hook, on the
//                                       reader thread), as stamp0..stampN-1 in
//                                       microseconds of the wall clock
// "open=1" once the port is open; "done=1" last when the verb ran to its end.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/live_state.h"
#include "link/receive_parser.h"
#include "link/serial_link.h"
#include "link/serial_link_testing.h"
#include "params/settings.h"

namespace {

constexpr int MAX_REPLY_STAMPS = 1000;

// Microseconds since 1970: the clock CLOCK_REALTIME gives on the Linux side.
int64_t nowMicros() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    ULARGE_INTEGER value;
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    return static_cast<int64_t>((value.QuadPart - 116444736000000000ULL) / 10);
}

double elapsedMs(int64_t startMicros) { return (nowMicros() - startMicros) / 1000.0; }

int64_t cpuMicros(const FILETIME& kernel, const FILETIME& user) {
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<int64_t>((k.QuadPart + u.QuadPart) / 10);
}

int64_t processCpuMicros() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    return cpuMicros(kernel, user);
}

int64_t threadCpuMicros(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (thread == nullptr || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    return cpuMicros(kernel, user);
}

void printValue(const char* key, long long value) { std::printf("%s=%lld\n", key, value); }
void printMs(const char* key, double value) { std::printf("%s=%.3f\n", key, value); }

// Measurement lines counted through the trend ring, polled often enough
// that it cannot wrap between two looks: at the 10 s roll every measurement
// is one sample, 50 a second, in a ring of 500.
long long countMeasurementsFor(int ms) {
    uint16_t lastIndex = liveState.trendWriteIndex.load(std::memory_order_acquire);
    long long lines = 0;
    for (int waited = 0; waited < ms; waited += 50) {
        Sleep(50);
        uint16_t index = liveState.trendWriteIndex.load(std::memory_order_acquire);
        lines += (index - lastIndex + TREND_SIZE) % TREND_SIZE;
        lastIndex = index;
    }
    return lines;
}

int openPort(int port) {
    int opened = openLink(port, BAUD_RATE);
    printValue("open", opened);
    std::fflush(stdout);
    return opened;
}

// Handles of our own on the link threads, for their CPU times.
struct LinkThreads {
    HANDLE reader = OpenThread(THREAD_QUERY_INFORMATION, FALSE, linkReaderThreadId());
    HANDLE writer = OpenThread(THREAD_QUERY_INFORMATION, FALSE, linkWriterThreadId());
    ~LinkThreads() {
        if (reader != nullptr) CloseHandle(reader);
        if (writer != nullptr) CloseHandle(writer);
    }
};

int verbCpu(int port, int argc, char** argv) {
    int seconds = argc > 0 ? std::atoi(argv[0]) : 10;
    if (!openPort(port)) return 1;
    Sleep(200);
    LinkThreads threads;
    int64_t readerStart = threadCpuMicros(threads.reader);
    int64_t writerStart = threadCpuMicros(threads.writer);
    int64_t processStart = processCpuMicros();
    int64_t wallStart = nowMicros();
    long long lines = countMeasurementsFor(seconds * 1000);
    double wallMs = elapsedMs(wallStart);
    double readerMs = (threadCpuMicros(threads.reader) - readerStart) / 1000.0;
    double writerMs = (threadCpuMicros(threads.writer) - writerStart) / 1000.0;
    double processMs = (processCpuMicros() - processStart) / 1000.0;
    printValue("measurementLines", lines);
    printMs("wallMs", wallMs);
    printMs("readerCpuMs", readerMs);
    printMs("writerCpuMs", writerMs);
    printMs("linkCpuPercent", 100.0 * (readerMs + writerMs) / wallMs);
    printMs("processCpuMs", processMs);
    printMs("processCpuPercent", 100.0 * processMs / wallMs);
    closeLink();
    return 0;
}

// Reply hook: the reader thread stamps; the main thread reads the stamps
// written before the count it loads (release / acquire on the count).
std::atomic<int> replyStampCount{0};
int64_t replyStamps[MAX_REPLY_STAMPS];

void onReply() {
    int slot = replyStampCount.load(std::memory_order_relaxed);
    if (slot < MAX_REPLY_STAMPS) {
        replyStamps[slot] = nowMicros();
        replyStampCount.store(slot + 1, std::memory_order_release);
    }
}

int verbLatency(int port, int argc, char** argv) {
    int expected = argc > 0 ? std::atoi(argv[0]) : 20;
    if (expected > MAX_REPLY_STAMPS) expected = MAX_REPLY_STAMPS;
    setReplyHook(onReply);
    if (!openPort(port)) return 1;
    int64_t start = nowMicros();
    while (replyStampCount.load(std::memory_order_acquire) < expected && elapsedMs(start) < 30000) Sleep(20);
    int got = replyStampCount.load(std::memory_order_acquire);
    printValue("stamps", got);
    for (int i = 0; i < got; ++i) std::printf("stamp%d=%lld\n", i, static_cast<long long>(replyStamps[i]));
    closeLink();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 3 || _strnicmp(argv[2], "COM", 3) != 0) {
        std::fprintf(stderr, "usage: link_timing cpu|latency COMn [ARG]\n");
        return 2;
    }
    setSettingsDefaults(&appSettings);
    storeField(appSettings.rollIndex, 0);  // one trend sample per measurement
    int port = std::atoi(argv[2] + 3);
    int code;
    if (std::strcmp(argv[1], "cpu") == 0) {
        code = verbCpu(port, argc - 3, argv + 3);
    } else if (std::strcmp(argv[1], "latency") == 0) {
        code = verbLatency(port, argc - 3, argv + 3);
    } else {
        std::fprintf(stderr, "link_timing: unknown verb %s\n", argv[1]);
        return 2;
    }
    printValue("done", 1);
    return code;
}
