// The serial link to the device: one COM port, a reader thread that feeds the
// receive parser and a writer thread that drains the TransmitRing.
//
// Threads: openLink and closeLink are called by the window thread only. The
// statistics are counted by the link threads and may be read from any thread.
#pragma once

#include <cstdint>

// The ELQ770's line speed; every caller opens the link at it.
constexpr int BAUD_RATE = 9600;

// Opens COM<portNumber> at baudRate (8 data bits, no parity, one stop bit, no
// handshake) and starts both link threads. 1 on success; 0 otherwise, and then
// nothing the call created is left open or running.
int openLink(int portNumber, int baudRate);

// The same for a port named by the system: "COM3" on Windows (from COM10 on
// opened as \\.\COM10, the only form that reaches them), a device path
// such as /dev/ttyUSB0 on POSIX. openLink(n) is openLinkByName of COMn, or of
// /dev/ttyS<n-1> on POSIX. On a failure the system's error code is left in
// errno (POSIX) or GetLastError (Windows).
int openLinkByName(const char* name, int baudRate);

// Stops both threads and closes every handle. Safe when no link is open and
// when called twice. 0 when every close succeeded, 1 when any failed. A
// thread that has not ended after about 5 s (stuck in its driver) is given
// up: 1, and its link's handles are closed by a later openLink or closeLink
// once it has ended.
int closeLink();

// 1 while a link is open (the window thread's view; a link whose device has
// gone stays open until closeLink).
int linkIsOpen();

// 1 once the open link's reads fail as they do after the adapter has been
// pulled (an error that means so at once, or a run of failed reads of any
// error): the handle is dead and the port must be closed and opened again.
// Cleared by openLink. Read on the window thread, set by the reader thread.
int linkDeviceGone();

// What the link threads have done since the process started. Diagnostics for
// the end-to-end checks; the program itself never reads them.
struct LinkStatistics {
    int64_t readsParsed;        // 4-byte reads handed to the parser
    int64_t readsDropped;       // reads that completed with another count
    int64_t readsFailedAtOnce;  // ReadFile failed without going pending
    int64_t readsFailedLater;   // a pending read completed with an error
    int64_t readsCancelled;     // outstanding reads cancelled at a stop request
    int64_t writesPending;      // writes that went pending
    int64_t writesAborted;      // pending writes aborted by a stop request
    int64_t writeWaitFailures;  // waits on a pending write that failed
    int64_t linksAbandoned;     // closes that gave up on a thread stuck in its driver
    int64_t linksReleased;      // such links whose handles were closed once it ended
};
LinkStatistics linkStatistics();

// Thread ids of the running link threads (0 when no link is open), so that a
// check can ask for their CPU times.
unsigned long linkReaderThreadId();
unsigned long linkWriterThreadId();

// The open port's handle (nullptr when closed), for checks that disturb the
// outstanding I/O from outside.
void* linkPortHandle();

// Fault injection for the recovery paths: the chosen step fails once, the
// next time it is reached. LINK_FAULT_WRITE_WAIT makes the writer's next wait
// on a pending write fail as a wait on an invalid handle does.
enum LinkFault : int {
    LINK_FAULT_NONE = 0,
    LINK_FAULT_COMM_STATE,
    LINK_FAULT_READER_STOP_EVENT,
    LINK_FAULT_WRITER_STOP_EVENT,
    LINK_FAULT_TRANSMIT_EVENT,
    LINK_FAULT_READER_THREAD,
    LINK_FAULT_WRITER_THREAD,
    LINK_FAULT_WRITE_WAIT,
    // The reader's cancel at a stop request is lost, as with a driver that
    // never completes a cancelled read: on a silent port closeLink must give
    // up on the reader after its bound.
    LINK_FAULT_CANCEL_LOST,
    // From the next read on, every read of the open link fails at once with
    // ERROR_FILE_NOT_FOUND, as some drivers' reads do after a surprise
    // removal; the next link reads normally again.
    LINK_FAULT_READS_FILE_NOT_FOUND,
};
void setLinkFault(int fault);
