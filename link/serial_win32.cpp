// Win32 serial link: the COM port, its reader thread and its writer thread.
//
// Threads and hand-overs:
// - Window thread: openLink and closeLink. It creates the port and the three
//   events before it starts the threads (CreateThread publishes them to the
//   new thread), and closes them only after WaitForMultipleObjects has seen
//   both threads end. It signals readerStopEvent and writerStopEvent, and,
//   through putTransmitBytes and the transmit-ready hook, transmitReadyEvent.
//   The hook finds that event through an atomic handle, cleared before the
//   event is closed, so it never signals a closed or reused handle.
// - Reader thread: owns the receive buffer, its OVERLAPPED and completion
//   event, and its ReaderState (the run of failed reads), and always has one
//   4-byte read outstanding or about to be issued. Complete reads go to
//   parseReceivedBytes on this thread. At a stop request it cancels the
//   outstanding read and waits for its completion before the buffer and
//   event go away.
// - Writer thread: owns the chunk buffer, the write OVERLAPPED and its event;
//   it alone takes from the TransmitRing and resets transmitReadyEvent. A
//   pending write is always completed (or cancelled and then completed)
//   before its OVERLAPPED and chunk are used again.
// - Device gone: the reader sets deviceGone (relaxed store; the window thread
//   polls it on its pump tick and needs no other data with it) when a read
//   fails with an error that only a removed adapter gives, or when
//   FAILED_READS_FOR_DEVICE_GONE reads in a row have failed with any error
//   (drivers differ in what a pulled adapter's reads report), and then stops
//   reading. A read that completes with no bytes counts as failed: with
//   all-zero time-outs only a driver that has lost its device completes
//   one so. openLink clears deviceGone before the threads start.
// - closeLink waits for the threads at most CLOSE_WAIT_MS. A thread still
//   running then is stuck in a driver that never completes its cancelled
//   request; it keeps its stack buffer and OVERLAPPED (the driver may still
//   write into them), and the window thread abandons the link's handles to
//   it instead of closing them under it, keeping them in a short list; the
//   next openLink or closeLink closes them once both threads have ended, so
//   the port is free again as soon as the driver lets go. Each thread works
//   with its own copy of the link's handles (ThreadLink), and the stop
//   events stay set once set: a thread that wakes after its stop neither
//   parses what it read, nor marks the device gone, nor takes from the
//   TransmitRing, so it ends without ever touching a later link.
// No lock is used: the TransmitRing orders its bytes by release/acquire on its
// indexes, and the events order everything else.
#include <windows.h>

#include <atomic>

#include "link/command_frames.h"
#include "link/failed_reads.h"
#include "link/net_link_win32.h"
#include "link/port_name.h"
#include "link/receive_parser.h"
#include "link/serial_link.h"
#include "link/serial_link_testing.h"

namespace {

constexpr int RECEIVE_BUFFER_SIZE = 256;
constexpr DWORD READ_SIZE = 4;
constexpr DWORD QUEUE_SIZE = 1500;
// Pause between reads that keep failing (a device that hung up): the reader
// waits on its stop event for this long, so it neither spins nor stops being
// stoppable.
constexpr DWORD READ_RETRY_PAUSE_MS = 10;
// Longest wait for the link threads at closeLink. A driver that never
// completes a cancelled request must not hang the window (nor keep the
// program from exiting).
constexpr DWORD CLOSE_WAIT_MS = 5000;
// Flow-control characters. XON/XOFF is off (fOutX, fInX 0), so they never act
// on the line, but SetCommState fails when they are equal, and several
// virtual-COM drivers check that.
constexpr char XON_CHAR = 0x11;
constexpr char XOFF_CHAR = 0x13;

struct LinkHandles {
    HANDLE port;
    HANDLE readerStopEvent;
    HANDLE writerStopEvent;
    HANDLE transmitReadyEvent;
    HANDLE readerThread;
    DWORD readerThreadId;
    HANDLE writerThread;
    DWORD writerThreadId;
};

struct Counters {
    std::atomic<int64_t> readsParsed{0};
    std::atomic<int64_t> readsDropped{0};
    std::atomic<int64_t> readsFailedAtOnce{0};
    std::atomic<int64_t> readsFailedLater{0};
    std::atomic<int64_t> readsCancelled{0};
    std::atomic<int64_t> writesPending{0};
    std::atomic<int64_t> writesAborted{0};
    std::atomic<int64_t> writeWaitFailures{0};
    std::atomic<int64_t> linksAbandoned{0};
    std::atomic<int64_t> linksReleased{0};
};

// The handles one link thread uses, copied for it before it starts.
struct ThreadLink {
    HANDLE port;
    HANDLE stopEvent;
    HANDLE transmitReadyEvent;  // the writer's; null for the reader
};

LinkHandles linkHandles{};
// Links given up at close whose threads had not ended (window thread only).
// More than this many stuck drivers at once is beyond recovery: the handles
// of any further one stay open until the program ends.
constexpr int MAX_ABANDONED_LINKS = 4;
LinkHandles abandonedLinks[MAX_ABANDONED_LINKS];
int abandonedLinkCount = 0;
Counters counters;
std::atomic<HANDLE> transmitReadyShared{nullptr};
std::atomic<int> pendingFault{LINK_FAULT_NONE};
std::atomic<int> deviceGone{0};

void count(std::atomic<int64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }

// True once when the fault is the injected one, which is then used up.
bool faultHits(int fault) {
    // A plain load first: every read asks, and a fault is almost never set.
    if (pendingFault.load(std::memory_order_relaxed) != fault) return false;
    int expected = fault;
    return pendingFault.compare_exchange_strong(expected, LINK_FAULT_NONE,
                                                std::memory_order_relaxed);
}

void signalTransmitReady() {
    HANDLE event = transmitReadyShared.load(std::memory_order_acquire);
    if (event != nullptr) SetEvent(event);
}

// Closes the handle if open and marks it closed. 1 when CloseHandle failed.
int closeAndClear(HANDLE& handle) {
    if (handle == nullptr) return 0;
    BOOL closed = CloseHandle(handle);
    handle = nullptr;
    return closed ? 0 : 1;
}

// ---- Port configuration ----

int configurePort(HANDLE port, int baudRate) {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.fBinary = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = XON_CHAR;
    dcb.XoffChar = XOFF_CHAR;
    if (faultHits(LINK_FAULT_COMM_STATE) || !SetCommState(port, &dcb)) return 0;
    // All zero: a read completes only when every requested byte has arrived.
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    if (!SetCommTimeouts(port, &timeouts)) return 0;
    // The queue sizes are only a recommendation to the driver; some virtual
    // drivers reject the call, and the port works without it.
    SetupComm(port, QUEUE_SIZE, QUEUE_SIZE);
    return 1;
}

// COM10 and above open only through the device namespace (\\.\COM10);
// COM1 to COM9 keep the plain name the program has always used.
bool needsDeviceNamespace(const char* name) {
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm') return false;
    int digits = 0;
    for (const char* c = name + 3; *c != '\0'; ++c, ++digits)
        if (*c < '0' || *c > '9' || digits == 3) return false;
    return digits >= 2 && name[3] != '0';
}

HANDLE openPort(const char* portName) {
    char name[16];
    if (needsDeviceNamespace(portName)) {
        wsprintfA(name, "\\\\.\\%s", portName);
        portName = name;
    }
    HANDLE port = CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    return port == INVALID_HANDLE_VALUE ? nullptr : port;
}

HANDLE createLinkEvent(int fault, BOOL manualReset) {
    if (faultHits(fault)) return nullptr;
    return CreateEventA(nullptr, manualReset, FALSE, nullptr);
}

// ---- Reader thread ----

// What the reader thread keeps from one read to the next; its own, on its
// stack.
struct ReaderState {
    FailedReadCounter failedReads;
    // The read fault injected into this link (LINK_FAULT_READS_...): its
    // reads fail so from now on, as a pulled adapter's would, until the link
    // is closed.
    int injectedReadFault = LINK_FAULT_NONE;
};

// The thread's copy of its handles, handed over on the heap by startThread.
ThreadLink takeThreadLink(LPVOID parameter) {
    ThreadLink* handed = static_cast<ThreadLink*>(parameter);
    ThreadLink link = *handed;
    HeapFree(GetProcessHeap(), 0, handed);
    return link;
}

// The stop events are manual-reset: once set they stay set, so this check
// can be made anywhere without taking the request from a later wait.
bool stopRequested(const ThreadLink& link) {
    return WaitForSingleObject(link.stopEvent, 0) == WAIT_OBJECT_0;
}

// READ_FAILED also covers a read that completed at once with a short count,
// as a port whose other end has gone may keep doing: both are retried paced.
enum ReadStart { READ_COMPLETED, READ_PENDING, READ_FAILED };

// Reads stop once the device has gone (see the thread contract); a link
// being closed or given up is past caring.
void deviceHasGone(const ThreadLink& link) {
    if (!stopRequested(link)) deviceGone.store(1, std::memory_order_relaxed);
}

// A read of another length is dropped: the parser never sees partial reads.
// One that brought no bytes at all counts as a failed read.
bool takeCompletedRead(const ThreadLink& link, ReaderState& reader, const uint8_t* buffer, DWORD received) {
    // Bytes read after a stop request belong to a link being closed or given
    // up; the next link's reader may already be feeding the parser.
    if (stopRequested(link)) return false;
    if (reader.failedReads.readCompleted(received, READ_SIZE)) deviceHasGone(link);
    if (received != READ_SIZE) {
        count(counters.readsDropped);
        return false;
    }
    parseReceivedBytes(buffer, static_cast<int>(READ_SIZE));
    count(counters.readsParsed);
    return true;
}

// Errors with which reads fail once the adapter has been pulled: the port
// will not come back under this handle. ERROR_BROKEN_PIPE is what Wine
// reports once the other end of a pseudo-terminal has gone. Other drivers
// report other errors (ERROR_FILE_NOT_FOUND, for one); those are caught by
// the run of failed reads instead.
bool isDeviceGoneError(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_IO_DEVICE:
    case ERROR_BROKEN_PIPE:
        return true;
    default:
        return false;
    }
}

// A read failed with error.
void noteReadError(const ThreadLink& link, ReaderState& reader, DWORD error) {
    bool runOfFailures = reader.failedReads.readFailed();
    if (runOfFailures || isDeviceGoneError(error)) deviceHasGone(link);
}

// The injected read fault, once one has hit: every read of this link then
// fails at once with an error outside isDeviceGoneError's list, or
// completes at once with no bytes.
int injectedReadFault(ReaderState& reader) {
    if (reader.injectedReadFault != LINK_FAULT_NONE) return reader.injectedReadFault;
    if (faultHits(LINK_FAULT_READS_FILE_NOT_FOUND))
        reader.injectedReadFault = LINK_FAULT_READS_FILE_NOT_FOUND;
    else if (faultHits(LINK_FAULT_READS_EMPTY))
        reader.injectedReadFault = LINK_FAULT_READS_EMPTY;
    return reader.injectedReadFault;
}

// The count of a read on this overlapped handle comes from
// GetOverlappedResult, also when ReadFile completed at once: the count
// ReadFile itself reports is unreliable for asynchronous handles.
ReadStart startRead(const ThreadLink& link, ReaderState& reader, uint8_t* buffer, OVERLAPPED* overlapped) {
    DWORD error = ERROR_FILE_NOT_FOUND;  // what an injected failure reports
    int fault = injectedReadFault(reader);
    if (fault == LINK_FAULT_READS_EMPTY) return takeCompletedRead(link, reader, buffer, 0) ? READ_COMPLETED : READ_FAILED;
    if (fault == LINK_FAULT_NONE) {
        if (ReadFile(link.port, buffer, READ_SIZE, nullptr, overlapped)) {
            DWORD received = 0;
            if (!GetOverlappedResult(link.port, overlapped, &received, FALSE)) {
                noteReadError(link, reader, GetLastError());
                return READ_FAILED;
            }
            return takeCompletedRead(link, reader, buffer, received) ? READ_COMPLETED : READ_FAILED;
        }
        error = GetLastError();
        if (error == ERROR_IO_PENDING) return READ_PENDING;
    }
    count(counters.readsFailedAtOnce);
    noteReadError(link, reader, error);
    return READ_FAILED;
}

// Waits out the retry pause; true when a stop request arrived meanwhile.
bool pauseBeforeRetry(const ThreadLink& link) {
    DWORD result = WaitForSingleObject(link.stopEvent, READ_RETRY_PAUSE_MS);
    if (result == WAIT_FAILED) Sleep(READ_RETRY_PAUSE_MS);
    return result == WAIT_OBJECT_0;
}

// Cancels an operation that may still be in flight and waits for its
// completion, so that nothing writes into or reads from its buffer after the
// caller lets it go. True when the operation ended as cancelled. (CancelIoEx
// finds nothing when the operation has just completed by itself; the wait
// below then returns at once.)
bool cancelAndComplete(const ThreadLink& link, OVERLAPPED* overlapped) {
    CancelIoEx(link.port, overlapped);
    DWORD transferred = 0;
    if (GetOverlappedResult(link.port, overlapped, &transferred, TRUE)) return false;
    return GetLastError() == ERROR_OPERATION_ABORTED;
}

void cancelOutstandingRead(const ThreadLink& link, OVERLAPPED* overlapped) {
    if (faultHits(LINK_FAULT_CANCEL_LOST)) {
        // A driver that drops the cancel: the read ends only when bytes come.
        DWORD transferred = 0;
        GetOverlappedResult(link.port, overlapped, &transferred, TRUE);
        return;
    }
    if (cancelAndComplete(link, overlapped)) count(counters.readsCancelled);
}

// READ_ERROR: the read completed with an error or a short count.
enum ReadEnd { READ_DONE, READ_ERROR, READ_STOPPED };

// Waits for the outstanding read or a stop request.
ReadEnd awaitRead(const ThreadLink& link, ReaderState& reader, uint8_t* buffer, OVERLAPPED* overlapped) {
    HANDLE waits[2] = {link.stopEvent, overlapped->hEvent};
    for (;;) {
        DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) {
            cancelOutstandingRead(link, overlapped);
            return READ_STOPPED;
        }
        if (result == WAIT_OBJECT_0 + 1) {
            DWORD received = 0;
            BOOL ok = GetOverlappedResult(link.port, overlapped, &received, FALSE);
            ResetEvent(overlapped->hEvent);
            if (!ok) {
                noteReadError(link, reader, GetLastError());
                count(counters.readsFailedLater);
                return READ_ERROR;
            }
            return takeCompletedRead(link, reader, buffer, received) ? READ_DONE : READ_ERROR;
        }
        // The wait itself failed; the read is still outstanding. Pace the
        // retries instead of spinning.
        Sleep(READ_RETRY_PAUSE_MS);
    }
}

// Reads until a stop request. A read that fails, at once or later, is issued
// again after a pause, so a passing fault does not silence the link. Once
// the device is gone (see noteReadError) no read is issued any more: the
// window thread closes the link and reopens the port by name.
void readUntilStopped(const ThreadLink& link, uint8_t* buffer, OVERLAPPED* overlapped) {
    ReaderState reader;
    for (;;) {
        if (deviceGone.load(std::memory_order_relaxed)) {
            WaitForSingleObject(link.stopEvent, INFINITE);
            return;
        }
        ReadStart start = startRead(link, reader, buffer, overlapped);
        if (start == READ_COMPLETED) continue;
        if (start == READ_FAILED) {
            if (pauseBeforeRetry(link)) return;
            continue;
        }
        ReadEnd end = awaitRead(link, reader, buffer, overlapped);
        if (end == READ_STOPPED) return;
        if (end == READ_ERROR && pauseBeforeRetry(link)) return;
    }
}

DWORD WINAPI readerThread(LPVOID parameter) {
    ThreadLink link = takeThreadLink(parameter);
    uint8_t buffer[RECEIVE_BUFFER_SIZE];
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        // Without a completion event no read can be issued; stay stoppable.
        WaitForSingleObject(link.stopEvent, INFINITE);
        return 1;
    }
    readUntilStopped(link, buffer, &overlapped);
    CloseHandle(overlapped.hEvent);
    return 1;
}

// ---- Writer thread ----

enum WriteEnd { WRITE_FINISHED, WRITE_STOPPED };

// A stop request while a write is pending: abort the transmission. The purge
// may leave the write to end by itself, so it is also cancelled and completed.
WriteEnd abortPendingWrite(const ThreadLink& link, OVERLAPPED* overlapped) {
    PurgeComm(link.port, PURGE_TXABORT);
    cancelAndComplete(link, overlapped);
    count(counters.writesAborted);
    return WRITE_STOPPED;
}

// The completion event fired: take the write's result; a short or failed
// write is dropped. A write that the port still reports in progress gets the
// port's error state cleared, which may be what holds it; if it has not ended
// then, it is cancelled and completed before its chunk is reused.
WriteEnd finishSignalledWrite(const ThreadLink& link, OVERLAPPED* overlapped) {
    DWORD written = 0;
    if (GetOverlappedResult(link.port, overlapped, &written, FALSE)) return WRITE_FINISHED;
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING && error != ERROR_IO_INCOMPLETE) return WRITE_FINISHED;
    DWORD commErrors = 0;
    if (ClearCommError(link.port, &commErrors, nullptr) &&
        GetOverlappedResult(link.port, overlapped, &written, FALSE)) {
        return WRITE_FINISHED;
    }
    cancelAndComplete(link, overlapped);
    return WRITE_FINISHED;
}

WriteEnd awaitWrite(const ThreadLink& link, OVERLAPPED* overlapped) {
    HANDLE waits[2] = {link.stopEvent, overlapped->hEvent};
    if (faultHits(LINK_FAULT_WRITE_WAIT)) waits[1] = nullptr;
    DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return abortPendingWrite(link, overlapped);
    if (result == WAIT_OBJECT_0 + 1) return finishSignalledWrite(link, overlapped);
    // The wait itself failed and the write may still be in flight: its
    // OVERLAPPED and chunk are not reused before it has completed.
    count(counters.writeWaitFailures);
    cancelAndComplete(link, overlapped);
    return WRITE_FINISHED;
}

// Writes the ring's bytes in chunks. 1 when a stop request arrived while a
// write was pending, else 0. A chunk that fails or goes out short is dropped.
int drainTransmitRing(const ThreadLink& link) {
    uint8_t chunk[TRANSMIT_CHUNK_SIZE];
    OVERLAPPED overlapped;
    HANDLE completion = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (completion == nullptr) {
        // Cannot write without an event: drop the bytes rather than leave
        // them to be found again by the writer's re-check at once.
        takeTransmitBytes(chunk);
        return 0;
    }
    int result = 0;
    for (;;) {
        if (stopRequested(link)) {
            result = 1;
            break;
        }
        int size = takeTransmitBytes(chunk);
        if (size == 0) break;
        ZeroMemory(&overlapped, sizeof overlapped);
        overlapped.hEvent = completion;
        if (WriteFile(link.port, chunk, static_cast<DWORD>(size), nullptr, &overlapped)) {
            // Completed at once; the count still comes from the OVERLAPPED.
            DWORD written = 0;
            if (GetOverlappedResult(link.port, &overlapped, &written, FALSE) &&
                written == static_cast<DWORD>(size))
                continue;
            break;
        }
        if (GetLastError() != ERROR_IO_PENDING) break;
        count(counters.writesPending);
        if (awaitWrite(link, &overlapped) == WRITE_STOPPED) result = 1;
        break;
    }
    CloseHandle(completion);
    return result;
}

// Drains, resets transmitReadyEvent, and drains again while bytes that came
// in during a drain are waiting: their put set the event before the reset.
// 1 when a stop request ended a drain.
int serveTransmitReady(const ThreadLink& link) {
    for (;;) {
        if (drainTransmitRing(link)) return 1;
        ResetEvent(link.transmitReadyEvent);
        if (transmitRingPending() == 0) return 0;
        if (stopRequested(link)) return 1;
    }
}

DWORD WINAPI writerThread(LPVOID parameter) {
    ThreadLink link = takeThreadLink(parameter);
    HANDLE waits[2] = {link.stopEvent, link.transmitReadyEvent};
    for (;;) {
        DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) return 1;
        if (result == WAIT_OBJECT_0 + 1) {
            if (serveTransmitReady(link)) return 1;
            continue;
        }
        Sleep(READ_RETRY_PAUSE_MS);  // a failed wait: do not spin
    }
}

// ---- Opening ----

int createLinkEvents() {
    linkHandles.readerStopEvent = createLinkEvent(LINK_FAULT_READER_STOP_EVENT, TRUE);
    if (linkHandles.readerStopEvent == nullptr) return 0;
    linkHandles.writerStopEvent = createLinkEvent(LINK_FAULT_WRITER_STOP_EVENT, TRUE);
    if (linkHandles.writerStopEvent == nullptr) return 0;
    linkHandles.transmitReadyEvent = createLinkEvent(LINK_FAULT_TRANSMIT_EVENT, TRUE);
    return linkHandles.transmitReadyEvent != nullptr ? 1 : 0;
}

HANDLE startThread(int fault, LPTHREAD_START_ROUTINE procedure, const ThreadLink& link, DWORD* threadId) {
    if (faultHits(fault)) return nullptr;
    ThreadLink* handed = static_cast<ThreadLink*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadLink)));
    if (handed == nullptr) return nullptr;
    *handed = link;
    HANDLE thread = CreateThread(nullptr, 0, procedure, handed, 0, threadId);
    if (thread == nullptr) HeapFree(GetProcessHeap(), 0, handed);
    return thread;
}

int startLinkThreads() {
    ThreadLink reader{linkHandles.port, linkHandles.readerStopEvent, nullptr};
    linkHandles.readerThread =
        startThread(LINK_FAULT_READER_THREAD, readerThread, reader, &linkHandles.readerThreadId);
    if (linkHandles.readerThread == nullptr) return 0;
    ThreadLink writer{linkHandles.port, linkHandles.writerStopEvent, linkHandles.transmitReadyEvent};
    linkHandles.writerThread =
        startThread(LINK_FAULT_WRITER_THREAD, writerThread, writer, &linkHandles.writerThreadId);
    return linkHandles.writerThread != nullptr ? 1 : 0;
}

// Stops whichever link threads run and waits for them, at most
// CLOSE_WAIT_MS in all. true when both have ended.
bool stopLinkThreads() {
    if (linkHandles.readerStopEvent != nullptr) SetEvent(linkHandles.readerStopEvent);
    if (linkHandles.writerStopEvent != nullptr) SetEvent(linkHandles.writerStopEvent);
    HANDLE threads[2];
    DWORD running = 0;
    if (linkHandles.readerThread != nullptr) threads[running++] = linkHandles.readerThread;
    if (linkHandles.writerThread != nullptr) threads[running++] = linkHandles.writerThread;
    if (running == 0) return true;
    DWORD start = GetTickCount();
    DWORD result = WaitForMultipleObjects(running, threads, TRUE, CLOSE_WAIT_MS);
    if (result != WAIT_FAILED) return result != WAIT_TIMEOUT;
    // The joint wait failed: wait for each alone, within what is left.
    for (DWORD i = 0; i < running; ++i) {
        DWORD spent = GetTickCount() - start;
        DWORD left = spent < CLOSE_WAIT_MS ? CLOSE_WAIT_MS - spent : 0;
        if (WaitForSingleObject(threads[i], left) != WAIT_OBJECT_0) return false;
    }
    return true;
}

int closeHandlesOf(LinkHandles& link) {
    int failed = 0;
    failed |= closeAndClear(link.readerStopEvent);
    failed |= closeAndClear(link.writerStopEvent);
    failed |= closeAndClear(link.transmitReadyEvent);
    failed |= closeAndClear(link.readerThread);
    failed |= closeAndClear(link.writerThread);
    failed |= closeAndClear(link.port);
    link.readerThreadId = 0;
    link.writerThreadId = 0;
    return failed;
}

// A thread did not end in time: its handles stay open for it (closing the
// port or its stop event under it could hand their values to new objects)
// until releaseAbandonedLinks finds both threads ended, and the link starts
// afresh.
int abandonLinkHandles() {
    transmitReadyShared.store(nullptr, std::memory_order_release);
    count(counters.linksAbandoned);
    if (abandonedLinkCount < MAX_ABANDONED_LINKS) abandonedLinks[abandonedLinkCount++] = linkHandles;
    linkHandles = LinkHandles{};
    return 1;
}

bool threadEnded(HANDLE thread) {
    return thread == nullptr || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// Closes the handles of given-up links whose threads have ended since, so a
// port that a stuck driver held can be opened again.
void releaseAbandonedLinks() {
    for (int i = 0; i < abandonedLinkCount;) {
        LinkHandles& link = abandonedLinks[i];
        if (!threadEnded(link.readerThread) || !threadEnded(link.writerThread)) {
            ++i;
            continue;
        }
        closeHandlesOf(link);
        count(counters.linksReleased);
        abandonedLinks[i] = abandonedLinks[--abandonedLinkCount];
    }
}

int closeLinkHandles() {
    transmitReadyShared.store(nullptr, std::memory_order_release);
    return closeHandlesOf(linkHandles);
}

}  // namespace

int openLink(int portNumber, int baudRate) {
    char name[16];
    wsprintfA(name, "COM%d", portNumber);
    return openLinkByName(name, baudRate);
}

namespace {

int openSerialLink(const char* name, int baudRate) {
    releaseAbandonedLinks();
    linkHandles.port = openPort(name);
    if (linkHandles.port == nullptr) return 0;
    if (!configurePort(linkHandles.port, baudRate)) {
        DWORD error = GetLastError();
        closeAndClear(linkHandles.port);
        SetLastError(error);
        return 0;
    }
    // A failure from here on releases everything created so far, a thread
    // already running included, so that a later openLink starts clean.
    deviceGone.store(0, std::memory_order_relaxed);
    if (!createLinkEvents() || !startLinkThreads()) {
        if (stopLinkThreads())
            closeLinkHandles();
        else
            abandonLinkHandles();
        return 0;
    }
    transmitReadyShared.store(linkHandles.transmitReadyEvent, std::memory_order_release);
    setTransmitReadyHook(signalTransmitReady);
    // The writer runs now: frames put from here on are drained.
    setTransmitLinkOpen(1);
    return 1;
}

int closeSerialLink() {
    setTransmitLinkOpen(0);
    int result = stopLinkThreads() ? closeLinkHandles() : abandonLinkHandles();
    releaseAbandonedLinks();
    return result;
}

}  // namespace

// A network port's name goes to the network link (net_win32.cpp), whose
// threads keep the same contracts; one link of either kind at a time.
int openLinkByName(const char* name, int baudRate) {
    if (linkIsOpen()) closeLink();
    if (isNetworkPortName(name)) return openNetLink(name, baudRate);
    return openSerialLink(name, baudRate);
}

int closeLink() {
    int result = closeNetLink();
    return closeSerialLink() | result;
}

int linkIsOpen() { return linkHandles.port != nullptr || netLinkIsOpen() ? 1 : 0; }
int linkDeviceGone() { return deviceGone.load(std::memory_order_relaxed) | netLinkDeviceGone(); }

LinkStatistics linkStatistics() {
    LinkStatistics s;
    s.readsParsed = counters.readsParsed.load(std::memory_order_relaxed);
    s.readsDropped = counters.readsDropped.load(std::memory_order_relaxed);
    s.readsFailedAtOnce = counters.readsFailedAtOnce.load(std::memory_order_relaxed);
    s.readsFailedLater = counters.readsFailedLater.load(std::memory_order_relaxed);
    s.readsCancelled = counters.readsCancelled.load(std::memory_order_relaxed);
    s.writesPending = counters.writesPending.load(std::memory_order_relaxed);
    s.writesAborted = counters.writesAborted.load(std::memory_order_relaxed);
    s.writeWaitFailures = counters.writeWaitFailures.load(std::memory_order_relaxed);
    s.linksAbandoned = counters.linksAbandoned.load(std::memory_order_relaxed);
    s.linksReleased = counters.linksReleased.load(std::memory_order_relaxed);
    return s;
}

unsigned long linkReaderThreadId() { return linkHandles.readerThreadId; }
unsigned long linkWriterThreadId() { return linkHandles.writerThreadId; }
void* linkPortHandle() { return linkHandles.port; }
void setLinkFault(int fault) { pendingFault.store(fault, std::memory_order_relaxed); }
