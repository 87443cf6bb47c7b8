#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/console/platform.h"

namespace {

// A /dev/ttyS entry exists for every possible UART; only one that opens and
// takes terminal settings is a port.
bool opensAsTty(const char* path) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios settings{};
    bool tty = tcgetattr(fd, &settings) == 0;
    close(fd);
    return tty;
}

// Set once before the handlers are installed.
std::atomic<int>* stopFlag = nullptr;

void onStopSignal(int) { stopFlag->store(1, std::memory_order_relaxed); }

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
