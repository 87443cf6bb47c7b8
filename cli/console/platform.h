// What the command-line tool needs from the operating system beside the
// serial link: the command line, the console, stop requests, files named in
// UTF-8, port names, error texts and the local clock. platform_posix.cpp and
// platform_win32.cpp implement it.
//
// Threads: everything is called on the main thread. The stop requests come
// on the system's own context (a POSIX signal handler; on Windows the thread
// the system starts for a console event), which only sets the stop flag
// and, for the events after which Windows ends the process, waits for
// stopRequestsHandled() on an atomic; outside a run that catches them it
// gives the console's code page back before the process ends. No locks.
#pragma once

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// The arguments as UTF-8, the program's name first. POSIX: argv as given.
// Windows: the UTF-16 command line converted, since argv carries the ANSI
// code page and loses every character outside it; false (and no arguments)
// when the command line is not valid UTF-16.
bool commandLineArguments(int argc, char** argv, std::vector<std::string>* arguments);

// Windows: while standard output or standard error is a console, the
// console shows the UTF-8 the tool prints; restoreConsole gives it back the
// code page it had, and must run on every way out of main. Ctrl-C,
// Ctrl-Break or the console's close outside a run that catches them, and an
// exception nobody catches, give it back on their own. Output to a file or a
// pipe is UTF-8 either way. POSIX: nothing.
void prepareConsole();
void restoreConsole();

// From here on the user's stop requests end the current run instead of the
// process: they set *stop. POSIX: SIGINT, SIGTERM, SIGHUP and SIGQUIT. Windows: Ctrl-C and
// Ctrl-Break, and the console window's close, log-off and shut-down; after
// those three Windows ends the process as soon as the handler returns, so
// the handler holds it (for at most 4 s, below the 5 s Windows allows)
// until the tool calls stopRequestsHandled().
void catchStopRequests(std::atomic<int>* stop);
// The run has written its rows and summary and the console is restored.
void stopRequestsHandled();

// fopen for a file named in UTF-8 (Windows: _wfopen of its UTF-16 name).
// nullptr on failure, with lastSystemError() telling why.
std::FILE* openFile(const std::string& path, const char* mode);

// Opens an existing file for reading ("rb") when it is a regular file:
// nullptr when it does not open (lastSystemError() tells why) or, with
// *notRegular set, when it is something else, a device, a pipe or a folder,
// which is neither waited on nor read.
std::FILE* openRegularFile(const std::string& path, bool* notRegular);

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
