// The tool's conversation with the device over the shared link: open the
// port, ask for the parameters, download words at the window program's pace
// and confirm them by reading the parameters back.
//
// Threads: everything here runs on the tool's main thread, which plays the
// window thread's part (it alone uses the CommandQueue and editedParameters).
// The reader thread announces a parameter answer through a reply tap that
// only counts answers in an atomic (ParameterAnswers); the main thread polls
// that count.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "link/line_taps.h"

constexpr int REPLY_TIMEOUT_MS = 2000;  // the wait for a parameter answer
constexpr int TEXT_TIMEOUT_MS = 1000;   // the text follows the parameters

// Opens the port by name; on failure prints "elq770ctl: PORT: REASON"
// (portOpenFailure) and returns 0.
int openDevicePort(const std::string& port);

// Sends CMD_REQUEST_DATA and waits up to timeoutMs for the parameter answer,
// then briefly for the identification text behind it. 1 when answered.
int requestParameters(int timeoutMs = REPLY_TIMEOUT_MS);

// Counts the parameter answers that arrive while it lives. A caller that
// watches answers without waiting for them keeps one for its whole run;
// requestParameters and downloadQueuedWords count with their own.
class ParameterAnswers {
public:
    ParameterAnswers() { replyTaps.add(&tap_); }
    ~ParameterAnswers() { replyTaps.remove(&tap_); }
    ParameterAnswers(const ParameterAnswers&) = delete;
    ParameterAnswers& operator=(const ParameterAnswers&) = delete;

    uint32_t seen() const { return seen_.load(std::memory_order_acquire); }

private:
    static void count(void* self) {
        static_cast<ParameterAnswers*>(self)->seen_.fetch_add(1, std::memory_order_release);
    }
    std::atomic<uint32_t> seen_{0};
    SignalTap tap_{count, this};
};

// The identification text behind the last parameter answer is whole.
bool deviceTextComplete();

enum DownloadResult { DOWNLOAD_CONFIRMED, DOWNLOAD_NO_ANSWER, DOWNLOAD_MISMATCH, DOWNLOAD_ABANDONED };

// The user's stop requests during a download: the first is held until the
// words are sent and read back (under a second), a second abandons it.
struct DownloadStops {
    const std::atomic<int>* requests = nullptr;  // counted by catchStopRequests
    void (*held)() = nullptr;                     // told once, at the first
    int wordsSent = 0;                            // out: how far it came
    int wordsQueued = 0;
};

// Sends the queued words one per tick, then asks for the parameters and
// compares them with editedParameters, as the window program confirms a
// download. DOWNLOAD_ABANDONED at a second stop request, at once.
DownloadResult downloadQueuedWords(DownloadStops* stops);

// Forgets what the previous device said, with no link open (a port scan
// goes from one port to the next).
void forgetDevice();
