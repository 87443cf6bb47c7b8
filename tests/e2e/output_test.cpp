// Printing and the screen dump end to end: the real elq770.exe under Wine
// against the simulator. A page goes through Wine's spooler to the machine's
// CUPS PDF queue (tools/printer-start.sh) and is read back with pdftotext and
// pdftoppm; a dump is read back as a file and compared with the screen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lang/language_table.h"
#include "lang/utf8.h"
#include "output/print_page.h"
#include "params/settings.h"
#include "tests/e2e/harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* MAIN_CLASS = "BRISCA";
const char* PAGE_SETUP_TITLE = "Setup Page";  // Wine's title of the page-setup dialog
const char* SAVE_TITLE = "Save As";
constexpr int IDM_SCREEN_DUMP = 2033;
constexpr int IDM_PRINTER = 2034;
constexpr int LANDSCAPE_BUTTON = 1057;  // rad2 of the page-setup template
constexpr int FILE_NAME_EDIT = 1148;
constexpr int SIM_LEVEL = 40;
constexpr int SIM_SETPOINT = 60;

// The queue is the machine's: print tests of other checkouts take turns
// with ours, so that each finds only its own new files.
class MachinePrintLock {
public:
    MachinePrintLock() : fd_(open("/tmp/elq770-print-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        if (fd_ >= 0) flock(fd_, LOCK_EX);
    }
    ~MachinePrintLock() {
        if (fd_ >= 0) close(fd_);
    }
    MachinePrintLock(const MachinePrintLock&) = delete;
    MachinePrintLock& operator=(const MachinePrintLock&) = delete;

private:
    int fd_;
};

std::set<std::string> pdfFiles(const std::string& dir) {
    std::set<std::string> files;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec))
        if (entry.path().extension() == ".pdf") files.insert(entry.path().string());
    return files;
}

// A PDF that was not there before, once its size has settled.
std::string waitNewPdf(const std::string& dir, const std::set<std::string>& before, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& file : pdfFiles(dir)) {
            if (before.count(file)) continue;
            std::error_code ec;
            auto size = fs::file_size(file, ec);
            std::this_thread::sleep_for(300ms);
            if (!ec && size > 0 && size == fs::file_size(file, ec)) return file;
        }
        std::this_thread::sleep_for(100ms);
    }
    return "";
}

std::string commandOutput(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
    return text;
}

// Runs of blanks and line breaks count as one blank: pdftotext lays text out
// by position, not by the blanks that were printed.
// The printer font's hyphen comes back from the PDF as a soft hyphen.
std::string squeezed(const std::string& text) {
    std::string plain = std::regex_replace(text, std::regex("\xC2\xAD"), "-");
    return std::regex_replace(plain, std::regex("\\s+"), " ");
}

// The simulator's parameters as it reports them with --setpoint1 60.
ParameterSet simulatorParameters() {
    ParameterSet record{};
    record.limit1Type = 2;
    record.limit2Type = 1;
    record.limit1CurrentRange = 2;
    record.limit2CurrentRange = 2;
    record.outputs = 1;
    record.limit1Setpoint = SIM_SETPOINT;
    record.limit2Setpoint = 20;
    record.limit1Tr = 20;
    record.limit2Tr = 20;
    record.limit1Ts = 10;
    record.limit2Ts = 10;
    record.p1Max = 100;
    record.deviceText[0] = 'E';
    return record;
}

// Where the rendered page shows the graph: the time axis is the longest
// inked run of a row (the curve's baseline covers part of it); its length is
// 511 page units. Lines are thin and smoothed, so colours are told apart by
// which channel dominates.
struct PageGraph {
    int axisY = -1, axisLeft = 0, axisLength = 0;
    double unit() const { return axisLength / 511.0; }
};

bool inked(const e2e::Rgb& c) { return c.r + c.g + c.b < 600; }
bool dark(const e2e::Rgb& c) { return c.r < 140 && c.g < 140 && c.b < 140; }
bool blue(const e2e::Rgb& c) { return c.b > 150 && c.b > c.r + 60 && c.b > c.g + 60; }
bool red(const e2e::Rgb& c) { return c.r > 150 && c.r > c.g + 60 && c.r > c.b + 60; }

class Page {
public:
    explicit Page(const std::string& ppm) { ok_ = e2e::readPixels(ppm, width_, height_, pixels_); }
    bool ok() const { return ok_; }
    int width() const { return width_; }
    int height() const { return height_; }
    e2e::Rgb at(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

    PageGraph findGraph() const {
        PageGraph graph;
        for (int y = 0; y < height_; ++y) {
            int run = 0;
            for (int x = 0; x < width_; ++x) {
                run = inked(at(x, y)) ? run + 1 : 0;
                if (run > graph.axisLength) {
                    graph.axisLength = run;
                    graph.axisY = y;
                    graph.axisLeft = x - run + 1;
                }
            }
        }
        return graph;
    }

    // Pixels of a colour in a rectangle (right and bottom outside).
    template <typename Test>
    int count(Test test, int left, int top, int right, int bottom) const {
        int n = 0;
        for (int y = std::max(top, 0); y < std::min(bottom, height_); ++y)
            for (int x = std::max(left, 0); x < std::min(right, width_); ++x) n += test(at(x, y));
        return n;
    }

private:
    bool ok_ = false;
    int width_ = 0, height_ = 0;
    std::vector<e2e::Rgb> pixels_;
};

class OutputE2E : public e2e::ProgramCase {
protected:
    // The program on COM1 with a device that has identified itself.
    bool startWithDevice(e2e::Simulator& device, uint16_t languageOffset = 0,
                         const std::string& exe = "elq770.exe", const std::vector<std::string>& args = {}) {
        e2e::writeSettingsFile(dir_, 1, 0, 0, languageOffset);
        program_ = std::make_unique<e2e::WineProcess>(e2e::windowsExe(exe), args, dir_);
        if (!e2e::waitWindow(MAIN_CLASS, 20000).found) return false;
        if (!device.waitForWord(65050, 5000)) return false;  // CMD_REQUEST_DATA
        std::this_thread::sleep_for(2000ms);                // the answer, and some curve
        return true;
    }


    // Prints through the page-setup dialog; the new PDF, or "".
    std::string printPage(bool landscape) {
        std::string out = e2e::printerOutputDir();
        std::set<std::string> before = pdfFiles(out);
        command(IDM_PRINTER);
        e2e::MessageBoxInfo setup = e2e::waitMessageBox(PAGE_SETUP_TITLE, 15000);
        if (!setup.found) {
            ADD_FAILURE() << "no page-setup dialog; windows:\n" << e2e::probe({"list-windows"});
            return "";
        }
        if (landscape) e2e::probe({"click-button", setup.hwnd, std::to_string(LANDSCAPE_BUTTON)});
        e2e::closeMessageBox(PAGE_SETUP_TITLE, "IDOK");
        std::string pdf = waitNewPdf(out, before, 20000);
        if (pdf.empty()) return pdf;
        // Into the work dir, so that the machine's folder does not fill up.
        std::string kept = dir_ + (landscape ? "/landscape.pdf" : "/portrait.pdf");
        std::error_code ec;
        fs::copy_file(pdf, kept, fs::copy_options::overwrite_existing, ec);
        if (ec) return pdf;
        fs::remove(pdf, ec);
        return kept;
    }

};

// The whole page in one job: header, graph and list, in the language in
// force; and where the layout puts the graph, its curve and setpoint line.
void checkPageText(const std::string& pdf, uint16_t languageOffset) {
    std::string text = squeezed(commandOutput("pdftotext -layout -enc UTF-8 '" + pdf + "' -"));
    EXPECT_NE(std::string::npos, text.find("Corvanta: ELQ770 SIM 1.0")) << text;
    int saved = currentLanguage();
    setLanguage(languageOffset);
    char label[LANGUAGE_TEXT_SIZE];
    langText(label, 30);
    EXPECT_NE(std::string::npos, text.find(e2e::fromCp1252(label) + ": ")) << "the date line";
    char maxPeak[LANGUAGE_TEXT_SIZE], minPeak[LANGUAGE_TEXT_SIZE];
    langText(maxPeak, 25);
    langText(minPeak, 26);
    std::regex peaks(std::regex_replace(e2e::fromCp1252(maxPeak), std::regex("[\\[\\]]"), "\\$&") + " (\\d+), " +
                     std::regex_replace(e2e::fromCp1252(minPeak), std::regex("[\\[\\]]"), "\\$&") + " (\\d+)");
    std::smatch found;
    EXPECT_TRUE(std::regex_search(text, found, peaks)) << text;
    if (!found.empty()) {
        EXPECT_EQ(std::to_string(SIM_LEVEL), found[1].str()) << "the device's peak";
    }
    PrintLine lines[PARAMETER_LINE_COUNT];
    ParameterSet record = simulatorParameters();
    parameterListLines(lines, record, 0, 0);
    for (const PrintLine& line : lines) {
        std::string expected = squeezed(utf8FromUtf16(line.text));
        while (!expected.empty() && expected.back() == ' ') expected.pop_back();
        EXPECT_NE(std::string::npos, text.find(expected)) << "missing \"" << expected << "\" in\n" << text;
    }
    setLanguage(saved);
}

struct RenderedGraph {
    PageGraph graph;
    bool curveInside = false;
    bool curveAtLevel = false;
    bool setpointAtHeight = false;
    int textLeftOfGraph = 0;   // dark pixels left of the axis' start, at the graph's height
    int textBelowGraph = 0;    // dark pixels well below the time labels
};

RenderedGraph renderGraph(const std::string& pdf, const std::string& dir, bool* landscapePage) {
    RenderedGraph result;
    std::string base = dir + "/page";
    commandOutput("pdftoppm -r 100 -singlefile '" + pdf + "' '" + base + "'");
    Page page(base + ".ppm");
    if (!page.ok()) {
        ADD_FAILURE() << "pdftoppm gave no page";
        return result;
    }
    *landscapePage = page.width() > page.height();
    PageGraph g = page.findGraph();
    result.graph = g;
    const double u = g.unit();
    const int left = g.axisLeft, right = g.axisLeft + static_cast<int>(502 * u);
    const int top = g.axisY - static_cast<int>(312 * u);
    const int curveBlue = page.count(blue, 0, 0, page.width(), page.height());
    result.curveInside = curveBlue > 0 && page.count(blue, left - 2, top, right + 2, g.axisY + 3) == curveBlue;
    const int levelY = g.axisY - static_cast<int>(3 * SIM_LEVEL * u);
    result.curveAtLevel = page.count(blue, left, levelY - 3, right, levelY + 4) > 20;
    const int setpointY = g.axisY - static_cast<int>(3 * SIM_SETPOINT * u);
    result.setpointAtHeight = page.count(red, left, setpointY - 3, right, setpointY + 4) > static_cast<int>(400 * u);
    result.textLeftOfGraph = page.count(dark, 0, top, left - static_cast<int>(10 * u), g.axisY);
    result.textBelowGraph = page.count(dark, 0, g.axisY + static_cast<int>(40 * u), page.width(), page.height());
    return result;
}

}  // namespace

TEST_F(OutputE2E, PortraitPageHasHeaderGraphAndListBelowIt) {
    MachinePrintLock lock;
    ASSERT_FALSE(e2e::printerOutputDir().empty());
    e2e::Simulator device(1, {"--seed", "1", "--level", std::to_string(SIM_LEVEL), "--setpoint1",
                              std::to_string(SIM_SETPOINT)});
    ASSERT_TRUE(startWithDevice(device));
    std::string pdf = printPage(false);
    ASSERT_FALSE(pdf.empty()) << "no PDF in " << e2e::printerOutputDir();
    checkPageText(pdf, 0);
    bool landscape = true;
    RenderedGraph shown = renderGraph(pdf, dir_, &landscape);
    EXPECT_FALSE(landscape);
    EXPECT_GT(shown.graph.axisLength, 300) << "the time axis";
    EXPECT_TRUE(shown.curveInside);
    EXPECT_TRUE(shown.curveAtLevel);
    EXPECT_TRUE(shown.setpointAtHeight);
    EXPECT_GT(shown.textBelowGraph, 2000) << "the list below the graph";
    EXPECT_EQ(0, shown.textLeftOfGraph) << "nothing left of the graph";
}

// One run: a cancelled dialog prints nothing and shows nothing; then a
// landscape page in German, with the list left of the graph.
TEST_F(OutputE2E, CancelPrintsNothingLandscapePageInGerman) {
    MachinePrintLock lock;
    std::string out = e2e::printerOutputDir();
    ASSERT_FALSE(out.empty());
    e2e::Simulator device(1, {"--seed", "2", "--level", std::to_string(SIM_LEVEL), "--setpoint1",
                              std::to_string(SIM_SETPOINT)});
    ASSERT_TRUE(startWithDevice(device, 100));

    std::set<std::string> before = pdfFiles(out);
    command(IDM_PRINTER);
    ASSERT_TRUE(e2e::waitMessageBox(PAGE_SETUP_TITLE, 15000).found);
    EXPECT_TRUE(e2e::closeMessageBox(PAGE_SETUP_TITLE, "IDCANCEL"));
    EXPECT_FALSE(e2e::waitMessageBox(e2e::toCp1252("Fehler!"), 1500).found) << "no message after a cancel";
    EXPECT_EQ("", waitNewPdf(out, before, 1500)) << "nothing printed";

    std::string pdf = printPage(true);
    ASSERT_FALSE(pdf.empty()) << "no PDF in " << out;
    checkPageText(pdf, 100);
    bool landscape = false;
    RenderedGraph shown = renderGraph(pdf, dir_, &landscape);
    EXPECT_TRUE(landscape);
    EXPECT_TRUE(shown.curveInside);
    EXPECT_TRUE(shown.curveAtLevel);
    EXPECT_TRUE(shown.setpointAtHeight);
    EXPECT_GT(shown.textLeftOfGraph, 2000) << "the list left of the graph";
    EXPECT_EQ(0, shown.textBelowGraph) << "nothing below the graph";
}

// Without a printer (the CUPS server out of reach of the program's process,
// so Wine imports no queue and drops the one it had) the command ends in
// message 86 or prints nothing, and the program stays responsive.
TEST_F(OutputE2E, NoPrinterShowsMessage86AndNeverHangs) {
    MachinePrintLock lock;
    std::string out = e2e::printerOutputDir();
    e2e::Simulator device(1, {"--seed", "3"});
    setenv("CUPS_SERVER", (dir_ + "/no-cups.sock").c_str(), 1);
    bool started = startWithDevice(device);
    unsetenv("CUPS_SERVER");
    ASSERT_TRUE(started);
    std::set<std::string> before = pdfFiles(out);
    command(IDM_PRINTER);
    // The dialog may first say so itself (Wine's box is titled "Error").
    e2e::MessageBoxInfo own = e2e::waitMessageBox("Error", 10000);
    if (own.found) {
        std::fprintf(stderr, "the page-setup dialog said: %s\n", own.text.c_str());
        EXPECT_TRUE(e2e::closeMessageBox("Error"));
    }
    e2e::MessageBoxInfo error = e2e::waitMessageBox("Error!", 10000);
    ASSERT_TRUE(error.found);
    EXPECT_EQ("Unable to open printer", error.text);
    EXPECT_EQ("stop", error.icon);
    EXPECT_TRUE(e2e::closeMessageBox("Error!"));
    EXPECT_EQ("", waitNewPdf(out, before, 500));
    EXPECT_TRUE(e2e::waitWindow(MAIN_CLASS, 2000).found);
}

namespace {

uint32_t le32(const std::string& d, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(d[at + i]);
    return v;
}

uint16_t le16(const std::string& d, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1]) << 8);
}

struct WindowRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

WindowRect windowRect() {
    WindowRect r;
    std::sscanf(e2e::probe({"window-rect", MAIN_CLASS}).c_str(), "%d %d %d %d", &r.left, &r.top, &r.right, &r.bottom);
    return r;
}

// The overwrite question of the save dialog: a visible dialog with a Yes
// button (its title is the system's; Wine's says "Error").
std::string overwriteQuestion(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::regex dialogRow("(0x[0-9a-f]+) #32770 visible=1");
    do {
        std::string windows = e2e::probe({"list-windows"});
        for (auto it = std::sregex_iterator(windows.begin(), windows.end(), dialogRow); it != std::sregex_iterator();
             ++it) {
            std::string hwnd = (*it)[1].str();
            if (e2e::probe({"children", hwnd}).find("Button id=6 ") != std::string::npos) return hwnd;
        }
        std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return "";
}

// Names the file in the open save dialog and presses its OK button.
void saveAs(const std::string& path, const char* setText = "set-text") {
    e2e::MessageBoxInfo dialog = e2e::waitMessageBox(SAVE_TITLE, 15000);
    ASSERT_TRUE(dialog.found) << "no save dialog";
    e2e::probe({setText, dialog.hwnd, std::to_string(FILE_NAME_EDIT), e2e::winPath(path)});
    e2e::probe({"post", dialog.hwnd, ".", "273", "1", "0"});  // WM_COMMAND IDOK
}

// The file once its size has stopped changing (or "" after the time-out).
std::string settledFile(const std::string& path, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string last = "-";
    while (std::chrono::steady_clock::now() < deadline) {
        std::string now = e2e::readFile(path);
        if (!now.empty() && now == last) return now;
        last = now;
        std::this_thread::sleep_for(200ms);
    }
    return "";
}

std::set<std::string> bmpFiles(const std::string& dir) {
    std::set<std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".bmp") files.insert(entry.path().filename().string());
    return files;
}

}  // namespace

// The dump holds the window as the screen showed it, in the layout its
// header fields announce.
TEST_F(OutputE2E, ScreenDumpIsTheWindowAsShown) {
    e2e::Simulator device(1, {"--seed", "4", "--level", "40"});
    ASSERT_TRUE(startWithDevice(device));
    e2e::probe({"post-key", MAIN_CLASS, "PAUSE", "press"});  // the graph stands still
    std::this_thread::sleep_for(700ms);
    WindowRect window = windowRect();
    std::string screen = e2e::WineEnv::shared().screenshot(dir_ + "/screen.png");
    ASSERT_FALSE(screen.empty());
    command(IDM_SCREEN_DUMP);
    saveAs(dir_ + "/dump");  // the default extension is added
    std::string bmp = settledFile(dir_ + "/dump.bmp", 10000);
    ASSERT_GT(bmp.size(), 54u);

    const int width = window.right - window.left, height = window.bottom - window.top;
    EXPECT_EQ("BM", bmp.substr(0, 2));
    EXPECT_EQ(bmp.size(), le32(bmp, 2)) << "bfSize";
    EXPECT_EQ(0u, le32(bmp, 6)) << "reserved";
    const uint32_t colours = le32(bmp, 46);
    EXPECT_EQ(54u + 4u * colours, le32(bmp, 10)) << "bfOffBits";
    EXPECT_EQ(40u, le32(bmp, 14));
    EXPECT_EQ(width, static_cast<int32_t>(le32(bmp, 18)));
    EXPECT_EQ(height, static_cast<int32_t>(le32(bmp, 22))) << "positive: rows bottom-up";
    EXPECT_EQ(1, le16(bmp, 26));
    const uint32_t bits = le16(bmp, 28);
    EXPECT_EQ(0u, le32(bmp, 30)) << "BI_RGB";
    EXPECT_EQ((width * bits + 31) / 32 * 4 * height, le32(bmp, 34)) << "biSizeImage, rows padded";
    EXPECT_EQ(std::to_string(width) + " " + std::to_string(height),
              commandOutput("identify -format '%w %h' '" + dir_ + "/dump.bmp'"))
        << "ImageMagick reads it";

    int dumpWidth = 0, dumpHeight = 0, screenWidth = 0, screenHeight = 0;
    std::vector<e2e::Rgb> dump, shot;
    ASSERT_TRUE(e2e::readPixels(dir_ + "/dump.bmp", dumpWidth, dumpHeight, dump));
    ASSERT_TRUE(e2e::readPixels(screen, screenWidth, screenHeight, shot));
    int differing = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            differing += !(dump[static_cast<size_t>(y) * width + x] ==
                           shot[static_cast<size_t>(y + window.top) * screenWidth + x + window.left]);
    EXPECT_LE(differing, width * height / 200) << "pixels unlike the screen";
    // The header band (client 25..935 x 15..50) holds the device's text, not
    // the dashes: the text reaches past where "- - -" ends.
    WindowRect client;
    std::sscanf(e2e::probe({"client-origin", MAIN_CLASS}).c_str(), "%d %d", &client.left, &client.top);
    int inkRight = 0;
    for (int y = 20; y < 48; ++y)
        for (int x = 30; x < 900; ++x) {
            e2e::Rgb c = dump[static_cast<size_t>(y + client.top - window.top) * width + x + client.left - window.left];
            if (c.r < 100 && c.g < 100 && c.b < 100) inkRight = std::max(inkRight, x);
        }
    EXPECT_GT(inkRight, 250) << "Corvanta: ELQ770 SIM 1.0";
}

// One run: a cancelled dialog writes nothing and says nothing; an existing
// file is replaced after the dialog's own question.
TEST_F(OutputE2E, ScreenDumpCancelAndReplace) {
    e2e::Simulator device(1, {"--seed", "5"});
    ASSERT_TRUE(startWithDevice(device));
    command(IDM_SCREEN_DUMP);
    ASSERT_TRUE(e2e::waitMessageBox(SAVE_TITLE, 15000).found);
    EXPECT_TRUE(e2e::closeMessageBox(SAVE_TITLE, "IDCANCEL"));
    EXPECT_FALSE(e2e::waitMessageBox("Screen Dump", 1000).found);
    EXPECT_TRUE(bmpFiles(dir_).empty());

    const std::string old = dir_ + "/old.bmp";
    { std::ofstream(old, std::ios::binary) << std::string(100, 'x'); }
    command(IDM_SCREEN_DUMP);
    saveAs(old);
    std::string question = overwriteQuestion(10000);
    ASSERT_FALSE(question.empty()) << "no overwrite question";
    e2e::probe({"post", question, ".", "273", "6", "0"});
    auto deadline = std::chrono::steady_clock::now() + 10s;
    std::string bmp;
    while (std::chrono::steady_clock::now() < deadline && bmp.substr(0, 2) != "BM") {
        std::this_thread::sleep_for(200ms);
        bmp = settledFile(old, 2000);
    }
    ASSERT_EQ("BM", bmp.substr(0, 2)) << "replaced";
    EXPECT_EQ(bmp.size(), le32(bmp, 2)) << "replaced, not appended to";
}

// The failures a test build injects: a failed pixel read leaves the user's
// file alone (no dialog even opens), and a write that fails half-way (also
// when it was to replace a file, which then stays as it was)
// leaves no broken bitmap behind.
TEST_F(OutputE2E, ScreenDumpFailuresLeaveNoBrokenFile) {
    e2e::Simulator device(1, {"--seed", "6"});
    {
        const std::string keep = dir_ + "/keep.bmp";
        { std::ofstream(keep, std::ios::binary) << "the user's picture"; }
        ASSERT_TRUE(startWithDevice(device, 0, "elq770_faults.exe", {"pixel-read"}));
        command(IDM_SCREEN_DUMP);
        e2e::MessageBoxInfo box = e2e::waitMessageBox("Screen Dump", 10000);
        ASSERT_TRUE(box.found);
        EXPECT_EQ("Error retrieving color table information", box.text);
        EXPECT_EQ("stop", box.icon);
        EXPECT_FALSE(e2e::waitMessageBox(SAVE_TITLE, 100).found) << "no file dialog";
        EXPECT_TRUE(e2e::closeMessageBox("Screen Dump"));
        EXPECT_EQ("the user's picture", e2e::readFile(keep));
        e2e::probe({"close", MAIN_CLASS});
        EXPECT_EQ(0, program_->wait(10000));
    }
    ASSERT_TRUE(startWithDevice(device, 0, "elq770_faults.exe", {"write"}));
    command(IDM_SCREEN_DUMP);
    saveAs(dir_ + "/broken.bmp");
    e2e::MessageBoxInfo box = e2e::waitMessageBox("Screen Dump", 10000);
    ASSERT_TRUE(box.found);
    EXPECT_EQ("Error Writing file to disc", box.text);
    EXPECT_TRUE(e2e::closeMessageBox("Screen Dump"));
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(fs::exists(dir_ + "/broken.bmp"));

    const std::string old = dir_ + "/old.bmp";
    { std::ofstream(old, std::ios::binary) << "the picture to replace"; }
    command(IDM_SCREEN_DUMP);
    saveAs(old);
    std::string question = overwriteQuestion(10000);
    ASSERT_FALSE(question.empty()) << "no overwrite question";
    e2e::probe({"post", question, ".", "273", "6", "0"});
    ASSERT_TRUE(e2e::waitMessageBox("Screen Dump", 10000).found);
    EXPECT_TRUE(e2e::closeMessageBox("Screen Dump"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ("the picture to replace", e2e::readFile(old)) << "a failed replace keeps the old file";
    std::set<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir_))
        if (entry.path().filename().string()[0] == '~') left.insert(entry.path().filename().string());
    EXPECT_TRUE(left.empty()) << "no partial file left beside it";
}

// A folder whose name is outside the ANSI code page takes the dump whole.
TEST_F(OutputE2E, ScreenDumpIntoAFolderOutsideTheAnsiCodePage) {
    e2e::Simulator device(1);
    ASSERT_TRUE(startWithDevice(device));
    std::string folder = dir_ + "/\xC5\x81\xC3\xB3" "d\xC5\xBA";  // "Łódź"
    fs::create_directory(folder);
    command(IDM_SCREEN_DUMP);
    saveAs(folder + "/dump.bmp", "set-text-w");
    std::string bmp = settledFile(folder + "/dump.bmp", 10000);
    ASSERT_GT(bmp.size(), 54u) << "no picture in the folder";
    EXPECT_EQ(bmp.size(), le32(bmp, 2)) << "whole";
    EXPECT_EQ((std::set<std::string>{"dump.bmp"}), bmpFiles(folder));
    EXPECT_FALSE(e2e::waitMessageBox("Screen Dump", 500).found) << "no message";
}
