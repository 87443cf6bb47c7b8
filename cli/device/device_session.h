// The tool's conversation with the device over the shared link: open the
// port, ask for the parameters, download words at the window program's pace
// and confirm them by reading the parameters back.
//
// Threads: everything here runs on the tool's main thread, which plays the
// window thread's part (it alone uses the CommandQueue and editedParameters).
// The reader thread announces a parameter answer through the reply hook,
// which only counts answers in an atomic; the main thread polls that count.
#pragma once

#include <cstdint>
#include <string>

constexpr int REPLY_TIMEOUT_MS = 2000;  // the wait for a parameter answer
constexpr int TEXT_TIMEOUT_MS = 1000;   // the text follows the parameters

// Opens the port by name; on failure prints "elq770ctl: PORT: cannot open
// port: REASON" and returns 0.
int openDevicePort(const std::string& port);

// Sends CMD_REQUEST_DATA and waits up to timeoutMs for the parameter answer,
// then briefly for the identification text behind it. 1 when answered.
int requestParameters(int timeoutMs = REPLY_TIMEOUT_MS);

// How many parameter answers have arrived since the first call of this or
// requestParameters (which install the counting hook): a caller that watches
// answers without waiting for them calls it once before it opens the port.
uint32_t parameterAnswers();

// The identification text behind the last parameter answer is whole.
bool deviceTextComplete();

enum DownloadResult { DOWNLOAD_CONFIRMED, DOWNLOAD_NO_ANSWER, DOWNLOAD_MISMATCH };

// Sends the queued words one per tick, then asks for the parameters and
// compares them with editedParameters, as the window program confirms a
// download.
DownloadResult downloadQueuedWords();

// Forgets what the previous device said, with no link open (a port scan
// goes from one port to the next).
void forgetDevice();
