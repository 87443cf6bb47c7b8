// What the command-line tool needs from the operating system beside the
// serial link: port names, the console, error texts and the local clock.
// platform_posix.cpp and platform_win32.cpp implement it.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// Windows: the console shows the UTF-8 the tool prints. POSIX: nothing.
void prepareConsole();

bool stdoutIsTerminal();

// The error code of the last failed system call (errno or GetLastError),
// and the system's text for such a code, without a trailing line break.
int lastSystemError();
std::string systemErrorText(int code);

// The serial ports that exist: Linux /dev/ttyUSB*, /dev/ttyACM* and /dev/ttyS*
// that open as a tty; Windows the COM names the system knows. Sorted.
std::vector<std::string> listSerialPorts();

// Local broken-down time of t and its offset from UTC in minutes.
int localTimeAndOffset(std::time_t t, std::tm* local);
