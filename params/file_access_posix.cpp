// POSIX stand-in for the Win32 file calls, used by the native build only.
#include "params/file_access.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int posixFlags(int access) {
    if ((access & FILE_READ) && (access & FILE_WRITE)) return O_RDWR;
    return (access & FILE_WRITE) ? O_WRONLY : O_RDONLY;
}

// CreateFileA without sharing refuses a file that another handle holds open:
// an exclusive lock stands in for that, so the callers' handling of a
// sharing violation (EWOULDBLOCK here) is exercised natively too.
int lockUnshared(int fd, FileHandle* handle) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        close(fd);
        return error;
    }
    handle->value = fd;
    return 0;
}

}  // namespace

int openAlwaysFile(const char* name, int access, FileHandle* handle, int* existed) {
    int fd = open(name, posixFlags(access) | O_CREAT | O_EXCL, 0644);
    *existed = 0;
    if (fd < 0 && errno == EEXIST) {
        *existed = 1;
        fd = open(name, posixFlags(access));
    }
    if (fd < 0) return errno;
    return lockUnshared(fd, handle);
}

int createAlwaysFile(const char* name, FileHandle* handle) {
    int fd = open(name, O_WRONLY | O_CREAT, 0644);
    if (fd < 0) return errno;
    int result = lockUnshared(fd, handle);
    if (result == 0 && ftruncate(fd, 0) != 0) {
        result = errno;
        close(fd);
    }
    return result;
}

int openExistingFile(const char* name, FileHandle* handle) {
    int fd = open(name, O_RDONLY);
    if (fd < 0) return errno;
    return lockUnshared(fd, handle);
}

int readFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    while (*done < count) {
        ssize_t n = read(static_cast<int>(handle.value), static_cast<char*>(buffer) + *done,
                         count - *done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        *done += static_cast<uint32_t>(n);
    }
    return 0;
}

int writeFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    while (*done < count) {
        ssize_t n = write(static_cast<int>(handle.value),
                          static_cast<const char*>(buffer) + *done, count - *done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        *done += static_cast<uint32_t>(n);
    }
    return 0;
}

int closeFile(FileHandle handle) {
    return close(static_cast<int>(handle.value)) == 0 ? 0 : errno;
}

const char PATH_SEPARATOR = '/';

int userDataFolder(char* path, std::size_t size) {
    const char* base = std::getenv("LOCALAPPDATA");
    int written = base != nullptr && base[0] != '\0'
                      ? std::snprintf(path, size, "%s/ELQ770", base)
                      : std::snprintf(path, size, "%s/.local/share/ELQ770",
                                      std::getenv("HOME") ? std::getenv("HOME") : ".");
    if (written < 0 || static_cast<std::size_t>(written) >= size) return ENAMETOOLONG;
    if (mkdir(path, 0755) != 0 && errno != EEXIST) return errno;
    return 0;
}

bool isAccessDenied(int error) { return error == EACCES || error == EPERM || error == EROFS; }

bool isSharingViolation(int error) { return error == EWOULDBLOCK; }

int currentDirectory(char* path, std::size_t size) {
    if (getcwd(path, size) == nullptr) return errno;
    std::size_t length = std::strlen(path);
    if (length > 0 && path[length - 1] == '/') path[length - 1] = '\0';  // the root "/"
    return 0;
}
