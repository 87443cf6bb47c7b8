// link_check: drives the real serial link (openLink, the reader and writer
// threads, closeLink) from the command line and prints what it observed as
// "key=value" lines for the end-to-end tests:
//   link_check VERB COMn [ARGS...]
// Every verb prints "done=1" last when it ran to its end.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/receive_parser.h"
#include "link/serial_link.h"
#include "link/serial_link_testing.h"
#include "params/parameter_set.h"
#include "params/settings.h"
#include "tests/e2e/win32/observe/link_observe.h"

namespace {

// ---- Observation helpers ----

int countOwnThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int threads = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
    CloseHandle(snapshot);
    return threads;
}

// The value a new handle gets: the handle table hands out its lowest free
// slot, so a handle left open below it shows as a different value.
// (GetProcessHandleCount reports 0 under Wine, so it cannot be used.)
long long countOwnHandles() {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (probe == nullptr) return -1;
    CloseHandle(probe);
    return static_cast<long long>(reinterpret_cast<uintptr_t>(probe));
}

void printLiveState() {
    printValue("measurement", liveState.measurement.load());
    printValue("maxPeak", liveState.maxPeak.load());
    printValue("minPeak", liveState.minPeak.load());
    printValue("activeLimit", loadField(deviceParameters.activeLimit));
    printValue("linkWatchdog", liveState.linkWatchdog.load());
    char text[sizeof deviceParameters.deviceText];
    for (size_t i = 0; i < sizeof text; ++i) text[i] = loadTextByte(deviceParameters.deviceText[i]);
    text[sizeof text - 1] = '\0';
    std::printf("deviceText=%s\n", text);
}

void printStatistics() {
    LinkStatistics s = linkStatistics();
    printValue("readsParsed", s.readsParsed);
    printValue("readsDropped", s.readsDropped);
    printValue("readsFailedAtOnce", s.readsFailedAtOnce);
    printValue("readsFailedLater", s.readsFailedLater);
    printValue("readsCancelled", s.readsCancelled);
    printValue("writesPending", s.writesPending);
    printValue("writesAborted", s.writesAborted);
    printValue("writeWaitFailures", s.writeWaitFailures);
    printValue("deviceGone", linkDeviceGone());
}

// closeLink, timed, with the end of both threads checked.
void timedClose(const char* prefix) {
    LinkThreads threads;
    int64_t start = nowMicros();
    int result = closeLink();
    double ms = elapsedMs(start);
    std::string key(prefix);
    printValue((key + "Result").c_str(), result);
    printMs((key + "Ms").c_str(), ms);
    printValue((key + "ReaderEnded").c_str(), threads.ended(threads.reader));
    printValue((key + "WriterEnded").c_str(), threads.ended(threads.writer));
}

// The hook stamps each reply and sets replyEvent.
void bindReplyHook() {
    replyEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    replyTaps.add(&replyStampTap);
}

// The device text is complete once its ending character (stored as NUL) has
// been counted behind the visible characters.
bool deviceTextComplete() {
    size_t length = 0;
    while (length < sizeof deviceParameters.deviceText - 1 &&
           loadTextByte(deviceParameters.deviceText[length]) != '\0')
        ++length;
    return length > 0 && liveState.deviceTextLength.load() > static_cast<int32_t>(length);
}

// ---- Verbs ----

int verbStream(int port, int argc, char** argv) {
    int seconds = argc > 0 ? std::atoi(argv[0]) : 2;
    if (!openPort(port)) return 1;
    printValue("measurementLines", countMeasurementsFor(seconds * 1000));
    printLiveState();
    printStatistics();
    timedClose("close");
    return 0;
}

int verbRequest(int port, int, char**) {
    bindReplyHook();
    if (!openPort(port)) return 1;
    Sleep(200);
    ResetEvent(replyEvent);
    int64_t start = nowMicros();
    printValue("requestStored", sendRequest());
    int replied = WaitForSingleObject(replyEvent, 2000) == WAIT_OBJECT_0 ? 1 : 0;
    printValue("replied", replied);
    if (replied) printMs("replyMs", (replyStamps[0] - start) / 1000.0);
    for (int waited = 0; waited < 2000 && !deviceTextComplete(); waited += 10) Sleep(10);
    for (const ParameterBand& band : PARAMETER_BANDS) {
        std::printf("param%u=%u\n", static_cast<unsigned>(band.code),
                    static_cast<unsigned>(loadField(deviceParameters.*band.field)));
    }
    printLiveState();
    timedClose("close");
    return 0;
}

// Sends the words given at the pump's pace, then closes once the last frame
// has reached the device.
void sendWordsAndClose(int argc, char** argv) {
    int stored = 0;
    for (int i = 0; i < argc; ++i) {
        stored += sendCommandWord(static_cast<uint16_t>(std::strtoul(argv[i], nullptr, 10)));
        Sleep(COMMAND_TICK_MS);
    }
    printValue("stored", stored);
    Sleep(300);
    timedClose("close");
}

int verbSend(int port, int argc, char** argv) {
    if (!openPort(port)) return 1;
    sendWordsAndClose(argc, argv);
    return 0;
}

int verbOpenMissing(int port, int, char**) {
    long long handlesBefore = countOwnHandles();
    int threadsBefore = countOwnThreads();
    openPort(port);
    printValue("handlesBefore", handlesBefore);
    printValue("handlesAfter", countOwnHandles());
    printValue("threadsBefore", threadsBefore);
    printValue("threadsAfter", countOwnThreads());
    printValue("closeResult", closeLink());
    return 0;
}

// Makes one step of openLink fail, checks that nothing it created is left,
// then opens the same port for real: only possible if the failed attempt let
// go of the port (it is opened exclusively).
int verbOpenFault(int port, int argc, char** argv) {
    int fault = argc > 0 ? std::atoi(argv[0]) : LINK_FAULT_NONE;
    long long handlesBefore = countOwnHandles();
    int threadsBefore = countOwnThreads();
    setLinkFault(fault);
    printValue("faultOpen", openLink(port, BAUD_RATE));
    Sleep(100);  // a thread that was wrongly left running would still be counted
    printValue("handlesBefore", handlesBefore);
    printValue("handlesAfter", countOwnHandles());
    printValue("threadsBefore", threadsBefore);
    printValue("threadsAfter", countOwnThreads());
    if (!openPort(port)) return 1;
    printValue("measurementLines", countMeasurementsFor(1000));
    timedClose("close");
    return 0;
}

int verbCloseTwice(int port, int, char**) {
    timedClose("closeUnopened");
    if (!openPort(port)) return 1;
    Sleep(500);
    timedClose("closeFirst");
    timedClose("closeSecond");
    // The port must be free again: a reopen streams as before.
    if (!openPort(port)) return 1;
    printValue("measurementLines", countMeasurementsFor(500));
    timedClose("closeReopened");
    return 0;
}

// Opens and closes repeatedly under a running stream; every close must end
// both threads quickly and leave no handle or thread behind.
int verbCloseWhileStreaming(int port, int argc, char** argv) {
    int cycles = argc > 0 ? std::atoi(argv[0]) : 1;
    long long handlesBefore = countOwnHandles();
    int threadsBefore = countOwnThreads();
    double worstMs = 0;
    int endedCycles = 0;
    long long linesInEveryCycle = 1;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (!openLink(port, BAUD_RATE)) break;
        long long lines = countMeasurementsFor(300);
        if (lines == 0) linesInEveryCycle = 0;
        LinkThreads threads;
        int64_t start = nowMicros();
        closeLink();
        double ms = elapsedMs(start);
        if (ms > worstMs) worstMs = ms;
        endedCycles += threads.ended(threads.reader) && threads.ended(threads.writer);
    }
    printValue("cycles", cycles);
    printValue("endedCycles", endedCycles);
    printValue("linesInEveryCycle", linesInEveryCycle);
    printMs("worstCloseMs", worstMs);
    printValue("handlesBefore", handlesBefore);
    printValue("handlesAfter", countOwnHandles());
    printValue("threadsBefore", threadsBefore);
    printValue("threadsAfter", countOwnThreads());
    printStatistics();
    return 0;
}

// Floods the TransmitRing until a write goes pending (the device side must
// not be reading), then closes during that pending write.
int verbCloseWhileWriting(int port, int, char**) {
    if (!openPort(port)) return 1;
    int64_t start = nowMicros();
    while (linkStatistics().writesPending == 0 && elapsedMs(start) < 10000) {
        if (!sendCommandWord(CMD_SPACE_KEY)) Sleep(0);
    }
    printValue("pendingSeen", linkStatistics().writesPending > 0 ? 1 : 0);
    Sleep(200);
    timedClose("close");
    printStatistics();
    return 0;
}

// Makes the writer's wait on a pending write fail, then, once the device
// reads again (the test creates the file "go"), sends marker words that must
// arrive whole and in order.
int verbWriteWaitFault(int port, int argc, char** argv) {
    if (!openPort(port)) return 1;
    setLinkFault(LINK_FAULT_WRITE_WAIT);
    int64_t start = nowMicros();
    while (linkStatistics().writeWaitFailures == 0 && elapsedMs(start) < 10000) {
        if (!sendCommandWord(CMD_SPACE_KEY)) Sleep(0);
    }
    printValue("waitFailed", linkStatistics().writeWaitFailures);
    std::fflush(stdout);
    for (int waited = 0; waited < 10000; waited += 20) {
        if (GetFileAttributesA("go") != INVALID_FILE_ATTRIBUTES) break;
        Sleep(20);
    }
    Sleep(300);
    // The cancelled write may have left part of a frame on the line: a lone
    // CR ends it, so the device drops it instead of merging it with the next.
    const uint8_t lineEnd = 13;
    putTransmitBytes(&lineEnd, 1);
    Sleep(COMMAND_TICK_MS);
    sendWordsAndClose(argc, argv);
    printStatistics();
    return 0;
}

// Cancels the reader's outstanding read from outside, so that it completes
// with an error, and checks that reading goes on.
int verbCancelRead(int port, int argc, char** argv) {
    int times = argc > 0 ? std::atoi(argv[0]) : 5;
    if (!openPort(port)) return 1;
    Sleep(300);
    for (int i = 0; i < times; ++i) {
        CancelIoEx(static_cast<HANDLE>(linkPortHandle()), nullptr);
        Sleep(100);
    }
    printValue("measurementLinesAfter", countMeasurementsFor(1000));
    printStatistics();
    timedClose("close");
    return 0;
}

// Keeps the link open while the device hangs up; reports the process's CPU
// time over the following seconds.
int verbHangup(int port, int argc, char** argv) {
    int seconds = argc > 0 ? std::atoi(argv[0]) : 4;
    if (!openPort(port)) return 1;
    printValue("measurementLines", countMeasurementsFor(seconds * 1000));
    int64_t cpuStart = processCpuMicros();
    int64_t wallStart = nowMicros();
    Sleep(3000);
    double cpuMs = (processCpuMicros() - cpuStart) / 1000.0;
    double wallMs = elapsedMs(wallStart);
    printMs("hungCpuMs", cpuMs);
    printMs("hungWallMs", wallMs);
    printMs("hungCpuPercent", 100.0 * cpuMs / wallMs);
    printStatistics();
    timedClose("close");
    return 0;
}

// From a live stream on, every read completes with no bytes and no error
// (injected, as some drivers' reads do once their device has gone): the
// reader must call the device gone and stop reading.
int verbEmptyReads(int port, int, char**) {
    if (!openPort(port)) return 1;
    printValue("measurementLines", countMeasurementsFor(500));
    int64_t droppedBefore = linkStatistics().readsDropped;
    setLinkFault(LINK_FAULT_READS_EMPTY);
    int64_t start = nowMicros();
    while (!linkDeviceGone() && elapsedMs(start) < 5000) Sleep(20);
    Sleep(200);  // a reader that went on would read on meanwhile
    printValue("emptyReads", linkStatistics().readsDropped - droppedBefore);
    printStatistics();
    timedClose("close");
    return 0;
}

// The line settings as the port holds them after openLink (GetCommState),
// then the words given, sent as verbSend does.
int verbDcb(int port, int argc, char** argv) {
    if (!openPort(port)) return 1;
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    printValue("readBack", GetCommState(static_cast<HANDLE>(linkPortHandle()), &dcb));
    printValue("baudRate", dcb.BaudRate);
    printValue("byteSize", dcb.ByteSize);
    printValue("parity", dcb.Parity);
    printValue("stopBits", dcb.StopBits);
    printValue("outX", dcb.fOutX);
    printValue("inX", dcb.fInX);
    printValue("xonChar", static_cast<unsigned char>(dcb.XonChar));
    printValue("xoffChar", static_cast<unsigned char>(dcb.XoffChar));
    sendWordsAndClose(argc, argv);
    return 0;
}

// A driver that never completes the reader's cancelled read (injected; the
// device must be silent, so the read never ends by itself): closeLink must
// give up after its bound instead of hanging, and a later open of another
// port must still work. Once the device hangs up, the stuck read ends and
// the given-up link's handles are released at the next close.
int verbCloseLostCancel(int port, int argc, char** argv) {
    int otherPort = argc > 0 ? std::atoi(argv[0]) : 0;
    if (!openPort(port)) return 1;
    Sleep(200);
    setLinkFault(LINK_FAULT_CANCEL_LOST);
    timedClose("close");
    printValue("openAfter", otherPort > 0 ? openLink(otherPort, BAUD_RATE) : -1);
    printValue("measurementLinesAfter", countMeasurementsFor(500));
    timedClose("closeAfter");
    printValue("abandoned", linkStatistics().linksAbandoned);
    printValue("releasedBeforeHangup", linkStatistics().linksReleased);
    int64_t start = nowMicros();
    while (linkStatistics().linksReleased == 0 && elapsedMs(start) < 30000) {
        Sleep(100);
        closeLink();
    }
    printValue("released", linkStatistics().linksReleased);
    return 0;
}

struct Verb {
    const char* name;
    int (*run)(int port, int argc, char** argv);
};

const Verb VERBS[] = {
    {"stream", verbStream},
    {"request", verbRequest},
    {"send", verbSend},
    {"open-missing", verbOpenMissing},
    {"open-fault", verbOpenFault},
    {"close-twice", verbCloseTwice},
    {"close-while-streaming", verbCloseWhileStreaming},
    {"close-while-writing", verbCloseWhileWriting},
    {"write-wait-fault", verbWriteWaitFault},
    {"cancel-read", verbCancelRead},
    {"hangup", verbHangup},
    {"empty-reads", verbEmptyReads},
    {"dcb", verbDcb},
    {"close-lost-cancel", verbCloseLostCancel},
};

int portNumber(const char* name) {
    if (_strnicmp(name, "COM", 3) != 0) return -1;
    return std::atoi(name + 3);
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: link_check VERB COMn [ARGS...]\n");
        return 2;
    }
    setSettingsDefaults(&appSettings);
    configureLink(1, false);  // one trend sample per measurement
    int port = portNumber(argv[2]);
    for (const Verb& verb : VERBS) {
        if (std::strcmp(verb.name, argv[1]) != 0) continue;
        int code = verb.run(port, argc - 3, argv + 3);
        printValue("done", 1);
        return code;
    }
    std::fprintf(stderr, "link_check: unknown verb %s\n", argv[1]);
    return 2;
}
