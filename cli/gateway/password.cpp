#include "cli/gateway/password.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/console/exit_codes.h"
#include "cli/console/report.h"

namespace {

constexpr std::size_t BUFFER_BYTES = Password::MOST_BYTES + 2;  // one byte more than allowed, and the NUL

// Reads up to the first line end or capacity bytes; the bytes read, or -1
// with errno set.
ssize_t readFirstLine(int fd, char* buffer, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity) {
        ssize_t got = read(fd, buffer + length, capacity - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        void* end = std::memchr(buffer + length, '\n', static_cast<std::size_t>(got));
        length += static_cast<std::size_t>(got);
        if (end != nullptr) return static_cast<char*>(end) - buffer;
    }
    return static_cast<ssize_t>(length);
}

}  // namespace

Password::Password() : bytes_(new char[BUFFER_BYTES]()) {}

void Password::wipe() {
    explicit_bzero(bytes_.get(), BUFFER_BYTES);
    given_ = false;
}

int Password::refuse(const std::string& path, const std::string& reason) {
    wipe();
    report(path, reason);
    return EXIT_FILE_REFUSED;
}

int Password::readFile(const std::string& path) {
    wipe();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return refuse(path, std::string("cannot read file: ") + std::strerror(errno));
    warnWhenOthersMayRead(path, fd);
    ssize_t length = readFirstLine(fd, bytes_.get(), MOST_BYTES + 1);
    int error = errno;
    close(fd);
    if (length < 0) return refuse(path, std::string("cannot read file: ") + std::strerror(error));
    // What was read beyond the first line is not kept either.
    explicit_bzero(bytes_.get() + length, BUFFER_BYTES - static_cast<std::size_t>(length));
    if (static_cast<std::size_t>(length) > MOST_BYTES)
        return refuse(path, "the password (the first line) is longer than MQTT's 65535 bytes");
    if (length > 0 && bytes_[static_cast<std::size_t>(length) - 1] == '\r') bytes_[static_cast<std::size_t>(--length)] = '\0';
    if (std::memchr(bytes_.get(), '\0', static_cast<std::size_t>(length)) != nullptr)
        return refuse(path, "the password (the first line) holds a NUL byte");
    given_ = true;
    return EXIT_DONE;
}

int Password::takeVariable(const char* name) {
    wipe();
    char* value = std::getenv(name);
    if (value == nullptr) return EXIT_DONE;
    std::size_t length = std::strlen(value);
    bool fits = length <= MOST_BYTES;
    if (fits) std::memcpy(bytes_.get(), value, length);
    // The environment's own copy: in place, since /proc/PID/environ shows the
    // block the process started with, whatever unsetenv does to environ.
    explicit_bzero(value, length);
    unsetenv(name);
    if (fits) {
        given_ = true;
        return EXIT_DONE;
    }
    report(name, "the password is longer than MQTT's 65535 bytes");
    return EXIT_USAGE;
}

void warnWhenOthersMayRead(const std::string& path, int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) return;
    bool byAll = (status.st_mode & S_IROTH) != 0;
    bool byOtherGroup = (status.st_mode & S_IRGRP) != 0 && status.st_gid != getegid();
    if (!byAll && !byOtherGroup) return;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    report(path, std::string("warning: other users may read this file (mode ") + mode +
                     "); chmod 0600 or 0640 with the gateway's own group");
}
