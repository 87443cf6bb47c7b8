// Linked into elq770_faults.exe only (the program with its screen-dump
// failures injectable): the first command-line argument, "pixel-read" or
// "write", names the failure, read before WinMain runs.
#include <windows.h>

#include <cstring>

#include "output/screen_dump_testing.h"

namespace {

const bool faultInjected = [] {
    const char* line = GetCommandLineA();
    if (std::strstr(line, " pixel-read") != nullptr)
        injectDumpFault(DUMP_FAULT_PIXEL_READ);
    else if (std::strstr(line, " write") != nullptr)
        injectDumpFault(DUMP_FAULT_WRITE);
    return true;
}();

}  // namespace
