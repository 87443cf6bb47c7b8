// Test builds only: what the link threads have done, their ids, the port's
// handle and fault injection for the recovery paths. The Win32 link
// implements these; the program and the command-line tool never include this
// header.
//
// Threads: the statistics are counted by the link threads and may be read
// from any thread; setLinkFault may be called from any thread.
#pragma once

#include <cstdint>

// What the link threads have done since the process started.
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
    // From the next read on, every read of the open link completes at once
    // with no bytes and no error, as some drivers' reads do once their
    // device has gone; the next link reads normally again.
    LINK_FAULT_READS_EMPTY,
};
void setLinkFault(int fault);
