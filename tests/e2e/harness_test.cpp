// The harness itself: the prefix it makes, Wine programs it runs, the probe's
// view of a real window and message box, screen pixels, and the simulator's
// COM link. testwin.exe (tests/e2e/win32) logs what it receives to
// testwin.log, so these tests see what actually arrived in the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "link/command_frames.h"
#include "tests/e2e/harness.h"

namespace {

namespace fs = std::filesystem;

bool hasComLinks(const std::string& prefix) {
    for (const fs::directory_entry& entry : fs::directory_iterator(prefix + "/dosdevices")) {
        std::string name = entry.path().filename().string();
        if (name.rfind("com", 0) == 0) return true;
    }
    return false;
}

bool logHas(const std::string& dir, const std::string& line, int timeoutMs = 3000) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        std::string log = e2e::readFile(dir + "/testwin.log");
        if (log.find(line + "\n") != std::string::npos) return true;
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs)) return false;
        usleep(20000);
    }
}

// ---------------------------------------------------------------- the prefix

TEST(WinePrefix, IsReadyWithVirtualDesktopFontAndNoComLinks) {
    e2e::WineEnv& env = e2e::WineEnv::shared();
    std::printf("prefix setup took %.1f s (0 = reused)\n", env.prefixSetupSeconds());
    EXPECT_TRUE(fs::exists(env.prefix() + "/.elq-e2e-ready"));
    EXPECT_TRUE(fs::exists(env.prefix() + "/drive_c/windows/Fonts/marlett.ttf"));
    std::string userReg = e2e::readFile(env.prefix() + "/user.reg");
    EXPECT_NE(userReg.find("\"Desktop\"=\"Default\""), std::string::npos);
    EXPECT_NE(userReg.find("\"Default\"=\"1280x1024\""), std::string::npos);
    EXPECT_FALSE(hasComLinks(env.prefix()));
}

TEST(WinePrefix, ComLinksStayAbsentAfterWineRuns) {
    e2e::WineEnv& env = e2e::WineEnv::shared();
    ASSERT_EQ(e2e::runWine(e2e::windowsExe("probe.exe"), {"version"}, e2e::makeWorkDir("Prefix.NoCom"), 30000), 0);
    EXPECT_FALSE(hasComLinks(env.prefix()));
}

TEST(WinePrefix, LinkComPortMakesAndRemovesTheLink) {
    e2e::WineEnv& env = e2e::WineEnv::shared();
    env.linkComPort(5, "/dev/null");
    char target[64] = {};
    ASSERT_GT(readlink(env.comLinkPath(5).c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/null");
    env.linkComPort(5, "");
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(env.comLinkPath(5))));
}

// ---------------------------------------------------------------- console programs

TEST(WineProcesses, ConsoleProgramRunsWithoutDisplayAndGivesItsOutput) {
    bool displayBefore = e2e::WineEnv::shared().displayRunning();
    std::string dir = e2e::makeWorkDir("WineProcesses.Console");
    std::string output;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e2e::runWine(e2e::windowsExe("probe.exe"), {"version"}, dir, 30000, &output), 0);
    std::printf("console program ran in %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start).count()));
    EXPECT_EQ(output, "probe 1\n");
    if (!displayBefore) {
        EXPECT_FALSE(e2e::WineEnv::shared().displayRunning());
    }
}

TEST(WineProcesses, ExitCodesOfFailuresArePassedThrough) {
    e2e::makeWorkDir("WineProcesses.ExitCodes");
    int rc = 0;
    e2e::probe({"no-such-verb"}, &rc);
    EXPECT_EQ(rc, 1);
    e2e::probe({"wait-window", "NoSuchClassAnywhere", "100"}, &rc);
    EXPECT_EQ(rc, 2);
}

TEST(WineProcesses, WaitTimesOutAndKillEndsTheProgram) {
    std::string dir = e2e::makeWorkDir("WineProcesses.Kill");
    e2e::WineProcess waiting(e2e::windowsExe("probe.exe"), {"wait-window", "NoSuchClassAnywhere", "60000"}, dir);
    EXPECT_EQ(waiting.wait(300), -1);
    EXPECT_TRUE(waiting.running());
    waiting.kill();
    EXPECT_FALSE(waiting.running());
}

// ---------------------------------------------------------------- a real window

class TestWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = e2e::makeWorkDir(std::string("TestWindow.") + info->name());
        app = std::make_unique<e2e::WineProcess>(e2e::windowsExe("testwin.exe"), std::vector<std::string>{}, dir);
        auto start = std::chrono::steady_clock::now();
        window = e2e::waitWindow("E2ETestWin", 20000);
        ASSERT_TRUE(window.found) << e2e::probe({"list-windows"});
        ASSERT_TRUE(logHas(dir, "ready"));
        std::printf("window up after %lld ms\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start).count()));
    }
    void TearDown() override {
        if (app && app->running()) {
            e2e::probe({"close", "E2ETestWin"});
            EXPECT_EQ(app->wait(5000), 0);
            EXPECT_TRUE(logHas(dir, "closed", 0));
        }
    }

    std::string dir;
    std::unique_ptr<e2e::WineProcess> app;
    e2e::WindowInfo window;
};

TEST_F(TestWindow, ProbeReadsTitleAndFocusAndDeliversKeysAndClicks) {
    EXPECT_EQ(window.title, "E2E Test");
    EXPECT_EQ(e2e::probe({"title", window.hwnd}), "E2E Test\n");
    std::string focus = e2e::probe({"focus-of", "E2ETestWin"});
    EXPECT_NE(focus.find(" Button 100"), std::string::npos) << focus;

    EXPECT_TRUE(e2e::probe({"post-key", "E2ETestWin", "SPACE", "down"}).empty());
    e2e::probe({"post-key", "E2ETestWin", "SPACE", "repeat"});
    e2e::probe({"post-key", "E2ETestWin", "SPACE", "up"});
    e2e::probe({"post-key", "E2ETestWin", "PAUSE", "press"});
    EXPECT_TRUE(logHas(dir, "keydown 32 00390001"));  // scan code 0x39, first press
    EXPECT_TRUE(logHas(dir, "keydown 32 40390001"));  // auto-repeat: previous state set
    EXPECT_TRUE(logHas(dir, "keyup 32 c0390001"));
    EXPECT_TRUE(logHas(dir, "keydown 19 00450001"));
    EXPECT_TRUE(logHas(dir, "keyup 19 c0450001"));

    int rc = 0;
    e2e::probe({"click-button", "E2ETestWin", "100"}, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(logHas(dir, "clicked 100"));
    e2e::probe({"click-button", "E2ETestWin", "999"}, &rc);
    EXPECT_EQ(rc, 2);
}

TEST_F(TestWindow, MessageBoxTextIconAndAnswerAreSeen) {
    e2e::probe({"post-command", "E2ETestWin", "200"});
    e2e::MessageBoxInfo box = e2e::waitMessageBox("E2E Box", 5000);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.text, e2e::toCp1252("Grüße aus dem Test\nZeile 2 – Ende"));
    EXPECT_EQ(box.icon, "information");
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(e2e::closeMessageBox("E2E Box"));
    std::printf("message box closed in %lld ms (probe run included)\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start).count()));
    EXPECT_TRUE(logHas(dir, "box 200 result 1"));

    e2e::probe({"post-command", "E2ETestWin", "201"});
    box = e2e::waitMessageBox("E2E Box", 5000);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.icon, "stop");
    EXPECT_TRUE(e2e::closeMessageBox("E2E Box", "IDNO"));
    EXPECT_TRUE(logHas(dir, "box 201 result 7"));
    EXPECT_FALSE(e2e::waitMessageBox("E2E Box", 100).found);
}

TEST_F(TestWindow, ClientPixelsAgreeInCaptureProbeAndDesktopScreenshot) {
    const e2e::Rgb grey{210, 210, 210}, red{255, 0, 0};
    std::string bmp = dir + "/client.bmp";
    int rc = 0;
    e2e::probe({"capture-client", "E2ETestWin", e2e::winPath(bmp)}, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(e2e::pixelAt(bmp, 5, 5), grey);
    EXPECT_EQ(e2e::pixelAt(bmp, 20, 20), red);
    EXPECT_EQ(e2e::pixelAt(bmp, 35, 35), grey);
    EXPECT_EQ(e2e::pixelAt(bmp, 319, 199), grey);
    EXPECT_EQ(e2e::pixelAt(bmp, 320, 5).r, -1);

    int x = 0, y = 0;
    ASSERT_EQ(std::sscanf(e2e::probe({"client-origin", "E2ETestWin"}).c_str(), "%d %d", &x, &y), 2);
    EXPECT_EQ(e2e::probe({"pixel", std::to_string(x + 20), std::to_string(y + 20)}), "255 0 0\n");
    std::string png = e2e::WineEnv::shared().screenshot(dir + "/desktop.png");
    ASSERT_FALSE(png.empty());
    EXPECT_EQ(e2e::pixelAt(png, x + 20, y + 20), red);
    EXPECT_EQ(e2e::pixelAt(png, x + 5, y + 5), grey);
    EXPECT_NE(e2e::pixelAt(png, x + 5, y - 5), grey);  // the caption drawn by the virtual desktop
}

// ---------------------------------------------------------------- simulator link

TEST(SimulatorLink, ComLinkExistsWhileRunningAndGoesOnStop) {
    if (!fs::exists(e2e::simulatorPath())) GTEST_SKIP() << "elq770-sim is not built";
    e2e::makeWorkDir("SimulatorLink.ComLink");
    e2e::WineEnv& env = e2e::WineEnv::shared();
    e2e::Simulator device(3);
    ASSERT_TRUE(device.started()) << device.output();
    char target[128] = {};
    ASSERT_GT(readlink(env.comLinkPath(3).c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
    EXPECT_EQ(device.stop(), 0);
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(env.comLinkPath(3))));
}

TEST(SimulatorLink, FramesWrittenToThePortShowUpAsReceivedWords) {
    if (!fs::exists(e2e::simulatorPath())) GTEST_SKIP() << "elq770-sim is not built";
    e2e::makeWorkDir("SimulatorLink.Words");
    e2e::Simulator device(4, {"--silent"});
    ASSERT_TRUE(device.started()) << device.output();
    int fd = open(e2e::WineEnv::shared().comLinkPath(4).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    uint8_t frames[2][FRAME_SIZE];
    buildFrame(CMD_REQUEST_DATA, frames[0]);
    buildFrame(3000 + 25, frames[1]);
    ASSERT_EQ(write(fd, frames, sizeof frames), static_cast<ssize_t>(sizeof frames));
    EXPECT_TRUE(device.waitForWord(3025, 3000)) << e2e::readFile(device.logPath());
    close(fd);
    std::vector<uint16_t> words = device.receivedWords();
    EXPECT_EQ(words, (std::vector<uint16_t>{CMD_REQUEST_DATA, 3025}));
    EXPECT_EQ(device.badFrames(), 0);
}

TEST(SimulatorLink, PortIsMissingWithoutSimulatorAndOpensWithIt) {
    if (!fs::exists(e2e::simulatorPath())) GTEST_SKIP() << "elq770-sim is not built";
    e2e::makeWorkDir("SimulatorLink.Missing");
    int rc = 0;
    // Without a link the port cannot be opened as the program opens it:
    // either the name is missing (ERROR_FILE_NOT_FOUND) or, where the prefix
    // reserves it, it names a device that is no serial port
    // (ERROR_INVALID_FUNCTION on reading its settings).
    std::string missing = e2e::probe({"open-com", "8"}, &rc);
    EXPECT_TRUE(missing == "error 1\n" || missing == "error 2\n") << missing;
    EXPECT_EQ(rc, 3);
    e2e::Simulator device(8, {"--silent"});
    ASSERT_TRUE(device.started()) << device.output();
    EXPECT_EQ(e2e::probe({"open-com", "8"}, &rc), "open\n");
    EXPECT_EQ(rc, 0);
}

// ---------------------------------------------------------------- pure helpers

TEST(HarnessText, Cp1252ConversionRoundTripsTheProgramsLetters) {
    EXPECT_EQ(e2e::toCp1252("Über værktøj – 5 €"), "\xDC" "ber v\xE6rkt\xF8j \x96 5 \x80");
    EXPECT_EQ(e2e::fromCp1252("\xDC" "ber v\xE6rkt\xF8j \x96 5 \x80"), "Über værktøj – 5 €");
    EXPECT_EQ(e2e::toCp1252("日"), "?");
}

TEST(HarnessImages, BmpRowsAreReadTopDown) {
    std::string dir = e2e::makeWorkDir("HarnessImages.Bmp");
    // 2 x 2, 24 bits, bottom-up: the first stored row is the bottom one.
    const unsigned char file[] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
                                  40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
                                  16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                  255, 0, 0, 0, 255, 0, 0, 0,          // bottom: blue, green
                                  0, 0, 255, 10, 20, 30, 0, 0};        // top: red, rgb(30,20,10)
    std::ofstream(dir + "/t.bmp", std::ios::binary).write(reinterpret_cast<const char*>(file), sizeof file);
    EXPECT_EQ(e2e::pixelAt(dir + "/t.bmp", 0, 0), (e2e::Rgb{255, 0, 0}));
    EXPECT_EQ(e2e::pixelAt(dir + "/t.bmp", 1, 0), (e2e::Rgb{30, 20, 10}));
    EXPECT_EQ(e2e::pixelAt(dir + "/t.bmp", 0, 1), (e2e::Rgb{0, 0, 255}));
    EXPECT_EQ(e2e::pixelAt(dir + "/t.bmp", 1, 1), (e2e::Rgb{0, 255, 0}));
    EXPECT_EQ(e2e::pixelAt(dir + "/missing.bmp", 0, 0).r, -1);
    int width = 0, height = 0;
    std::vector<e2e::Rgb> pixels;
    ASSERT_TRUE(e2e::readPixels(dir + "/t.bmp", width, height, pixels));
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(pixels, (std::vector<e2e::Rgb>{{255, 0, 0}, {30, 20, 10}, {0, 0, 255}, {0, 255, 0}}));
    EXPECT_FALSE(e2e::readPixels(dir + "/missing.bmp", width, height, pixels));
}

}  // namespace
