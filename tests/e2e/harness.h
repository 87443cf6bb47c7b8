// End-to-end harness: runs the real Windows programs under Wine against the
// device simulator on a pseudo-terminal, and observes what a user or the
// device would. Native Linux only; used from GoogleTest cases.
//
// One Wine prefix per native build folder (<build>/wineprefix), made once and
// reused (virtual desktop 1280x1024, marlett font, no default COM links; a
// marker file says the setup finished). Each test gets a fresh working
// directory <build>/e2e-work/<name>.
//
// Writing a test: start the simulator on a COM port, start the program in a
// work dir, drive it with probe.exe (its verbs are listed at the top of
// tests/e2e/win32/probe.cpp), and observe the simulator's log, the probe's
// answers, screenshots and the files in the work dir. For example:
//
//   TEST(Keys, SpaceKeyReachesTheDevice) {
//       std::string dir = e2e::makeWorkDir("Keys.SpaceKey");
//       writeSettingsFile(dir + "/Vantor.cnf", 3);              // the test's own helper: COM3
//       e2e::Simulator device(3, {"--seed", "1"});              // pty linked as COM3
//       e2e::WineProcess app(e2e::windowsExe("elq770.exe"), {}, dir);
//       ASSERT_TRUE(e2e::waitWindow(MAIN_CLASS, 10000).found);  // visible, title read
//       e2e::probe({"post-key", MAIN_CLASS, "SPACE", "press"});
//       EXPECT_TRUE(device.waitForWord(CMD_SPACE_KEY, 3000));
//       e2e::probe({"close", MAIN_CLASS});
//       EXPECT_EQ(app.wait(5000), 0);
//   }
//
// Message boxes: waitMessageBox(title) gives the text and icon, and
// closeMessageBox(title, "IDNO") answers it. Pixels: probe capture-client
// (a BMP of the client area) or WineEnv::screenshot (the whole desktop, X
// side), then pixelAt; probe client-origin maps client to screen points.
//
// Wine session: the first Wine program or simulator starts the prefix's wine
// server with -p (it lives until exit) and its services. At that start
// Wine's mount manager links the host's serial ports behind COM8 (the
// prefix reserves COM1 to COM8) and removes other COM links; the harness
// removes those links and restores the simulators'. Any of COM1 to COM8
// without a link is missing to the program: the reserved name still opens
// with CreateFile, but as a device that is no serial port, so reading or
// setting its line settings fails (ERROR_INVALID_FUNCTION).
//
// Display: a GUI-subsystem exe (read from its PE header; the Windows test
// programs with a WinMain are built as such) starts the shared
// Xvfb (-displayfd, 1280x1024x24) on first use; console programs run without
// a display unless one is already up, so console-only tests need no X server.
// Every Wine process gets DISPLAY of our Xvfb or no DISPLAY at all.
//
// Process hygiene: each Wine program runs in its own process group; kill()
// ends the group (SIGTERM, then SIGKILL). At the end of every GoogleTest case
// the harness kills whatever Wine programs and simulators the case left
// running and removes all COM links. At process exit it runs `wineserver -k`
// for our prefix only, then stops our Xvfb. Children also get a parent-death
// signal, so a crashed test binary leaves only the prefix's wine server,
// which the next harness process stops before it starts its own.
//
// Concurrency: the prefix (its one wineserver, desktop and COM links) is
// used by one test process at a time. The harness holds an flock on
// <build>/wineprefix.lock from first use to exit (prefix creation happens
// under it), and CTest gives every e2e case RESOURCE_LOCK elq_wineprefix so
// that `ctest -j` runs unit tests alongside but never two e2e cases at once.
//
// Text encoding: arguments are passed to Wine as UTF-8 (LC_ALL=C.UTF-8), so
// write them as ordinary UTF-8 literals; Windows sees them in its ANSI code
// page 1252. probe.exe prints what the ANSI API returns, i.e. cp1252 bytes:
// compare with toCp1252("Über") or convert with fromCp1252() for messages.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

// The window class of the program's main window.
constexpr const char* MAIN_WINDOW_CLASS = "BRISCA";

struct ChildRecord;  // a started Linux process the harness tracks and reaps

// Paths of the built programs (set by the build through compile definitions;
// the environment variables ELQ_WINDOWS_BUILD_DIR and ELQ_SIM_PATH override).
std::string windowsBuildDir();   // folder holding elq770.exe and the Windows test programs
std::string simulatorPath();     // the native elq770-sim binary ("" when not built)
std::string nativeBuildDir();    // the native build folder (prefix and work dirs live here)
std::string windowsExe(const std::string& name);  // windowsBuildDir() + "/" + name

// The shared Wine prefix and X display, created on first use and torn down at
// process exit (only what the harness itself started is killed).
class WineEnv {
public:
    static WineEnv& shared();
    const std::string& prefix() const;
    int display();                           // Xvfb display number; starts Xvfb on first call
    bool displayRunning() const;
    // Points dosdevices/comN at target; an empty target removes the link.
    void linkComPort(int port, const std::string& target);
    void unlinkAllComPorts();
    std::string comLinkPath(int port) const;  // <prefix>/dosdevices/comN
    // Whole virtual desktop via `import -window root`; returns pngPath, or ""
    // when the capture failed. Any extension import knows works (.png, .bmp).
    std::string screenshot(const std::string& pngPath);
    // Environment for a Wine child: WINEPREFIX, WINEDEBUG, locale, DISPLAY.
    std::vector<std::string> wineEnvironment() const;
    // The Unix locale of the Wine session (C.UTF-8 unless changed), which
    // gives Windows its ANSI code page: ja_JP.UTF-8 makes it 932, as on a
    // Japanese Windows. Wine fixes it when its server starts, so a change
    // restarts the session; the harness goes back to C.UTF-8 after each case.
    void useLocale(const std::string& locale);
    double prefixSetupSeconds() const;       // 0 when the prefix was reused
    // Stops our wine server, Xvfb and COM links; runs at process exit.
    void shutdown();

    WineEnv(const WineEnv&) = delete;
    WineEnv& operator=(const WineEnv&) = delete;

    // Starts the prefix's wine server (persistent until exit) and its
    // services once; Wine programs and simulators call it before they start.
    void ensureSession();

private:
    WineEnv();
    void setUp();
    void startSession();
    std::string prefix_;
    int display_ = -1;
    int xvfbPid_ = 0;
    bool sessionUp_ = false;
    bool sessionHasDisplay_ = false;
    std::string locale_ = "C.UTF-8";
    double setupSeconds_ = 0;
    int lockFd_ = -1;
};

// A device simulator on a pty, linked as COM<port> of the shared prefix. Its
// log goes to the current work dir (see currentWorkDir()).
class Simulator {
public:
    Simulator(int comPort, const std::vector<std::string>& flags = {});
    ~Simulator();                              // SIGTERM, wait, unlink
    bool started() const;                      // the link appeared in time
    std::vector<uint16_t> receivedWords() const;  // decoded from its --log
    int badFrames() const;                     // lines of the log that start with BAD
    bool waitForWord(uint16_t word, int timeoutMs) const;
    int stop();                                // exit code: 0 after a clean SIGTERM exit
    const std::string& logPath() const;
    std::string output() const;                // the simulator's stdout and stderr

private:
    int port_;
    std::shared_ptr<ChildRecord> child_;
    bool started_ = false;
    std::string logPath_;
    std::string outPath_;
};

// A Windows program running under Wine in the shared prefix, in its own
// process group, with stdout and stderr captured to <workDir>/<exe>-N.stdout
// and .stderr.
class WineProcess {
public:
    // startDir, when given, is the program's current directory instead of
    // workDir (which still receives the captured output).
    WineProcess(const std::string& exe, const std::vector<std::string>& args,
                const std::string& workDir, const std::string& startDir = "");
    ~WineProcess();                            // kills it if still running
    bool running() const;
    // Exit code; 128 + signal when killed by a signal; -1 on time-out.
    int wait(int timeoutMs);
    void kill();
    int pid() const;                           // Linux pid of the wine process
    std::string output() const;                // stdout and stderr so far
    std::string stdoutText() const;
    std::string stderrText() const;

private:
    std::shared_ptr<ChildRecord> child_;
    std::string stdoutPath_;
    std::string stderrPath_;
};

// Runs a Windows program to completion; returns its exit code (-1 on
// time-out, after killing it). output receives stdout followed by stderr.
int runWine(const std::string& exe, const std::vector<std::string>& args,
            const std::string& workDir, int timeoutMs, std::string* output = nullptr);

// Runs probe.exe (in the current work dir) and returns its stdout (cp1252
// bytes). exitCode receives 0 on success, non-zero on failure or time-out.
std::string probe(const std::vector<std::string>& args, int* exitCode = nullptr);

// Conveniences over probe.exe for the common observations.
struct WindowInfo {
    bool found = false;
    std::string hwnd;    // "0x..." as probe prints it; usable as a probe target
    std::string title;   // cp1252
};
WindowInfo waitWindow(const std::string& className, int timeoutMs);

struct MessageBoxInfo {
    bool found = false;
    std::string hwnd;
    std::string icon;    // "information", "stop", "warning", "question" or "none"
    std::string text;    // cp1252, as the box shows it
};
MessageBoxInfo waitMessageBox(const std::string& title, int timeoutMs);
// Posts the button id (1 IDOK, 6 IDYES, 7 IDNO, ...) and waits until it is gone.
bool closeMessageBox(const std::string& title, const std::string& button = "IDOK");

// A fresh, empty working directory for one test; it becomes currentWorkDir().
std::string makeWorkDir(const std::string& testName);
// The last work dir made, or one named after the running GoogleTest case.
std::string currentWorkDir();
// Z:\... form of a Linux path, for arguments a Windows program opens.
std::string winPath(const std::string& linuxPath);

// Screen images: reads 24/32-bit BMP and binary PPM directly, anything else
// (PNG from screenshot()) through ImageMagick. {-1,-1,-1} when unreadable or
// outside the image.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
Rgb pixelAt(const std::string& imagePath, int x, int y);
// The whole image at once, rows top-down (pixelAt per pixel costs a file
// stamp check each, too slow for comparing regions); false when unreadable.
bool readPixels(const std::string& imagePath, int& width, int& height, std::vector<Rgb>& pixels);

// Code page 1252 <-> UTF-8, for comparing probe output with literals.
std::string toCp1252(const std::string& utf8);
std::string fromCp1252(const std::string& cp1252);

// The machine's CUPS PDF queue (tools/printer-start.sh, run once per test
// process and before the Wine session starts, so that the prefix's programs
// see the printer): the folder its PDF files go to, "" when it cannot run.
std::string printerOutputDir();

// The text without its trailing line ends, as probe prints a line.
std::string trimmedLine(std::string text);

// Small file helpers for tests.
std::string readFile(const std::string& path);
bool waitForFile(const std::string& path, int timeoutMs);

// "key=value" lines, as the Windows test programs print their results.
using Values = std::map<std::string, std::string>;
Values parseValues(const std::string& text);
// The value as a number; NaN when the key is missing, so that every
// comparison with a missing value fails.
double valueNumber(const Values& values, const std::string& key);
// The value as text; "<missing>" when the key is missing.
std::string valueText(const Values& values, const std::string& key);

// Microseconds of CLOCK_REALTIME, the clock the Windows programs read with
// GetSystemTimePreciseAsFileTime under Wine.
int64_t realtimeMicros();

// The program's settings file "Vantor.cnf" in dir: written with these
// fields and zeros elsewhere, and one 16-bit field read back (-1 when the
// file is missing or shorter).
void writeSettingsFile(const std::string& dir, uint16_t comPort, uint16_t rollIndex = 1,
                       uint16_t stopAtAlarm = 0, uint16_t languageOffset = 0);
int settingsField(const std::string& dir, std::size_t offset);

// A test case that runs the window program: a fresh work dir named after the
// case, no COM links at its start, and the program closed (or killed) at its
// end.
class ProgramCase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts exe with dir_ as its work dir and waits until its main window
    // shows. startDir, when given, is its current directory instead of dir_.
    bool startProgram(const std::string& exe = "elq770.exe", const std::vector<std::string>& args = {},
                      const std::string& startDir = "");
    // Starts it without waiting, for a case that sees what comes before the
    // window (a message box at start-up).
    void launchProgram(const std::string& exe = "elq770.exe", const std::vector<std::string>& args = {},
                       const std::string& startDir = "");
    // Posts WM_CLOSE and waits for the exit; kills the program if it hangs.
    // Returns its exit code: 0 for a clean exit, -1 when it hung (or none
    // was started).
    int closeProgram();
    void command(int id);

    std::string dir_;
    std::unique_ptr<WineProcess> program_;
};

// A test case that runs one Windows console program which prints
// "key=value" lines (link_check.exe, link_timing.exe): a fresh work dir named
// after the case and no COM links at its start (a port exists only while a
// simulator, or the case itself, links it).
class KeyValueToolCase : public ::testing::Test {
protected:
    explicit KeyValueToolCase(std::string exeName);
    void SetUp() override;
    std::string exe() const;  // the program's path
    // Runs the program to its end in workDir_ and parses its output; expects
    // exit code 0 and "done=1".
    Values check(const std::vector<std::string>& args, int timeoutMs = 30000);

    std::string workDir_;

private:
    std::string exeName_;
};

}  // namespace e2e
