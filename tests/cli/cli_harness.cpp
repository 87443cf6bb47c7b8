#include "tests/cli/cli_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "link/receive_parser.h"

namespace fs = std::filesystem;

namespace clitest {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> cut;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) cut.push_back(line);
    return cut;
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> parsed;
    for (const std::string& line : lines(text)) parsed.push_back(nlohmann::json::parse(line));
    return parsed;
}

RecordingContents readRecordingAt(const std::string& path) {
    std::string data = readText(path);
    RecordingContents contents;
    RecordingReadResult result = readRecording(reinterpret_cast<const uint8_t*>(data.data()), data.size(), &contents);
    EXPECT_EQ(result.error, RECORDING_OK) << result.text;
    return contents;
}

std::vector<int> packetWords(const RecordedPacket& packet) {
    std::vector<int> words;
    LineAssembly line{};
    for (uint8_t byte : packet.bytes)
        if (assembleLineByte(&line, byte)) words.push_back(lineChecksumOk(line.bytes) ? decodeLineValue(line.bytes) : -1);
    return words;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

namespace {

bool pollUntil(int timeoutMs, const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        sleepMs(10);
    }
    return true;
}

}  // namespace

bool waitForText(const std::string& path, const std::string& needle, int timeoutMs) {
    return pollUntil(timeoutMs, [&] { return readText(path).find(needle) != std::string::npos; });
}

bool waitForSymlink(const std::string& path, int timeoutMs) {
    return pollUntil(timeoutMs, [&] { return fs::is_symlink(fs::symlink_status(path)); });
}

std::string workDir() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string dir = std::string(ELQ_CLI_WORK_DIR) + "/" + test->test_suite_name() + "." + test->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int waitExit(pid_t pid, int timeoutMs) {
    for (int waited = 0;; waited += 10) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (waited >= timeoutMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        sleepMs(10);
    }
}

Sim::Sim(const std::string& dir, std::vector<std::string> flags, const std::string& name)
    : link_(dir + "/tty"), log_(dir + "/" + name + ".log") {
    std::vector<std::string> args{ELQ_SIM_BINARY, "--link", link_, "--log", log_, "--seed", "7"};
    args.insert(args.end(), flags.begin(), flags.end());
    pid_ = spawn(args, dir + "/" + name + ".out", dir + "/" + name + ".err");
    waitForSymlink(link_, 2500);
}

void Sim::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitExit(pid_, 3000);
    pid_ = 0;
}

std::vector<uint16_t> Sim::words() const {
    std::vector<uint16_t> words;
    for (const e2e::LoggedWord& logged : e2e::simulatorLogWords(log_)) words.push_back(logged.word);
    return words;
}

CtlRun ctl(const std::string& dir, const std::vector<std::string>& args, int timeoutMs) {
    std::vector<std::string> argv{ELQ_CTL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = spawn(argv, dir + "/ctl.out", dir + "/ctl.err");
    int code = waitExit(pid, timeoutMs);
    return {code, readText(dir + "/ctl.out"), readText(dir + "/ctl.err")};
}

ReplugRun runAcrossReplug(const std::string& dir, std::vector<std::string> args, int firstMs) {
    auto first = std::make_unique<Sim>(dir, std::vector<std::string>{"--level", "30"}, "first");
    args.insert(args.begin(), ELQ_CTL_BINARY);
    args.insert(args.end(), {"--port", first->link()});
    pid_t tool = spawn(args, dir + "/ctl.out", dir + "/ctl.err");
    sleepMs(firstMs);
    first.reset();
    sleepMs(1500);
    Sim second(dir, {"--level", "60"}, "second");
    waitForText(dir + "/ctl.err", "link back", 8000);
    sleepMs(500);
    kill(tool, SIGINT);
    int code = waitExit(tool, 5000);
    return {code, second.words()};
}

}  // namespace clitest
