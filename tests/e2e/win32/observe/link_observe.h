// Observations of the real serial link shared by the Windows programs that
// drive it: link_check.exe (the end-to-end tests) and link_timing.exe
// (tools/measure). Wall clock and CPU time in microseconds, "key=value"
// output, measurement lines counted through the trend ring, the link
// threads' handles and the reply hook's stamps.
//
// Threads: everything here runs on the program's main thread except
// onReply, which the parser calls on the link's reader thread. onReply
// writes replyStamps[n] and then stores n + 1 to replyStampCount with
// release; the main thread loads the count with acquire and reads only the
// stamps below it. replyEvent is set before the hook is bound and not
// changed while the link is open.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "link/line_taps.h"

// Microseconds since 1970: the clock CLOCK_REALTIME gives on the Linux side.
int64_t nowMicros();
double elapsedMs(int64_t startMicros);

// A FILETIME that holds a duration (kernel or user time), in microseconds.
int64_t fileTimeMicros(const FILETIME& time);
// Kernel plus user time of the whole process; -1 when it cannot be read.
int64_t processCpuMicros();

void printValue(const char* key, long long value);
void printMs(const char* key, double value);

// Measurement lines over the next ms milliseconds, counted through the trend
// ring (the program sets roll period 10 s: one trend sample per measurement).
long long countMeasurementsFor(int ms);

// openLink at the device's baud rate; prints "open=" and flushes, so that a
// test waiting on the output sees the port open before anything else.
int openPort(int port);

// Handles of our own on the link threads, so that their end can be seen
// after closeLink has closed the link's handles, and their CPU time read.
struct LinkThreads {
    LinkThreads();
    ~LinkThreads();
    LinkThreads(const LinkThreads&) = delete;
    LinkThreads& operator=(const LinkThreads&) = delete;
    int ended(HANDLE thread) const;  // 1 once the thread has ended

    HANDLE reader;
    HANDLE writer;
};

// The reply tap (replyTaps.add(&replyStampTap)): stamps each parameter-answer end
// line the parser takes, up to MAX_REPLY_STAMPS, and sets replyEvent when
// there is one.
constexpr int MAX_REPLY_STAMPS = 1000;
extern std::atomic<int> replyStampCount;
extern int64_t replyStamps[MAX_REPLY_STAMPS];
extern HANDLE replyEvent;
void onReply(void*);
extern const SignalTap replyStampTap;
