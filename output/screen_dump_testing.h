// Test builds only: makes the screen dump's pixel read or its pixel write
// fail, so that the tests can see what the user is left with afterwards.
// Only the fault-injecting test program includes this header.
#pragma once

enum DumpFault {
    DUMP_FAULT_NONE,
    DUMP_FAULT_PIXEL_READ,  // GetDIBits reports no lines read
    DUMP_FAULT_WRITE,       // the pixels stop half-way, as on a full disk
};

void injectDumpFault(int fault);
