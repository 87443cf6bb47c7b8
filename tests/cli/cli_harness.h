// What the tool's native tests share: child processes with their output in
// files, a work folder per test, the simulator on a pseudo-terminal, and a
// run of elq770ctl.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "link/line_recording.h"
#include "tests/e2e/sim_log.h"

namespace clitest {

std::string readText(const std::string& path);
// The text cut at each newline, the newlines left out.
std::vector<std::string> lines(const std::string& text);
// One JSON object per line, as decode --json writes them.
std::vector<nlohmann::json> jsonLines(const std::string& text);
void sleepMs(int ms);
// A recording file read by our reader; a refused file fails the test.
RecordingContents readRecordingAt(const std::string& path);
// The word of each line of a packet, cut at CR as the parser cuts them; -1
// for a line whose checksum is bad.
std::vector<int> packetWords(const RecordedPacket& packet);
// Polls until the file holds needle; false when timeoutMs passed first.
bool waitForText(const std::string& path, const std::string& needle, int timeoutMs);
// Polls until path is a symlink (a simulator's or relay's link).
bool waitForSymlink(const std::string& path, int timeoutMs);
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

struct ReplugRun {
    int code;                          // the tool's exit code, as waitExit gives it
    std::vector<uint16_t> afterWords;  // what the second simulator received
};

// A pulled and replugged adapter under a running elq770ctl: args with
// --port <dir>/tty added, a simulator at level 30 for firstMs, none for
// 1.5 s, then one at level 60 on the same link; Ctrl-C half a second after
// the tool says the link is back. Its output is in <dir>/ctl.out and ctl.err.
ReplugRun runAcrossReplug(const std::string& dir, std::vector<std::string> args, int firstMs);

}  // namespace clitest
