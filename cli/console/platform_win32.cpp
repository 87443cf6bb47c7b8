// Main thread: the command line, the console's code page, files, ports.
// Console-event thread (started by the system for each event): during a run
// that catches stop requests it writes only *stopFlag and, for a close,
// log-off or shut-down, then polls runHandled, which the main thread sets
// once the run has ended and the console is restored; outside such a run it
// gives the console its code page back and lets the system end the process.
// The code page to give back is taken with one exchange, so that it is given
// back once, by whichever thread comes first. All three are atomics; the
// files are the main thread's alone.
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <exception>

#include "cli/console/platform.h"
#include "params/utf8_win32.h"

namespace {

// The console's output code page before the tool switched it; 0 while the
// tool has not.
std::atomic<UINT> codePageBefore{0};

// Set by catchStopRequests; null while no run takes the stop requests.
std::atomic<std::atomic<int>*> stopFlag{nullptr};
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

void giveCodePageBack() {
    UINT before = codePageBefore.exchange(0, std::memory_order_relaxed);
    if (before != 0) SetConsoleOutputCP(before);
}

bool isConsole(DWORD standardHandle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

// The C library's buffers are not flushed here: the main thread may hold
// their lock in a write that the console holds up.
BOOL WINAPI onConsoleEvent(DWORD event) {
    std::atomic<int>* stop = stopFlag.load(std::memory_order_acquire);
    if (stop == nullptr) {
        giveCodePageBack();
        return FALSE;  // the system's own handler ends the process
    }
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        stop->store(1, std::memory_order_relaxed);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        stop->store(1, std::memory_order_relaxed);
        holdProcessUntilRunHandled();
        return TRUE;
    default:
        return FALSE;
    }
}

// An exception nobody catches ends the process without passing main's end.
[[noreturn]] void onTerminate() {
    giveCodePageBack();
    std::abort();
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

// The handler is there from the start, so that Ctrl-C ends every
// subcommand with the code page given back, not only the runs that take it
// as their end.
void prepareConsole() {
    std::set_terminate(onTerminate);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (!isConsole(STD_OUTPUT_HANDLE) && !isConsole(STD_ERROR_HANDLE)) return;  // files or pipes
    UINT current = GetConsoleOutputCP();
    if (current == 0 || current == CP_UTF8) return;
    if (SetConsoleOutputCP(CP_UTF8)) codePageBefore.store(current, std::memory_order_relaxed);
}

// The console turns bytes into characters as they are written, so whatever
// the C library still holds goes out before the code page changes back.
void restoreConsole() {
    std::fflush(stdout);
    std::fflush(stderr);
    giveCodePageBack();
}

void catchStopRequests(std::atomic<int>* stop) { stopFlag.store(stop, std::memory_order_release); }

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

// _wfopen neither waits on a pipe nor reads a device; GetFileType tells a
// disk file from a console, a device or a pipe.
std::FILE* openRegularFile(const std::string& path, bool* notRegular) {
    *notRegular = false;
    std::FILE* file = openFile(path, "rb");
    if (file == nullptr) return nullptr;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        *notRegular = true;
        std::fclose(file);
        return nullptr;
    }
    return file;
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

namespace {

// Every DOS device name, NUL-separated; empty when the system gives none.
// The list holds every volume, device and link of the system and the
// session, which on a machine with many of them outgrows any fixed buffer:
// QueryDosDevice then fails with ERROR_INSUFFICIENT_BUFFER, and the buffer
// grows up to MAX_DOS_NAMES characters.
std::vector<char> dosDeviceNames() {
    constexpr DWORD FIRST_DOS_NAMES = 65536;
    constexpr DWORD MAX_DOS_NAMES = 16 * 1024 * 1024;
    for (DWORD size = FIRST_DOS_NAMES; size <= MAX_DOS_NAMES; size *= 2) {
        std::vector<char> names(size);
        DWORD length = QueryDosDeviceA(nullptr, names.data(), size);
        if (length != 0) {
            names.resize(length);
            names.push_back('\0');  // the list's end, whatever the count held
            return names;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    }
    return {};
}

}  // namespace

// Every DOS device name of the form COMn, in numeric order: the names the
// link opens (\\.\COMn), whichever driver made them. The registry's
// HARDWARE\DEVICEMAP\SERIALCOMM would be shorter to read, but a driver
// writes its ports there by convention only.
std::vector<std::string> listSerialPorts() {
    std::vector<char> names = dosDeviceNames();
    std::vector<std::string> ports;
    for (size_t at = 0; at < names.size() && names[at] != '\0';) {
        std::string name(&names[at]);
        at += name.size() + 1;
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
