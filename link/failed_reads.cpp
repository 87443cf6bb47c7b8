#include "link/failed_reads.h"

bool FailedReadCounter::readFailed() {
    // Held at the limit: it never wraps, however long a dead port is read.
    if (inARow < FAILED_READS_FOR_DEVICE_GONE) ++inARow;
    return inARow >= FAILED_READS_FOR_DEVICE_GONE;
}

void FailedReadCounter::readSucceeded() { inARow = 0; }

bool FailedReadCounter::readCompleted(unsigned received, unsigned wanted) {
    if (received == 0) return readFailed();
    if (received == wanted) readSucceeded();
    return false;
}
