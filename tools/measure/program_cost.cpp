// Figures of the running program under Wine: start-up to the first painted
// window, CPU share while a device streams (30 s and 10 s roll), and the GDI
// cost of the trend graph's scroll step and full redraw (trend_cost.exe).
//
// These cases measure and print; they never fail because the machine is
// slow. They fail only when a measurement cannot be taken at all (the window
// never appears, a process cannot be found in /proc). Each figure is one
// stdout line "figure: NAME VALUE UNIT [notes]" and a RecordProperty of the
// same name; tools/measure.sh runs them and collects the lines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/command_frames.h"
#include "params/settings.h"
#include "tests/e2e/harness.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* MAIN_CLASS = "BRISCA";
const char* PROGRAM_EXE = "elq770.exe";

// Client points that only a finished first paint shows in the panel grey:
// inside the readout panel below its labels, and inside the graph panel
// above the axes (the window's own background is a darker grey).
const std::vector<std::string> PAINTED_POINTS = {"100", "200", "600", "70"};

constexpr int STARTS = 3;
constexpr int WARM_UP_SECONDS = 5;
constexpr int CPU_WINDOW_SECONDS = 30;
constexpr double ROLL10_TARGET_PERCENT = 3.0;

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void figure(const std::string& name, double value, const char* format, const std::string& unit,
            const std::string& notes = "") {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    ::testing::Test::RecordProperty(name, std::string(text) + " " + unit);
    std::printf("figure: %s %s %s%s%s\n", name.c_str(), text, unit.c_str(), notes.empty() ? "" : " ", notes.c_str());
    std::fflush(stdout);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// ---- /proc

std::string procText(int pid, const char* name) { return e2e::readFile("/proc/" + std::to_string(pid) + "/" + name); }

std::vector<int> allPids() {
    std::vector<int> pids;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
        std::string name = entry.path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) pids.push_back(std::stoi(name));
    }
    return pids;
}

// The fields of a stat file after the command name: state is field 3,
// ppid 4, utime 14, stime 15.
std::vector<std::string> statFields(const std::string& statPath) {
    std::string stat = e2e::readFile(statPath);
    size_t close = stat.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream in(stat.substr(close + 1));
    std::string field;
    while (in >> field) fields.push_back(field);
    return fields;
}

std::vector<std::string> statFields(int pid) { return statFields("/proc/" + std::to_string(pid) + "/stat"); }

long long ticksOf(const std::vector<std::string>& fields) {
    if (fields.size() < 13) return -1;
    return std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
}

// utime + stime of every thread of the process, in clock ticks; -1 when gone.
long long cpuTicks(int pid) { return ticksOf(statFields(pid)); }

// Per thread of the process: tid -> utime + stime.
std::map<int, long long> threadTicks(int pid) {
    std::map<int, long long> ticks;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        long long t = ticksOf(statFields(entry.path().string() + "/stat"));
        if (t >= 0) ticks[std::stoi(entry.path().filename().string())] = t;
    }
    return ticks;
}

int parentOf(int pid) {
    std::vector<std::string> fields = statFields(pid);
    return fields.size() > 1 ? std::atoi(fields[1].c_str()) : -1;
}

bool hasEnvironment(int pid, const std::string& entry) {
    std::string env = procText(pid, "environ");
    size_t at = 0;
    while (at < env.size()) {
        size_t end = env.find('\0', at);
        if (end == std::string::npos) end = env.size();
        if (env.compare(at, end - at, entry) == 0) return true;
        at = end + 1;
    }
    return false;
}

std::string commOf(int pid) {
    std::string comm = procText(pid, "comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    return comm;
}

// The Linux process that runs the Windows program: its command line names
// the exe, and it belongs to our prefix. Wine's launcher script and loader
// exec in place, so it is usually the very process the harness forked.
int findWindowsProcess(const std::string& exeName, int launcherPid) {
    const std::string prefixEntry = "WINEPREFIX=" + e2e::WineEnv::shared().prefix();
    int found = -1;
    for (int pid : allPids()) {
        if (procText(pid, "cmdline").find(exeName) == std::string::npos) continue;
        if (!hasEnvironment(pid, prefixEntry)) continue;
        if (pid == launcherPid) return pid;
        found = pid;
    }
    return found;
}

int findWineserver() {
    const std::string prefixEntry = "WINEPREFIX=" + e2e::WineEnv::shared().prefix();
    for (int pid : allPids())
        if (commOf(pid).rfind("wineserver", 0) == 0 && hasEnvironment(pid, prefixEntry)) return pid;
    return -1;
}

// The harness starts its Xvfb as a direct child of this test process.
int findOurXvfb() {
    for (int pid : allPids())
        if (commOf(pid) == "Xvfb" && parentOf(pid) == getpid()) return pid;
    return -1;
}

std::string loadAverage() {
    std::string load = e2e::readFile("/proc/loadavg");
    return load.substr(0, load.find(' ', load.find(' ', load.find(' ') + 1) + 1));
}

// ---- the fixture

// The display is started first: the watcher and trend_cost are console
// programs, which see the screen only when it is already up.
class Performance : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = e2e::makeWorkDir(std::string(info->test_suite_name()) + "_" + info->name());
        ASSERT_GE(e2e::WineEnv::shared().display(), 0);
        e2e::WineEnv::shared().unlinkAllComPorts();
    }

    void TearDown() override {
        closeProgram();
    }

    static bool waitOutput(const e2e::WineProcess& process, const std::string& text, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            if (process.output().find(text) != std::string::npos) return true;
            if (!process.running()) return process.output().find(text) != std::string::npos;
            sleepMs(10);
        }
        return false;
    }

    void startProgram() {
        program_ = std::make_unique<e2e::WineProcess>(e2e::windowsExe(PROGRAM_EXE), std::vector<std::string>{}, dir_);
    }

    void closeProgram() {
        if (program_ && program_->running()) {
            e2e::probe({"close", MAIN_CLASS});
            if (program_->wait(10000) < 0) program_->kill();
        }
        program_.reset();
    }

    // targetPercent 0: no target for the program's share.
    void measureCpuShare(uint16_t rollIndex, const std::string& name, double targetPercent);

    std::string dir_;
    std::unique_ptr<e2e::WineProcess> program_;
};

// From the fork of `wine elq770.exe` to the first poll that sees the window
// visible with its panels painted on the screen. first_paint.exe watches
// from before the fork, so no probe start-up lands in the figure.
TEST_F(Performance, StartupToFirstPaint) {
    e2e::writeSettingsFile(dir_, 1, 1);
    e2e::Simulator device(1, {"--seed", "21"});
    ASSERT_TRUE(device.started());
    std::vector<double> painted, visible, resolution;
    std::vector<std::string> stale;  // where the last run's grey showed on the screen
    for (int run = 1; run <= STARTS; ++run) {
        std::vector<std::string> args = {MAIN_CLASS, "30000"};
        args.insert(args.end(), PAINTED_POINTS.begin(), PAINTED_POINTS.end());
        args.insert(args.end(), stale.begin(), stale.end());
        e2e::WineProcess watcher(e2e::windowsExe("first_paint.exe"), args, dir_);
        ASSERT_TRUE(waitOutput(watcher, "ready", 30000)) << "the screen never lost the last run's grey: "
                                                        << watcher.output();
        int64_t forkedAt = e2e::realtimeMicros();
        startProgram();
        int rc = watcher.wait(40000);
        auto values = e2e::parseValues(watcher.stdoutText());
        ASSERT_EQ(0, rc) << "the window never showed its painted panels: " << watcher.output();
        painted.push_back((e2e::valueNumber(values, "paintedAt") - static_cast<double>(forkedAt)) / 1e6);
        visible.push_back((e2e::valueNumber(values, "visibleAt") - static_cast<double>(forkedAt)) / 1e6);
        resolution.push_back(e2e::valueNumber(values, "pollMicros") / 1000.0);
        const int originX = static_cast<int>(e2e::valueNumber(values, "originX"));
        const int originY = static_cast<int>(e2e::valueNumber(values, "originY"));
        stale = {"--stale"};
        for (size_t i = 0; i + 1 < PAINTED_POINTS.size(); i += 2) {
            stale.push_back(std::to_string(std::stoi(PAINTED_POINTS[i]) + originX));
            stale.push_back(std::to_string(std::stoi(PAINTED_POINTS[i + 1]) + originY));
        }
        closeProgram();
        char notes[128];
        std::snprintf(notes, sizeof notes, "(window visible at %.3f s; %s)", visible.back(),
                      run == 1 ? "first start of the program in this test's Wine session" : "warm start");
        figure("startup-to-first-paint-run" + std::to_string(run), painted.back(), "%.3f", "s", notes);
    }
    figure("startup-to-first-paint-median", median(painted), "%.3f", "s", "(median of 3)");
    figure("startup-poll-resolution", median(resolution), "%.1f", "ms",
           "(watcher polls FindWindow + 2 screen GetPixel; stamps are late by at most this)");
}

void Performance::measureCpuShare(uint16_t rollIndex, const std::string& name, double targetPercent) {
    e2e::writeSettingsFile(dir_, 1, rollIndex);
    e2e::Simulator device(1, {"--seed", "22"});
    ASSERT_TRUE(device.started());
    startProgram();
    int code = -1;
    e2e::probe({"wait-window", MAIN_CLASS, "20000"}, &code);
    ASSERT_EQ(0, code) << "the window never appeared: " << program_->output();
    int programPid = findWindowsProcess(PROGRAM_EXE, program_->pid());
    int serverPid = findWineserver();
    int xvfbPid = findOurXvfb();
    ASSERT_GT(programPid, 0) << "no process runs " << PROGRAM_EXE;
    ASSERT_GT(serverPid, 0) << "no wineserver of " << e2e::WineEnv::shared().prefix();
    std::printf("note: %s runs as Linux pid %d (harness launcher pid %d), wineserver %d, Xvfb %d, load %s\n",
                PROGRAM_EXE, programPid, program_->pid(), serverPid, xvfbPid, loadAverage().c_str());

    sleepMs(WARM_UP_SECONDS * 1000);
    long long program0 = cpuTicks(programPid), server0 = cpuTicks(serverPid), xvfb0 = cpuTicks(xvfbPid);
    std::map<int, long long> threads0 = threadTicks(programPid);
    Clock::time_point start = Clock::now();
    sleepMs(CPU_WINDOW_SECONDS * 1000);
    long long program1 = cpuTicks(programPid), server1 = cpuTicks(serverPid), xvfb1 = cpuTicks(xvfbPid);
    std::map<int, long long> threads1 = threadTicks(programPid);
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_TRUE(program_->running()) << "the program ended during the measurement: " << program_->output();
    // A data request on the line shows that the program opened the port.
    ASSERT_TRUE(device.waitForWord(CMD_REQUEST_DATA, 0)) << "the program never talked to the device";
    ASSERT_GE(program1, program0);
    ASSERT_GE(server1, server0);

    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    auto percent = [&](long long from, long long to) { return (to - from) / tick / wall * 100.0; };
    std::string window = "over " + std::to_string(CPU_WINDOW_SECONDS) + " s";
    double programShare = percent(program0, program1);
    char target[64] = "";
    if (targetPercent > 0)
        std::snprintf(target, sizeof target, "(target < %.0f %%: %s) ", targetPercent,
                      programShare < targetPercent ? "met" : "not met");
    figure(name + "-program", programShare, "%.2f", "% of one core", target + window);
    figure(name + "-wineserver", percent(server0, server1), "%.2f", "% of one core", window);
    if (xvfbPid > 0 && xvfb1 >= xvfb0)
        figure(name + "-xvfb", percent(xvfb0, xvfb1), "%.2f", "% of one core", window + " (the X server drawing it)");
    std::printf("note: clock tick %.0f Hz: each share is +-%.2f %% of one core; program threads (tid %%):",
                tick, 100.0 / tick / wall);
    for (const auto& [tid, ticks] : threads1) {
        auto before = threads0.find(tid);
        long long from = before == threads0.end() ? 0 : before->second;
        if (ticks > from) std::printf(" %d %.2f", tid, percent(from, ticks));
    }
    std::printf("\n");
    closeProgram();
}

// Default roll: a trend sample every 3rd measurement, a graph paint every 20 ms.
TEST_F(Performance, CpuShareWhileStreamingAt30sRoll) {
    measureCpuShare(1, "cpu-streaming-roll30s", 0);
}

// The busiest roll: a sample with every measurement (50 a second), so every
// 20 ms paint scrolls the graph.
TEST_F(Performance, CpuShareWhileStreamingAt10sRoll) {
    measureCpuShare(0, "cpu-streaming-roll10s", ROLL10_TARGET_PERCENT);
}

// GDI time of one scroll step and one full redraw, measured inside Wine by
// trend_cost.exe on a memory DC and on a window DC.
TEST_F(Performance, TrendGdiCost) {
    std::string output;
    int rc = e2e::runWine(e2e::windowsExe("trend_cost.exe"), {"2000", "200", "window"}, dir_, 60000, &output);
    ASSERT_EQ(0, rc) << output;
    auto values = e2e::parseValues(output);
    ASSERT_GT(e2e::valueNumber(values, "memory.scroll.count"), 0) << output;
    // The curve spans the 502-column band (the sine swings reach every column).
    ASSERT_GE(e2e::valueNumber(values, "memory.curveColumns"), 450) << "the timed calls drew no curve: " << output;
    const char* const dcs[] = {"memory", "window"};
    const char* const ops[][2] = {{"scroll", "one scrollTrend step (one new sample)"},
                                  {"redraw", "one full redrawTrend (500 points)"},
                                  {"fullpaint", "one full client paint (panels, axes, curve, readouts)"},
                                  {"paintcycle", "UpdateWindow: BeginPaint + scrollTrend + EndPaint"}};
    for (const char* dc : dcs) {
        for (const auto& op : ops) {
            std::string key = std::string(dc) + "." + op[0];
            if (!(e2e::valueNumber(values, key + ".count") > 0)) continue;
            char notes[160];
            std::snprintf(notes, sizeof notes, "(median %.1f, max %.0f us over %.0f calls; %s)",
                          e2e::valueNumber(values, key + ".median"), e2e::valueNumber(values, key + ".max"),
                          e2e::valueNumber(values, key + ".count"), op[1]);
            figure("gdi-" + std::string(dc) + "-dc-" + op[0], e2e::valueNumber(values, key + ".mean"), "%.1f", "us per call",
                   notes);
        }
    }
    if (e2e::valueNumber(values, "window") != 1) std::printf("note: no window DC figures (no window could be made)\n");
}

}  // namespace
