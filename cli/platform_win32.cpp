// Main thread: the command line, the console's code page, files, ports.
// Console-event thread (started by the system for each event): writes only
// *stopFlag; for a close, log-off or shut-down it then polls runHandled,
// which the main thread sets once the run has ended and the console is
// restored. Both are atomics; the file and the console are the main
// thread's alone, and the event thread only waits for them to be done.
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>

#include "cli/platform.h"
#include "params/utf8_win32.h"

namespace {

// The console's output code page before the tool switched it; 0 while the
// tool has not. Main thread only.
UINT codePageBefore = 0;

// Set once before the handler is registered.
std::atomic<int>* stopFlag = nullptr;
std::atomic<int> runHandled{0};

// Windows ends the process when the handler returns from these events, so
// the run gets its time to write the rows it holds, close the CSV file and
// print its summary, bounded below the system's own limit of 5 s. Measured
// on the clock: a Sleep(10) may last a whole timer tick.
constexpr ULONGLONG CLOSE_WAIT_MS = 4000;

void holdProcessUntilRunHandled() {
    ULONGLONG end = GetTickCount64() + CLOSE_WAIT_MS;
    while (runHandled.load(std::memory_order_relaxed) == 0 && GetTickCount64() < end) Sleep(10);
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        stopFlag->store(1, std::memory_order_relaxed);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        stopFlag->store(1, std::memory_order_relaxed);
        holdProcessUntilRunHandled();
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

bool commandLineArguments(int, char**, std::vector<std::string>* arguments) {
    arguments->clear();
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return false;
    bool valid = true;
    for (int i = 0; i < count && valid; ++i) {
        std::string argument;
        valid = wideToUtf8(wide[i], &argument);
        arguments->push_back(std::move(argument));
    }
    LocalFree(wide);
    if (!valid) arguments->clear();
    return valid;
}

void prepareConsole() {
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return;  // a file or a pipe
    UINT current = GetConsoleOutputCP();
    if (current == 0 || current == CP_UTF8) return;
    if (SetConsoleOutputCP(CP_UTF8)) codePageBefore = current;
}

// The console turns bytes into characters as they are written, so whatever
// the C library still holds goes out before the code page changes back.
void restoreConsole() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (codePageBefore == 0) return;
    SetConsoleOutputCP(codePageBefore);
    codePageBefore = 0;
}

void catchStopRequests(std::atomic<int>* stop) {
    stopFlag = stop;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void stopRequestsHandled() { runHandled.store(1, std::memory_order_relaxed); }

std::FILE* openFile(const std::string& path, const char* mode) {
    std::wstring widePath;
    std::wstring wideMode;
    if (!utf8ToWide(path, &widePath) || !utf8ToWide(mode, &wideMode)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return nullptr;
    }
    return _wfopen(widePath.c_str(), wideMode.c_str());
}

bool stdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

int lastSystemError() { return static_cast<int>(GetLastError()); }

std::string systemErrorText(int code) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT),
                                  text, sizeof text, nullptr);
    if (length == 0) {
        std::snprintf(text, sizeof text, "system error %d", code);
        return text;
    }
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.'))
        --length;
    return std::string(text, length);
}

// Every DOS device name of the form COMn, in numeric order.
std::vector<std::string> listSerialPorts() {
    std::vector<char> names(65536);
    DWORD length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    std::vector<std::string> ports;
    for (DWORD at = 0; at < length && names[at] != '\0';) {
        std::string name(&names[at]);
        at += static_cast<DWORD>(name.size()) + 1;
        if (name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 &&
            name.find_first_not_of("0123456789", 3) == std::string::npos)
            ports.push_back(name);
    }
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return std::atoi(a.c_str() + 3) < std::atoi(b.c_str() + 3);
    });
    return ports;
}

int localTimeAndOffset(std::time_t t, std::tm* local) {
    localtime_s(local, &t);
    std::tm copy = *local;
    return static_cast<int>((_mkgmtime(&copy) - t) / 60);
}
