#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cli/platform.h"

void prepareConsole() { SetConsoleOutputCP(CP_UTF8); }

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
