// What the tool's native tests share: child processes with their output in
// files, a work folder per test, the simulator on a pseudo-terminal, and a
// run of elq770ctl.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/sim_log.h"

namespace clitest {

std::string readText(const std::string& path);
void sleepMs(int ms);
// <ELQ_CLI_WORK_DIR>/<suite>.<test>, emptied.
std::string workDir();
// The child in a process group of its own, stdout and stderr into the files.
pid_t spawn(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath);
// Exit code, 128 + signal, or -1 after killing a child that outlived the time-out.
int waitExit(pid_t pid, int timeoutMs);

// The simulator on a pty linked at <dir>/tty, logging what it receives.
class Sim {
public:
    Sim(const std::string& dir, std::vector<std::string> flags = {}, const std::string& name = "sim");
    ~Sim() { stop(); }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;
    void stop();
    const std::string& link() const { return link_; }
    std::vector<uint16_t> words() const;
    std::vector<e2e::LoggedWord> timedWords() const { return e2e::simulatorLogWords(log_); }

private:
    std::string link_;
    std::string log_;
    pid_t pid_ = 0;
};

struct CtlRun {
    int code;
    std::string out;
    std::string err;
};

CtlRun ctl(const std::string& dir, const std::vector<std::string>& args, int timeoutMs = 20000);

}  // namespace clitest
