// Linked into elq770_faults.exe only. With the argument "read-gone" the
// program runs normally until a file named read-gone.now appears in its
// current directory; from then on the open link's reads fail with
// ERROR_FILE_NOT_FOUND, as a pulled adapter's do with some drivers (the
// next link reads normally). Once reads are parsed again after those
// failures, which only a new link does, it leaves read-gone.reopened beside
// it. The test creates read-gone.now once it has seen the readouts, so the
// fault hits a link that was alive.
#include <windows.h>

#include <cstring>

#include "link/serial_link.h"
#include "link/serial_link_testing.h"

namespace {

constexpr DWORD POLL_MS = 50;

// The link's statistics are atomics, safe to read from this thread.
void waitWhile(int64_t LinkStatistics::*field, int64_t value) {
    while (linkStatistics().*field == value) Sleep(POLL_MS);
}

DWORD WINAPI injectWhenAsked(LPVOID) {
    while (GetFileAttributesA("read-gone.now") == INVALID_FILE_ATTRIBUTES) Sleep(POLL_MS);
    int64_t failedBefore = linkStatistics().readsFailedAtOnce;
    setLinkFault(LINK_FAULT_READS_FILE_NOT_FOUND);
    waitWhile(&LinkStatistics::readsFailedAtOnce, failedBefore);
    waitWhile(&LinkStatistics::readsParsed, linkStatistics().readsParsed);
    HANDLE marker = CreateFileA("read-gone.reopened", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return 0;
}

const bool watching = [] {
    if (std::strstr(GetCommandLineA(), " read-gone") == nullptr) return false;
    HANDLE thread = CreateThread(nullptr, 0, injectWhenAsked, nullptr, 0, nullptr);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
}();

}  // namespace
