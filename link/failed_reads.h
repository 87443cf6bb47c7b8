// Reads that fail in a row on the open link. Drivers differ in the error
// their reads fail with once an adapter has been pulled (some report one
// that also means a passing fault, some complete the read with no bytes and
// no error at all), so besides the errors that mean "gone" at once, a run of
// failed reads of any kind means the device has gone.
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

    // A read completed without an error, with `received` of the `wanted`
    // bytes. With the link's all-zero time-outs a read completes only once
    // every byte it asked for has come, so one that brings none is a
    // failure (a driver that has lost its device); a whole one ends the
    // run, and a part of one (a torn line) does neither. true when it was a
    // failure that readFailed would answer with true.
    bool readCompleted(unsigned received, unsigned wanted);
};
