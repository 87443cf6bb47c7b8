#include "tools/sim/serial_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

// About half a second of the line at 9600 baud.
constexpr int STALE_INPUT_BYTES = 512;

int makeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return 0;
    cfmakeraw(&settings);
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0 ? 1 : 0;
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Replaces an old symlink at path (a stale one, or the prefix's default COM
// link) but never a real file.
int publishLink(const std::string& target, const std::string& path, std::string& error) {
    struct stat info{};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = path + " exists and is not a symlink";
            return 0;
        }
        unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        error = systemError("symlink " + path);
        return 0;
    }
    return 1;
}

}  // namespace

SerialLine::~SerialLine() { hangUp(); }

int SerialLine::openPseudoTerminal(const std::string& linkPath, std::string& error) {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        error = systemError("pseudo-terminal");
        hangUp();
        return 0;
    }
    const char* slave = ptsname(fd_);
    if (slave == nullptr) {
        error = systemError("ptsname");
        hangUp();
        return 0;
    }
    name_ = slave;
    slaveFd_ = open(name_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    // The slave's settings are the line's: raw, so the terminal neither echoes
    // the device's lines back nor turns CR into NL before the program sets the
    // port up itself.
    if (slaveFd_ < 0 || !makeRaw(slaveFd_)) {
        error = systemError("slave " + name_);
        hangUp();
        return 0;
    }
    if (!linkPath.empty()) {
        if (!publishLink(name_, linkPath, error)) {
            hangUp();
            return 0;
        }
        linkPath_ = linkPath;
    }
    return 1;
}

int SerialLine::openDevice(const std::string& path, std::string& error) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0 || !makeRaw(fd_)) {
        error = systemError(path);
        hangUp();
        return 0;
    }
    name_ = path;
    return 1;
}

int SerialLine::readSome(uint8_t* buffer, int capacity) {
    if (fd_ < 0) return -1;
    ssize_t count = read(fd_, buffer, static_cast<size_t>(capacity));
    if (count > 0) return static_cast<int>(count);
    if (count == 0) return 0;
    // EIO: no program holds the slave open (only possible if our own slave
    // descriptor were gone); EAGAIN: nothing waiting.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == EIO) return 0;
    return -1;
}

void SerialLine::discardStaleInput() {
    int waiting = 0;
    if (slaveFd_ >= 0 && ioctl(slaveFd_, FIONREAD, &waiting) == 0 && waiting > STALE_INPUT_BYTES)
        tcflush(slaveFd_, TCIFLUSH);
}

void SerialLine::writeAll(const uint8_t* bytes, int count) {
    if (fd_ < 0 || count <= 0) return;
    discardStaleInput();
    int done = 0;
    while (done < count) {
        ssize_t written = write(fd_, bytes + done, static_cast<size_t>(count - done));
        if (written > 0) {
            done += static_cast<int>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            return;
        }
    }
}

void SerialLine::hangUp() {
    if (!linkPath_.empty()) {
        char target[4096];
        ssize_t length = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (length >= 0 && std::string(target, static_cast<size_t>(length)) == name_) unlink(linkPath_.c_str());
        linkPath_.clear();
    }
    if (slaveFd_ >= 0) close(slaveFd_);
    if (fd_ >= 0) close(fd_);
    slaveFd_ = fd_ = -1;
}

}  // namespace sim
