// The few file calls the settings and parameter files need, with the open
// semantics of CreateFile: a Win32 implementation for the program and a
// POSIX one for the native tests, so the file logic above them is the same on
// both. Names are UTF-8; Windows gets them as UTF-16 through the W calls, so
// any folder name works on any ANSI code page. Results are the operating
// system's error codes (GetLastError on Windows, errno on POSIX); 0 is
// success.
#pragma once

#include <cstddef>
#include <cstdint>

struct FileHandle {
    intptr_t value;
};

enum FileAccess { FILE_READ = 1, FILE_WRITE = 2 };

// Opens or creates name (OPEN_ALWAYS, no sharing, never truncates).
// existed is set to 1 when the file was there before the call.
int openAlwaysFile(const char* name, int access, FileHandle* handle, int* existed);

// Creates name, replacing an existing file (CREATE_ALWAYS).
int createAlwaysFile(const char* name, FileHandle* handle);

// Opens an existing file for reading (OPEN_EXISTING).
int openExistingFile(const char* name, FileHandle* handle);

// Reads or writes up to count bytes; *done is the number moved.
int readFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* done);
int writeFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done);

int closeFile(FileHandle handle);

// The separator between a folder and a name: '\\' on Windows, '/' on POSIX.
extern const char PATH_SEPARATOR;

// The process's current directory, without a trailing separator. 0, or the
// operating system's error code (also when it does not fit size bytes).
int currentDirectory(char* path, std::size_t size);

// The per-user folder for the program's own files, created when missing:
// %LOCALAPPDATA%\ELQ770 on Windows; on POSIX $LOCALAPPDATA/ELQ770, or
// $HOME/.local/share/ELQ770 without it. No trailing separator. 0, or the
// operating system's error code.
int userDataFolder(char* path, std::size_t size);

// What an error code of the calls above means, for callers that react to it:
// the folder or file refuses this user (access denied), or another holder
// has the file open without sharing (a sharing violation).
bool isAccessDenied(int error);
bool isSharingViolation(int error);

// A backup, sync or antivirus tool may hold a file for a moment: an open or
// rename refused that way is tried again this many times, this far apart.
constexpr int FILE_BUSY_RETRIES = 3;
constexpr int FILE_BUSY_RETRY_PAUSE_MS = 50;
