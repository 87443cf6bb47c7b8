// The end-to-end harness: the shared Wine prefix and Xvfb, Wine programs and
// simulators as tracked child processes, and the helpers tests read results
// with. Everything runs on the test's main thread; children are polled, never
// waited for without a time-out.
#include "lang/utf8.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/sim_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;

struct ChildRecord {
    pid_t pid = 0;
    bool reaped = false;
    int status = 0;
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* READY_MARKER = ".elq-e2e-ready";
constexpr int LOCK_WAIT_MS = 600000;  // another harness process may be creating the prefix
constexpr int SESSION_START_ATTEMPTS = 3;
constexpr int PROBE_TIMEOUT_MS = 60000;

int msSince(Clock::time_point start) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string envOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

// Children the current test started; killed at its end. Leaked on purpose so
// that the atexit teardown never sees a destroyed container.
std::vector<std::shared_ptr<ChildRecord>>& trackedChildren() {
    static auto* children = new std::vector<std::shared_ptr<ChildRecord>>();
    return *children;
}

WineEnv* sharedEnv = nullptr;
int processCounter = 0;

std::string& currentDir() {
    static auto* dir = new std::string();
    return *dir;
}

bool reap(ChildRecord& child) {
    if (child.reaped || child.pid <= 0) return true;
    int status = 0;
    pid_t done = waitpid(child.pid, &status, WNOHANG);
    if (done == child.pid || (done < 0 && errno == ECHILD)) {
        child.reaped = true;
        child.status = done == child.pid ? status : 0;
    }
    return child.reaped;
}

bool waitChild(ChildRecord& child, int timeoutMs) {
    Clock::time_point start = Clock::now();
    while (!reap(child)) {
        if (msSince(start) >= timeoutMs) return false;
        sleepMs(5);
    }
    return true;
}

// The whole process group gets the signals: a Wine program may have started
// Windows children of its own, and they die with it.
void terminateChild(ChildRecord& child, int graceMs) {
    if (child.pid <= 0 || reap(child)) return;
    ::kill(-child.pid, SIGTERM);
    ::kill(child.pid, SIGTERM);
    if (!waitChild(child, graceMs)) {
        ::kill(-child.pid, SIGKILL);
        ::kill(child.pid, SIGKILL);
        waitChild(child, 5000);
    }
    ::kill(-child.pid, SIGKILL);  // stragglers left in the group
}

int exitCodeOf(const ChildRecord& child) {
    if (!child.reaped) return -1;
    if (WIFEXITED(child.status)) return WEXITSTATUS(child.status);
    if (WIFSIGNALED(child.status)) return 128 + WTERMSIG(child.status);
    return -1;
}

struct SpawnSpec {
    std::vector<std::string> argv;
    std::vector<std::string> env;
    std::string cwd;
    std::string stdoutPath;   // "" = /dev/null
    std::string stderrPath;   // "" = /dev/null
    int keepFd = -1;          // an fd the child keeps open across exec
};

void redirect(int target, const std::string& path) {
    int fd = open(path.empty() ? "/dev/null" : path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0 && fd != target) {
        dup2(fd, target);
        close(fd);
    }
}

// fork/exec in a new process group. The child gets SIGTERM when the test
// binary dies, so a crash leaves no Xvfb or Wine program behind.
std::shared_ptr<ChildRecord> spawn(const SpawnSpec& spec) {
    std::vector<char*> argv;
    for (const std::string& a : spec.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : spec.env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (!spec.cwd.empty() && chdir(spec.cwd.c_str()) != 0) _exit(127);
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) {
            dup2(null, 0);
            close(null);
        }
        redirect(1, spec.stdoutPath);
        if (!spec.stderrPath.empty() && spec.stderrPath == spec.stdoutPath)
            dup2(1, 2);  // one log, written in order
        else
            redirect(2, spec.stderrPath);
        if (spec.keepFd >= 0) fcntl(spec.keepFd, F_SETFD, 0);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    auto child = std::make_shared<ChildRecord>();
    if (pid < 0) {
        child->reaped = true;
        child->status = 127 << 8;
        return child;
    }
    setpgid(pid, pid);
    child->pid = pid;
    return child;
}

// Runs a helper command to completion; exit code, or -1 after a time-out.
int runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               int timeoutMs, const std::string& logPath = "") {
    SpawnSpec spec{argv, env, "", logPath, logPath, -1};
    std::shared_ptr<ChildRecord> child = spawn(spec);
    if (!waitChild(*child, timeoutMs)) {
        terminateChild(*child, 1000);
        return -1;
    }
    return exitCodeOf(*child);
}

std::vector<std::string> currentEnvironment() {
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e) result.emplace_back(*e);
    return result;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// PE optional header field Subsystem: 2 = Windows GUI, 3 = console.
bool isGuiExe(const std::string& exe) {
    std::ifstream in(exe, std::ios::binary);
    unsigned char dos[64] = {};
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint32_t peOffset = dos[60] | dos[61] << 8 | dos[62] << 16 | static_cast<uint32_t>(dos[63]) << 24;
    unsigned char subsystem[2] = {};
    in.seekg(peOffset + 24 + 68);
    if (!in.read(reinterpret_cast<char*>(subsystem), 2)) return false;
    return (subsystem[0] | subsystem[1] << 8) == 2;
}

void teardown() {
    for (auto& child : trackedChildren()) terminateChild(*child, 1000);
    trackedChildren().clear();
    if (sharedEnv) sharedEnv->shutdown();
}

}  // namespace

// ---------------------------------------------------------------- paths

std::string nativeBuildDir() { return envOr("ELQ_NATIVE_BUILD_DIR", ELQ_E2E_NATIVE_BUILD_DIR); }
std::string sourceDir() { return ELQ_E2E_SOURCE_DIR; }
std::string windowsBuildDir() { return envOr("ELQ_WINDOWS_BUILD_DIR", ELQ_E2E_WINDOWS_BUILD_DIR); }
std::string simulatorPath() { return envOr("ELQ_SIM_PATH", ELQ_E2E_SIM_PATH); }
std::string windowsExe(const std::string& name) { return windowsBuildDir() + "/" + name; }

// ---------------------------------------------------------------- WineEnv

WineEnv::WineEnv() : prefix_(nativeBuildDir() + "/wineprefix") {}

WineEnv& WineEnv::shared() {
    if (!sharedEnv) {
        sharedEnv = new WineEnv();
        std::atexit(teardown);
        sharedEnv->setUp();
    }
    return *sharedEnv;
}

const std::string& WineEnv::prefix() const { return prefix_; }
bool WineEnv::displayRunning() const { return display_ >= 0; }
double WineEnv::prefixSetupSeconds() const { return setupSeconds_; }
std::string WineEnv::comLinkPath(int port) const { return prefix_ + "/dosdevices/com" + std::to_string(port); }

std::vector<std::string> WineEnv::wineEnvironment() const {
    static const char* const replaced[] = {"WINEPREFIX=", "WINEDEBUG=", "DISPLAY=", "LANG=", "LC_", "LANGUAGE=",
                                           "WINEDLLOVERRIDES=", "WINEARCH=", "WINESERVER=", "WINELOADER="};
    std::vector<std::string> env;
    for (const std::string& e : currentEnvironment()) {
        bool drop = false;
        for (const char* r : replaced) drop = drop || startsWith(e, r);
        if (!drop) env.push_back(e);
    }
    env.push_back("WINEPREFIX=" + prefix_);
    env.push_back("WINEDEBUG=-all");
    env.push_back("LANG=" + locale_);
    env.push_back("LC_ALL=" + locale_);
    // No Mono or Gecko: nothing here needs them, and their installers would
    // stall a prefix update waiting for a download.
    env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
    if (display_ >= 0) env.push_back("DISPLAY=:" + std::to_string(display_));
    return env;
}

namespace {

// Holds the prefix for this process: created under the lock, used alone.
int lockPrefix(const std::string& lockPath) {
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    Clock::time_point start = Clock::now();
    bool told = false;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (msSince(start) > LOCK_WAIT_MS) {
            close(fd);
            return -1;
        }
        if (!told) std::fprintf(stderr, "e2e: waiting for %s (another test process uses the prefix)\n", lockPath.c_str());
        told = true;
        sleepMs(50);
    }
    return fd;
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

bool stopWineServer(const std::vector<std::string>& env) {
    runCommand({"wineserver", "-k"}, env, 15000);
    return runCommand({"wineserver", "-w"}, env, 15000) >= 0;
}

}  // namespace

void WineEnv::setUp() {
    fs::create_directories(nativeBuildDir());
    lockFd_ = lockPrefix(nativeBuildDir() + "/wineprefix.lock");
    if (lockFd_ < 0) ADD_FAILURE() << "cannot lock the Wine prefix " << prefix_;
    if (!fs::exists(prefix_ + "/" + READY_MARKER)) {
        Clock::time_point start = Clock::now();
        std::error_code ignored;
        fs::remove_all(prefix_, ignored);  // a half-made prefix from an interrupted run
        std::string log = nativeBuildDir() + "/wineprefix-setup.log";
        // The same preparation as the demo's prefix: virtual desktop, fonts,
        // and COM1 to COM8 reserved for simulators.
        if (runCommand({sourceDir() + "/tools/wine-prefix.sh", prefix_}, wineEnvironment(), 180000, log) != 0)
            ADD_FAILURE() << "preparing the Wine prefix failed, see " << log;
        unlinkAllComPorts();
        writeText(prefix_ + "/" + READY_MARKER, "ready\n");
        setupSeconds_ = msSince(start) / 1000.0;
        std::fprintf(stderr, "e2e: made Wine prefix %s in %.1f s\n", prefix_.c_str(), setupSeconds_);
    } else {
        // A test binary that was killed leaves its persistent server (and a
        // desktop bound to a dead display) behind; we hold the lock, so any
        // server of this prefix is such a leftover.
        stopWineServer(wineEnvironment());
    }
    unlinkAllComPorts();
}

int WineEnv::display() {
    if (display_ >= 0) return display_;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    SpawnSpec spec{{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                   currentEnvironment(), "", "", nativeBuildDir() + "/e2e-xvfb.log", fds[1]};
    std::shared_ptr<ChildRecord> xvfb = spawn(spec);
    close(fds[1]);
    std::string number;
    Clock::time_point start = Clock::now();
    while (msSince(start) < 15000) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
    }
    close(fds[0]);
    if (number.empty()) {
        terminateChild(*xvfb, 1000);
        ADD_FAILURE() << "Xvfb did not start, see " << nativeBuildDir() << "/e2e-xvfb.log";
        return -1;
    }
    xvfbPid_ = xvfb->pid;
    display_ = std::atoi(number.c_str());
    // A session started without a display keeps a desktop that cannot show
    // anything: the next Wine program starts a new one that sees DISPLAY.
    if (sessionUp_ && !sessionHasDisplay_) {
        stopWineServer(wineEnvironment());
        sessionUp_ = false;
    }
    return display_;
}

void WineEnv::ensureSession() {
    if (sessionUp_) return;
    startSession();
    sessionUp_ = true;
    sessionHasDisplay_ = display_ >= 0;
}

namespace {

std::string linkTarget(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    return ec ? "" : target.string();
}

// COM links that point at pseudo-terminals: the simulators' links.
std::map<std::string, std::string> simulatorLinks(const std::string& dosdevices) {
    std::map<std::string, std::string> links;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dosdevices, ec)) {
        std::string target = linkTarget(entry.path());
        if (startsWith(entry.path().filename().string(), "com") && startsWith(target, "/dev/pts/"))
            links[entry.path().string()] = target;
    }
    return links;
}

}  // namespace

// At the start of every session Wine's mount manager removes the COM links
// and links the host's serial ports behind COM8 (the prefix reserves COM1 to
// COM8). The session is started here, the links are cleared and the
// simulators' links put back, and the server is kept running (-p) so that
// this happens once and no later Wine program start can replace a link.
void WineEnv::startSession() {
    std::string dosdevices = prefix_ + "/dosdevices";
    std::map<std::string, std::string> keep = simulatorLinks(dosdevices);
    std::vector<std::string> env = wineEnvironment();
    // A start that fails (seen once in a few hundred, without a trace) is
    // retried on a fresh server; what Wine said goes to the test's output.
    std::string log = nativeBuildDir() + "/wine-session.log";
    for (int attempt = 1;; ++attempt) {
        runCommand({"wineserver", "-p"}, env, 15000);
        int rc = runCommand({"wine", "cmd.exe", "/c", "exit"}, env, 30000, log);
        if (rc == 0) break;
        if (attempt == SESSION_START_ATTEMPTS) {
            ADD_FAILURE() << "cannot start a Wine session in " << prefix_ << " (exit " << rc << "): " << readFile(log);
            break;
        }
        std::fprintf(stderr, "e2e: Wine session start %d failed (exit %d), retrying: %s\n", attempt, rc,
                     readFile(log).c_str());
        stopWineServer(env);
    }
    unlinkAllComPorts();
    for (const auto& [link, target] : keep)
        if (symlink(target.c_str(), link.c_str()) != 0) ADD_FAILURE() << "cannot restore " << link;
}

void WineEnv::useLocale(const std::string& locale) {
    if (locale == locale_) return;
    if (sessionUp_) stopWineServer(wineEnvironment());
    sessionUp_ = false;
    locale_ = locale;
}

void WineEnv::linkComPort(int port, const std::string& target) {
    std::string path = comLinkPath(port);
    std::error_code ignored;
    if (fs::is_symlink(fs::symlink_status(path, ignored))) fs::remove(path, ignored);
    if (!target.empty() && symlink(target.c_str(), path.c_str()) != 0)
        ADD_FAILURE() << "cannot link " << path << " -> " << target << ": " << std::strerror(errno);
}

void WineEnv::unlinkAllComPorts() {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(prefix_ + "/dosdevices", ec)) {
        std::string name = entry.path().filename().string();
        bool com = name.size() > 3 && strncasecmp(name.c_str(), "com", 3) == 0 &&
                   name.find_first_not_of("0123456789", 3) == std::string::npos;
        std::error_code ignored;
        if (com && entry.is_symlink(ignored)) fs::remove(entry.path(), ignored);
    }
}

std::string WineEnv::screenshot(const std::string& pngPath) {
    int number = display();
    if (number < 0) return "";
    std::error_code ignored;
    fs::remove(pngPath, ignored);
    int rc = runCommand({"import", "-display", ":" + std::to_string(number), "-window", "root", pngPath},
                        currentEnvironment(), 30000);
    return rc == 0 && fs::exists(pngPath) ? pngPath : "";
}

// The process is ending: our wine server (only this prefix: WINEPREFIX is
// set), the COM links, then our Xvfb, then the prefix lock.
void WineEnv::shutdown() {
    if (sessionUp_) stopWineServer(wineEnvironment());
    sessionUp_ = false;
    unlinkAllComPorts();
    if (xvfbPid_ > 0) {
        ChildRecord xvfb{xvfbPid_, false, 0};
        terminateChild(xvfb, 2000);
    }
    xvfbPid_ = 0;
    display_ = -1;
    if (lockFd_ >= 0) close(lockFd_);
    lockFd_ = -1;
}

// ---------------------------------------------------------------- WineProcess

WineProcess::WineProcess(const std::string& exe, const std::vector<std::string>& args,
                         const std::string& workDir, const std::string& startDir) {
    WineEnv& env = WineEnv::shared();
    if (!fs::exists(exe)) {
        ADD_FAILURE() << "missing " << exe << " (build the Windows side into " << windowsBuildDir() << ")";
        return;
    }
    if (isGuiExe(exe)) env.display();
    env.ensureSession();
    fs::create_directories(workDir);
    std::string base = workDir + "/" + fs::path(exe).stem().string() + "-" + std::to_string(++processCounter);
    stdoutPath_ = base + ".stdout";
    stderrPath_ = base + ".stderr";
    SpawnSpec spec{{"wine", exe}, env.wineEnvironment(), startDir.empty() ? workDir : startDir, stdoutPath_,
                   stderrPath_, -1};
    spec.argv.insert(spec.argv.end(), args.begin(), args.end());
    child_ = spawn(spec);
    trackedChildren().push_back(child_);
}

WineProcess::~WineProcess() { kill(); }

bool WineProcess::running() const { return child_ && !reap(*child_); }

int WineProcess::wait(int timeoutMs) {
    if (!child_ || !waitChild(*child_, timeoutMs)) return -1;
    return exitCodeOf(*child_);
}

void WineProcess::kill() {
    if (child_) terminateChild(*child_, 1000);
}

int WineProcess::pid() const { return child_ ? child_->pid : 0; }
std::string WineProcess::stdoutText() const { return stdoutPath_.empty() ? "" : readFile(stdoutPath_); }
std::string WineProcess::stderrText() const { return stderrPath_.empty() ? "" : readFile(stderrPath_); }
std::string WineProcess::output() const { return stdoutText() + stderrText(); }

int runWine(const std::string& exe, const std::vector<std::string>& args, const std::string& workDir,
            int timeoutMs, std::string* output) {
    WineProcess process(exe, args, workDir);
    int rc = process.wait(timeoutMs);
    if (rc < 0) process.kill();
    if (output) *output = process.output();
    return rc;
}

// ---------------------------------------------------------------- probe.exe

std::string probe(const std::vector<std::string>& args, int* exitCode) {
    WineProcess process(windowsExe("probe.exe"), args, currentWorkDir());
    int rc = process.wait(PROBE_TIMEOUT_MS);
    if (rc < 0) process.kill();
    if (exitCode) *exitCode = rc;
    return process.stdoutText();
}

namespace {

std::string firstLine(const std::string& text, std::string* rest = nullptr) {
    size_t end = text.find('\n');
    if (rest) *rest = end == std::string::npos ? "" : text.substr(end + 1);
    return text.substr(0, end);
}

}  // namespace

WindowInfo waitWindow(const std::string& className, int timeoutMs) {
    int rc = 0;
    std::string line = firstLine(probe({"wait-window", className, std::to_string(timeoutMs)}, &rc));
    WindowInfo info;
    info.found = rc == 0;
    size_t space = line.find(' ');
    info.hwnd = line.substr(0, space);
    info.title = space == std::string::npos ? "" : line.substr(space + 1);
    return info;
}

// probe prints "HWND icon=NAME" and then the text of the box.
MessageBoxInfo waitMessageBox(const std::string& title, int timeoutMs) {
    int rc = 0;
    std::string text;
    std::string line = firstLine(probe({"wait-msgbox", title, std::to_string(timeoutMs)}, &rc), &text);
    MessageBoxInfo info;
    info.found = rc == 0;
    info.hwnd = line.substr(0, line.find(' '));
    size_t icon = line.find("icon=");
    info.icon = icon == std::string::npos ? "" : line.substr(icon + 5);
    info.text = trimmedLine(text);
    return info;
}

bool closeMessageBox(const std::string& title, const std::string& button) {
    int rc = 0;
    probe({"close-msgbox", title, button}, &rc);
    return rc == 0;
}

// ---------------------------------------------------------------- Simulator

Simulator::Simulator(int comPort, const std::vector<std::string>& flags) : port_(comPort) {
    WineEnv& env = WineEnv::shared();
    env.ensureSession();
    std::string sim = simulatorPath();
    if (sim.empty() || !fs::exists(sim)) {
        ADD_FAILURE() << "missing device simulator '" << sim << "'";
        return;
    }
    std::string dir = currentWorkDir();
    std::string base = dir + "/sim-com" + std::to_string(comPort) + "-" + std::to_string(++processCounter);
    logPath_ = base + ".log";
    outPath_ = base + ".out";
    std::string link = env.comLinkPath(comPort);
    env.linkComPort(comPort, "");
    SpawnSpec spec{{sim, "--link", link, "--log", logPath_}, currentEnvironment(), dir, outPath_, outPath_, -1};
    spec.argv.insert(spec.argv.end(), flags.begin(), flags.end());
    child_ = spawn(spec);
    trackedChildren().push_back(child_);
    Clock::time_point start = Clock::now();
    std::error_code ignored;
    while (msSince(start) < 5000 && !reap(*child_)) {
        if (fs::is_symlink(fs::symlink_status(link, ignored))) {
            started_ = true;
            break;
        }
        sleepMs(5);
    }
    if (!started_) ADD_FAILURE() << "simulator did not link COM" << comPort << ": " << output();
}

Simulator::~Simulator() { stop(); }

bool Simulator::started() const { return started_; }
const std::string& Simulator::logPath() const { return logPath_; }
std::string Simulator::output() const { return outPath_.empty() ? "" : readFile(outPath_); }

int Simulator::stop() {
    if (!child_) return -1;
    bool clean = reap(*child_);
    if (!clean) {
        ::kill(-child_->pid, SIGTERM);
        clean = waitChild(*child_, 3000);
    }
    if (!clean) terminateChild(*child_, 1000);
    int rc = exitCodeOf(*child_);
    // A simulator that had to be killed could not remove its link.
    if (rc != 0 && sharedEnv) {
        std::error_code ignored;
        std::string link = sharedEnv->comLinkPath(port_);
        if (fs::is_symlink(fs::symlink_status(link, ignored))) fs::remove(link, ignored);
    }
    return rc;
}

std::vector<uint16_t> Simulator::receivedWords() const {
    std::vector<uint16_t> words;
    for (const LoggedWord& logged : simulatorLogWords(logPath_)) words.push_back(logged.word);
    return words;
}

int Simulator::badFrames() const { return simulatorLogBadFrames(logPath_); }

bool Simulator::waitForWord(uint16_t word, int timeoutMs) const {
    Clock::time_point start = Clock::now();
    for (;;) {
        for (uint16_t w : receivedWords())
            if (w == word) return true;
        if (msSince(start) >= timeoutMs) return false;
        sleepMs(20);
    }
}

// ---------------------------------------------------------------- work dirs

std::string makeWorkDir(const std::string& testName) {
    std::string name = testName.empty() ? "unnamed" : testName;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
    std::string dir = nativeBuildDir() + "/e2e-work/" + name;
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    fs::create_directories(dir);
    currentDir() = dir;
    return dir;
}

std::string currentWorkDir() {
    if (!currentDir().empty()) return currentDir();
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    return makeWorkDir(test ? std::string(test->test_suite_name()) + "." + test->name() : "outside-tests");
}

std::string winPath(const std::string& linuxPath) {
    std::string path = "Z:" + fs::absolute(linuxPath).lexically_normal().string();
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// ---------------------------------------------------------------- printer

std::string printerOutputDir() {
    static auto* dir = new std::string();
    static bool tried = false;
    if (tried) return *dir;
    tried = true;
    std::string log = nativeBuildDir() + "/printer-start.log";
    if (runCommand({sourceDir() + "/tools/printer-start.sh"}, currentEnvironment(), 60000, log) != 0) {
        ADD_FAILURE() << "tools/printer-start.sh failed, see " << log;
        return *dir;
    }
    std::istringstream lines(readFile(log));
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line[0] == '/') *dir = line;
    return *dir;
}

// ---------------------------------------------------------------- files

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitForFile(const std::string& path, int timeoutMs) {
    Clock::time_point start = Clock::now();
    while (!fs::exists(path)) {
        if (msSince(start) >= timeoutMs) return false;
        sleepMs(10);
    }
    return true;
}

// ---------------------------------------------------------------- images

namespace {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top-down rows
};

uint32_t le(const std::string& d, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(d[at + i]);
    return v;
}

bool decodeBmp(const std::string& d, Image& image) {
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return false;
    uint32_t offset = le(d, 10, 4);
    int32_t width = static_cast<int32_t>(le(d, 18, 4));
    int32_t height = static_cast<int32_t>(le(d, 22, 4));
    int bpp = static_cast<int>(le(d, 28, 2));
    if ((bpp != 24 && bpp != 32) || width <= 0 || height == 0) return false;
    bool bottomUp = height > 0;
    int rows = bottomUp ? height : -height;
    size_t stride = (static_cast<size_t>(width) * bpp + 31) / 32 * 4;
    if (offset + stride * rows > d.size()) return false;
    image.width = width;
    image.height = rows;
    image.rgb.resize(static_cast<size_t>(width) * rows * 3);
    for (int y = 0; y < rows; ++y) {
        size_t row = offset + stride * (bottomUp ? rows - 1 - y : y);
        for (int x = 0; x < width; ++x) {
            size_t at = row + static_cast<size_t>(x) * (bpp / 8);
            uint8_t* out = &image.rgb[(static_cast<size_t>(y) * width + x) * 3];
            out[0] = static_cast<uint8_t>(d[at + 2]);
            out[1] = static_cast<uint8_t>(d[at + 1]);
            out[2] = static_cast<uint8_t>(d[at]);
        }
    }
    return true;
}

bool decodePpm(const std::string& d, Image& image) {
    if (d.size() < 2 || d[0] != 'P' || d[1] != '6') return false;
    size_t at = 2;
    int values[3] = {};
    for (int& value : values) {
        for (;;) {
            while (at < d.size() && std::isspace(static_cast<unsigned char>(d[at]))) ++at;
            if (at < d.size() && d[at] == '#') {
                while (at < d.size() && d[at] != '\n') ++at;
                continue;
            }
            break;
        }
        while (at < d.size() && std::isdigit(static_cast<unsigned char>(d[at]))) value = value * 10 + (d[at++] - '0');
    }
    ++at;  // the single whitespace before the samples
    if (values[0] <= 0 || values[1] <= 0 || values[2] != 255) return false;
    size_t size = static_cast<size_t>(values[0]) * values[1] * 3;
    if (at + size > d.size()) return false;
    image.width = values[0];
    image.height = values[1];
    image.rgb.assign(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at + size));
    return true;
}

bool decodeImage(const std::string& path, Image& image) {
    std::string data = readFile(path);
    if (decodeBmp(data, image) || decodePpm(data, image)) return true;
    std::string ppm = path + ".pixels.ppm";
    if (runCommand({"convert", path, "-depth", "8", "PPM:" + ppm}, currentEnvironment(), 30000) != 0) return false;
    bool ok = decodePpm(readFile(ppm), image);
    std::error_code ignored;
    fs::remove(ppm, ignored);
    return ok;
}

}  // namespace

// Keeps the last image decoded: a test usually reads several pixels of one.
Rgb pixelAt(const std::string& imagePath, int x, int y) {
    static auto* cache = new std::map<std::string, std::pair<fs::file_time_type, Image>>();
    std::error_code ec;
    fs::file_time_type stamp = fs::last_write_time(imagePath, ec);
    if (ec) return {-1, -1, -1};
    auto found = cache->find(imagePath);
    if (found == cache->end() || found->second.first != stamp) {
        Image image;
        if (!decodeImage(imagePath, image)) return {-1, -1, -1};
        cache->clear();
        found = cache->emplace(imagePath, std::make_pair(stamp, std::move(image))).first;
    }
    const Image& image = found->second.second;
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return {-1, -1, -1};
    const uint8_t* p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
    return {p[0], p[1], p[2]};
}

bool readPixels(const std::string& imagePath, int& width, int& height, std::vector<Rgb>& pixels) {
    Image image;
    if (!decodeImage(imagePath, image)) return false;
    width = image.width;
    height = image.height;
    pixels.resize(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = {image.rgb[i * 3], image.rgb[i * 3 + 1], image.rgb[i * 3 + 2]};
    return true;
}

// ---------------------------------------------------------------- cp1252

namespace {

// Code points of cp1252 0x80..0x9F (0 where the code page has no character).
const uint16_t CP1252_HIGH[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char cp1252Of(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i)
        if (CP1252_HIGH[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

std::string fromCp1252(const std::string& cp1252) {
    std::string out;
    for (char c : cp1252) {
        uint8_t b = static_cast<uint8_t>(c);
        uint32_t cp = b >= 0x80 && b < 0xA0 ? CP1252_HIGH[b - 0x80] : b;
        appendUtf8(out, cp ? cp : 0xFFFD);
    }
    return out;
}

std::string toCp1252(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        uint8_t b = static_cast<uint8_t>(utf8[i]);
        int length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        uint32_t cp = length == 1 ? b : b & (0xFF >> (length + 1));
        for (int k = 1; k < length && i + k < utf8.size(); ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
        out += cp1252Of(cp);
        i += length;
    }
    return out;
}

// ---------------------------------------------------------------- per test

namespace {

// Whatever a test case left running dies at its end, and its COM links go,
// so that the next case starts in a quiet prefix.
class CleanupAfterEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { currentDir().clear(); }
    void OnTestEnd(const testing::TestInfo&) override {
        for (auto& child : trackedChildren()) terminateChild(*child, 1000);
        trackedChildren().clear();
        if (sharedEnv) {
            sharedEnv->unlinkAllComPorts();
            sharedEnv->useLocale("C.UTF-8");
        }
    }
};

const bool cleanupRegistered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new CleanupAfterEachTest);
    return true;
}();

}  // namespace

// ---------------------------------------------------------------- results and files

Values parseValues(const std::string& text) {
    Values values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

double valueNumber(const Values& values, const std::string& key) {
    auto found = values.find(key);
    return found == values.end() ? std::nan("") : std::atof(found->second.c_str());
}

std::string valueText(const Values& values, const std::string& key) {
    auto found = values.find(key);
    return found == values.end() ? std::string("<missing>") : found->second;
}

int64_t realtimeMicros() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void writeSettingsFile(const std::string& dir, uint16_t comPort, uint16_t rollIndex,
                       uint16_t stopAtAlarm, uint16_t languageOffset) {
    std::string image(280, '\0');
    auto put16 = [&image](size_t offset, uint16_t value) {
        image[offset] = static_cast<char>(value & 0xFF);
        image[offset + 1] = static_cast<char>(value >> 8);
    };
    put16(0, comPort);
    put16(260, rollIndex);
    put16(262, stopAtAlarm);
    put16(264, languageOffset);
    std::ofstream(dir + "/Vantor.cnf", std::ios::binary) << image;
}

int settingsField(const std::string& dir, std::size_t offset) {
    std::string image = readFile(dir + "/Vantor.cnf");
    if (image.size() < offset + 2) return -1;
    return static_cast<uint8_t>(image[offset]) | static_cast<uint8_t>(image[offset + 1]) << 8;
}

std::string trimmedLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// ------------------------------------------------ ProgramCase, KeyValueToolCase

namespace {

// A fresh work dir named after the running case, with no COM links left.
std::string startCase() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string dir = makeWorkDir(std::string(info->test_suite_name()) + "_" + info->name());
    WineEnv::shared().unlinkAllComPorts();
    return dir;
}

}  // namespace

void ProgramCase::SetUp() { dir_ = startCase(); }

void ProgramCase::TearDown() {
    closeProgram();
    program_.reset();
}

bool ProgramCase::startProgram(const std::string& exe, const std::vector<std::string>& args,
                               const std::string& startDir) {
    launchProgram(exe, args, startDir);
    return waitWindow(MAIN_WINDOW_CLASS, 20000).found;
}

void ProgramCase::launchProgram(const std::string& exe, const std::vector<std::string>& args,
                                const std::string& startDir) {
    program_ = std::make_unique<WineProcess>(windowsExe(exe), args, dir_, startDir);
}

int ProgramCase::closeProgram() {
    if (!program_) return -1;
    if (!program_->running()) return program_->wait(0);
    probe({"close", MAIN_WINDOW_CLASS});
    int code = program_->wait(10000);
    if (code < 0) program_->kill();
    return code;
}

void ProgramCase::command(int id) { probe({"post-command", MAIN_WINDOW_CLASS, std::to_string(id)}); }

KeyValueToolCase::KeyValueToolCase(std::string exeName) : exeName_(std::move(exeName)) {}

void KeyValueToolCase::SetUp() { workDir_ = startCase(); }

std::string KeyValueToolCase::exe() const { return windowsExe(exeName_); }

Values KeyValueToolCase::check(const std::vector<std::string>& args, int timeoutMs) {
    std::string output;
    int code = runWine(exe(), args, workDir_, timeoutMs, &output);
    EXPECT_EQ(0, code) << output;
    Values values = parseValues(output);
    EXPECT_EQ("1", valueText(values, "done")) << output;
    return values;
}

}  // namespace e2e
