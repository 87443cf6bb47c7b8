// Win32 file calls behind the settings and parameter files. Handles are
// opened without sharing and closed inside the operation that opened them.
// Names are UTF-8 and go to the W functions as UTF-16.
#include "params/file_access.h"

#include <windows.h>

#include <shlobj.h>

#include <string>

#include "params/utf8_win32.h"

namespace {

HANDLE toHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle.value); }

int openWith(const char* name, DWORD access, DWORD disposition, FileHandle* handle) {
    std::wstring wide;
    if (!utf8ToWide(name, &wide)) return ERROR_NO_UNICODE_TRANSLATION;
    HANDLE h = CreateFileW(wide.c_str(), access, 0, nullptr, disposition, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    handle->value = reinterpret_cast<intptr_t>(h);
    return 0;
}

}  // namespace

int openAlwaysFile(const char* name, int access, FileHandle* handle, int* existed) {
    DWORD rights = ((access & FILE_READ) ? GENERIC_READ : 0) |
                   ((access & FILE_WRITE) ? GENERIC_WRITE : 0);
    int result = openWith(name, rights, OPEN_ALWAYS, handle);
    // Asked right after the open: OPEN_ALWAYS reports an existing file this way.
    *existed = result == 0 && GetLastError() == ERROR_ALREADY_EXISTS;
    return result;
}

int createAlwaysFile(const char* name, FileHandle* handle) {
    return openWith(name, GENERIC_WRITE, CREATE_ALWAYS, handle);
}

int openExistingFile(const char* name, FileHandle* handle) {
    return openWith(name, GENERIC_READ, OPEN_EXISTING, handle);
}

int readFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* done) {
    DWORD moved = 0;
    BOOL ok = ReadFile(toHandle(handle), buffer, count, &moved, nullptr);
    *done = moved;
    return ok ? 0 : static_cast<int>(GetLastError());
}

int writeFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done) {
    DWORD moved = 0;
    BOOL ok = WriteFile(toHandle(handle), buffer, count, &moved, nullptr);
    *done = moved;
    return ok ? 0 : static_cast<int>(GetLastError());
}

int closeFile(FileHandle handle) {
    return CloseHandle(toHandle(handle)) ? 0 : static_cast<int>(GetLastError());
}

const char PATH_SEPARATOR = '\\';

namespace {

// The folder's UTF-8 name into path; 0 or the system's error code.
int utf8Folder(const std::wstring& folder, char* path, std::size_t size) {
    std::string name;
    if (!wideToUtf8(folder, &name)) return ERROR_NO_UNICODE_TRANSLATION;
    if (name.size() >= size) return ERROR_BUFFER_OVERFLOW;
    name.copy(path, name.size());
    path[name.size()] = '\0';
    return 0;
}

}  // namespace

int userDataFolder(char* path, std::size_t size) {
    wchar_t base[MAX_PATH];
    HRESULT found = SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base);
    if (FAILED(found)) return ERROR_PATH_NOT_FOUND;
    std::wstring folder = std::wstring(base) + L"\\ELQ770";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return static_cast<int>(GetLastError());
    return utf8Folder(folder, path, size);
}

bool isAccessDenied(int error) { return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT; }

bool isSharingViolation(int error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

int currentDirectory(char* path, std::size_t size) {
    wchar_t folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    if (length == 0) return static_cast<int>(GetLastError());
    if (length >= MAX_PATH) return ERROR_BUFFER_OVERFLOW;
    // A drive's root keeps its separator ("C:\\"): drop it so callers can add one.
    if (folder[length - 1] == L'\\') folder[length - 1] = L'\0';
    return utf8Folder(folder, path, size);
}
