// link_timing.exe: times the real serial link (openLink, its reader and
// writer threads) for the link figures of tools/measure (LinkMeasure.*), and
// prints "key=value" lines (the link observations are shared with the
// end-to-end tests' link_check.exe, tests/e2e/win32/observe):
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

#include "link/link_config.h"
#include "link/receive_parser.h"
#include "link/serial_link.h"
#include "params/settings.h"
#include "tests/e2e/win32/observe/link_observe.h"

namespace {

int64_t threadCpuMicros(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (thread == nullptr || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    return fileTimeMicros(kernel) + fileTimeMicros(user);
}

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

int verbLatency(int port, int argc, char** argv) {
    int expected = argc > 0 ? std::atoi(argv[0]) : 20;
    if (expected > MAX_REPLY_STAMPS) expected = MAX_REPLY_STAMPS;
    replyTaps.add(&replyStampTap);
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
    configureLink(1, false);  // one trend sample per measurement
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
