#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/console/platform.h"
#include "link/port_name.h"

namespace {

// A UART the kernel found has a type other than 0 ("unknown"), readable by
// anyone, so a port we may not open still shows whether it is there.
bool uartPresent(const char* path) {
    const char* name = std::strrchr(path, '/');
    std::FILE* file = std::fopen(("/sys/class/tty/" + std::string(name + 1) + "/type").c_str(), "r");
    if (file == nullptr) return true;  // not a UART: USB and ACM ports exist while plugged
    int type = 0;
    bool known = std::fscanf(file, "%d", &type) == 1 && type != 0;
    std::fclose(file);
    return known;
}

// A /dev/ttyS entry exists for every possible UART; only one that opens and
// takes terminal settings is a port. One that exists but is refused to us
// (another program's, or a group we are not in) is listed too, since the
// user must hear why it does not open.
bool opensAsTty(const char* path) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return (errno == EACCES || errno == EBUSY) && uartPresent(path);
    termios settings{};
    bool tty = tcgetattr(fd, &settings) == 0;
    close(fd);
    return tty;
}

// Set once before the handlers are installed.
std::atomic<int>* stopFlag = nullptr;
std::atomic<int> lastStopSignal{SIGINT};

// Counts: a download holds the first request and ends at the second.
void onStopSignal(int number) {
    lastStopSignal.store(number, std::memory_order_relaxed);
    stopFlag->fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

bool commandLineArguments(int argc, char** argv, std::vector<std::string>* arguments) {
    arguments->assign(argv, argv + argc);
    return true;
}

void prepareConsole() {}

void restoreConsole() {}

void catchStopRequests(std::atomic<int>* stop) {
    stopFlag = stop;
    // A closed terminal (SIGHUP) and Ctrl-\ (SIGQUIT) too: their default
    // would end the process before a relay removes its link or monitor
    // writes the rows it holds.
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(number, onStopSignal);
}

// A signal handler returns at once; nothing waits for the run.
void stopRequestsHandled() {}

// The signal's own default ends the process, so the shell sees 130 for
// Ctrl-C and 143 for SIGTERM, as without the handler.
void endAsStopped() {
    std::fflush(stdout);
    std::fflush(stderr);
    int number = lastStopSignal.load(std::memory_order_relaxed);
    std::signal(number, SIG_DFL);
    std::raise(number);
    _exit(128 + number);
}

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

// Without O_NONBLOCK the open of a FIFO would wait for a writer; the flag
// goes again once the file is known to be a regular one.
std::FILE* openRegularFile(const std::string& path, bool* notRegular) {
    *notRegular = false;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info{};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *notRegular = true;
        close(fd);
        return nullptr;
    }
    std::FILE* file = nullptr;
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) file = fdopen(fd, "rb");
    if (file == nullptr) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

bool stdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

int lastSystemError() { return errno; }

std::string systemErrorText(int code) { return std::strerror(code); }

namespace {

// The PID holding an flock on the file, from /proc/locks ("1: FLOCK
// ADVISORY WRITE 4711 00:05:123 0 EOF"), or 0.
long lockHolder(const std::string& path) {
    struct stat info{};
    if (stat(path.c_str(), &info) != 0) return 0;
    std::FILE* locks = std::fopen("/proc/locks", "r");
    if (locks == nullptr) return 0;
    long holder = 0;
    char line[256];
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        char kind[16] = "";
        long pid = 0;
        unsigned devMajor = 0, devMinor = 0;
        unsigned long inode = 0;
        // Lines of waiting requests carry a "->" before the kind.
        const char* fields = std::strchr(line, ':');
        if (fields == nullptr || std::strstr(line, "->") != nullptr) continue;
        if (std::sscanf(fields + 1, " %15s %*s %*s %ld %x:%x:%lu", kind, &pid, &devMajor, &devMinor, &inode) != 5) continue;
        if (std::strcmp(kind, "FLOCK") == 0 && devMajor == major(info.st_dev) && devMinor == minor(info.st_dev) &&
            inode == info.st_ino)
            holder = pid;
    }
    std::fclose(locks);
    return holder;
}

// "elq770ctl publish" from /proc/PID/cmdline: the program's file name and
// the words after it up to the first option; empty when it cannot be read.
std::string programOf(long pid) {
    std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), "r");
    if (file == nullptr) return "";
    char bytes[512];
    size_t size = std::fread(bytes, 1, sizeof bytes - 1, file);
    std::fclose(file);
    bytes[size] = '\0';
    std::string program;
    for (size_t at = 0; at < size; at += std::strlen(bytes + at) + 1) {
        std::string word = bytes + at;
        if (at == 0) word = word.substr(word.rfind('/') + 1);
        if (at != 0 && (word.empty() || word[0] == '-')) break;
        program += (program.empty() ? "" : " ") + word;
    }
    return program;
}

// The port's group, when it would let us in and we are not in it: the
// reason most users meet (dialout on Debian, uucp elsewhere).
std::string missingGroup(const std::string& port) {
    struct stat info{};
    if (stat(port.c_str(), &info) != 0 || (info.st_mode & S_IRWXG) != (S_IRGRP | S_IWGRP)) return "";
    gid_t groups[256];
    int count = getgroups(256, groups);
    for (int i = 0; i < count; ++i)
        if (groups[i] == info.st_gid) return "";
    if (getegid() == info.st_gid) return "";
    const group* entry = getgrgid(info.st_gid);
    return entry != nullptr ? entry->gr_name : "";
}

}  // namespace

std::string portOpenFailure(const std::string& port, int error) {
    // A network port has no holder to name and no group to join: the
    // system's text says why the connection failed.
    if (isNetworkPortName(port.c_str())) return "cannot open port: " + systemErrorText(error);
    if (error == EBUSY) {
        long pid = lockHolder(port);
        if (pid <= 0) return "in use by another program";
        std::string program = programOf(pid);
        return "in use by PID " + std::to_string(pid) + (program.empty() ? "" : " (" + program + ")");
    }
    if (error == EACCES) {
        std::string group = missingGroup(port);
        if (!group.empty()) return "cannot open port: permission denied (add the user to the " + group + " group)";
    }
    return "cannot open port: " + systemErrorText(error);
}

std::vector<std::string> listSerialPorts() {
    std::vector<std::string> ports;
    for (const char* pattern : {"/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"}) {
        glob_t found{};
        if (glob(pattern, 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i)
                if (opensAsTty(found.gl_pathv[i])) ports.push_back(found.gl_pathv[i]);
        }
        globfree(&found);
    }
    return ports;
}

int localTimeAndOffset(std::time_t t, std::tm* local) {
    localtime_r(&t, local);
    return static_cast<int>(local->tm_gmtoff / 60);
}
