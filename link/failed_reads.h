// Reads that fail in a row on the open link. Drivers differ in the error
// their reads fail with once an adapter has been pulled (some report one
// that also means a passing fault), so besides the errors that mean "gone"
// at once, a run of failed reads of any error means the device has gone.
//
// Threads: each reader thread owns its counter; nothing is shared.
#pragma once

// Failed reads in a row, with no good read between, that mean the device
// has gone.
constexpr int FAILED_READS_FOR_DEVICE_GONE = 3;

struct FailedReadCounter {
    int inARow = 0;

    // A read failed. true once FAILED_READS_FOR_DEVICE_GONE have failed in
    // a row, and for every further failure.
    bool readFailed();

    // A read brought its bytes: the run is over.
    void readSucceeded();
};
