#include <fcntl.h>
#include <glob.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/platform.h"

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
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

// A signal handler returns at once; nothing waits for the run.
void stopRequestsHandled() {}

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

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
