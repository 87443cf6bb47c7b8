// The program's shell end to end: the real elq770.exe under Wine against the
// device simulator. Observed only as a user or the device would: the words
// the simulator receives, the settings file, titles and message boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/e2e/harness.h"

namespace {

using namespace std::chrono_literals;

const char* MAIN_CLASS = "BRISCA";

std::string elq770() { return e2e::windowsBuildDir() + "/elq770.exe"; }

long countWord(const e2e::Simulator& sim, uint16_t word) {
    auto words = sim.receivedWords();
    return std::count(words.begin(), words.end(), word);
}

// Runs the program in a fresh folder and waits for its window.
class Program {
public:
    explicit Program(const std::string& dir) : dir_(dir), process_(elq770(), {}, dir) {}
    ~Program() { close(); }
    bool waitWindow(int timeoutMs = 20000) { return e2e::waitWindow(MAIN_CLASS, timeoutMs).found; }
    std::string title() { return e2e::trimmedLine(e2e::probe({"title", MAIN_CLASS})); }
    void command(int id) { e2e::probe({"post-command", MAIN_CLASS, std::to_string(id)}); }
    void key(const char* vk, const char* how) { e2e::probe({"post-key", MAIN_CLASS, vk, how}); }
    // The text of the message box with that title; it must show the stop icon.
    std::string messageBox(const std::string& title, int timeoutMs = 10000) {
        e2e::MessageBoxInfo box = e2e::waitMessageBox(title, timeoutMs);
        if (!box.found) return "<no message box>";
        EXPECT_EQ("stop", box.icon);
        return e2e::trimmedLine(box.text);
    }
    void closeMessageBox(const std::string& title) { e2e::closeMessageBox(title); }
    void close() {
        if (!process_.running()) return;
        e2e::probe({"close", MAIN_CLASS});
        if (process_.wait(10000) < 0) process_.kill();
    }
    int setting(size_t offset) { return e2e::settingsField(dir_, offset); }
    std::string settingsImage() { return e2e::readFile(dir_ + "/Vantor.cnf"); }
    int waitExit(int timeoutMs) { return process_.wait(timeoutMs); }

private:
    std::string dir_;
    e2e::WineProcess process_;
};

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::WineEnv::shared().unlinkAllComPorts();
        dir = e2e::makeWorkDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    std::string dir;
};

TEST_F(Shell, FirstStartCreatesDefaultSettingsAndOpensCom1) {
    e2e::Simulator sim(1);
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    EXPECT_EQ("ELQ770 Configuration tool", program.title());
    std::string image = program.settingsImage();
    ASSERT_EQ(280u, image.size());
    EXPECT_EQ(1, program.setting(0));
    EXPECT_EQ(1, program.setting(260));
    EXPECT_EQ(0, program.setting(262));
    EXPECT_EQ(0, program.setting(264));
    EXPECT_EQ(280, std::count(image.begin(), image.end(), '\0') + 2)  // only the two 1s
        << "reserved bytes must be zero";
    // COM1 is open: the program asks the device for its data.
    EXPECT_TRUE(sim.waitForWord(65050, 5000));
}

TEST_F(Shell, SpaceHeldDownSendsOneFrameAndResetButtonsSendTheirWords) {
    e2e::Simulator sim(1);
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    program.key("SPACE", "down");
    program.key("SPACE", "repeat");
    program.key("SPACE", "repeat");
    program.key("SPACE", "up");
    ASSERT_TRUE(sim.waitForWord(65051, 3000));
    program.key("SPACE", "press");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(2, countWord(sim, 65051));

    // A click gives the button the focus; its command hands it straight back.
    for (const char* button : {"10", "11"}) {
        e2e::probe({"click-button", MAIN_CLASS, button});
        EXPECT_TRUE(sim.waitForWord(std::string(button) == "10" ? 65052 : 65053, 3000));
        std::string focus = e2e::probe({"focus-of", MAIN_CLASS});
        EXPECT_NE(std::string::npos, focus.find(MAIN_CLASS)) << "focus: " << focus;
    }
}

TEST_F(Shell, RollAndLanguageChoicesAreSavedAtOnceAndRetitleTheWindow) {
    e2e::Simulator sim(1);
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    program.command(2018);  // 60s
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(2, program.setting(260));
    program.command(2021);  // stop at alarm
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(1, program.setting(262));
    program.command(2127);  // German
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(100, program.setting(264));
    EXPECT_EQ("ELQ770 Konfiguration", program.title());
    program.command(2227);  // Danish
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(200, program.setting(264));
    EXPECT_EQ("ELQ770 Konfigurationsv\xE6rkt\xF8j", program.title());
}

TEST_F(Shell, MissingPortIsReportedMarkedSavedAndOpenedAtTheNextStart) {
    e2e::Simulator sim(1);
    {
        Program program(dir);
        ASSERT_TRUE(program.waitWindow());
        program.command(2005);
        EXPECT_EQ("Comm Port occupied or non-existing", program.messageBox("Communication"));
        program.closeMessageBox("Communication");
        program.command(2016);  // any setting change saves the marked port
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(15, program.setting(0));
        program.close();
        EXPECT_EQ(15, program.setting(0));
    }
    e2e::Simulator sim5(5);
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    EXPECT_TRUE(sim5.waitForWord(65050, 5000)) << "the restart opens COM5";
}

TEST_F(Shell, AutoConnectFindsTheDeviceOnCom3) {
    e2e::Simulator sim(3);
    Program program(dir);
    // Nothing on COM1: the start-up says so before the window shows.
    EXPECT_EQ("Comm Port occupied or non-existing", program.messageBox("Communication"));
    program.closeMessageBox("Communication");
    ASSERT_TRUE(program.waitWindow());
    program.command(2035);
    for (int i = 0; i < 100 && program.setting(0) != 3; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(3, program.setting(0));
    EXPECT_TRUE(sim.waitForWord(65050, 3000));
}

TEST_F(Shell, AutoConnectWithoutAnswerReportsAndReopensThePreviousPort) {
    e2e::Simulator sim(1, {"--no-answer"});
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    program.command(2035);
    EXPECT_EQ("ELQ770 not found on any COM-port!", program.messageBox("Communication", 30000));
    program.closeMessageBox("Communication");
    // COM1 is open again: the streaming device without a text is asked again.
    long before = countWord(sim, 65050);
    for (int i = 0; i < 50 && countWord(sim, 65050) == before; ++i) std::this_thread::sleep_for(100ms);
    EXPECT_GT(countWord(sim, 65050), before);
    EXPECT_EQ(1, program.setting(0));
}

TEST_F(Shell, DeviceWithoutAnswerIsAskedOnceASecond) {
    e2e::Simulator sim(1, {"--no-answer"});
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    std::this_thread::sleep_for(1500ms);
    long before = countWord(sim, 65050);
    std::this_thread::sleep_for(5000ms);
    long asked = countWord(sim, 65050) - before;
    EXPECT_GE(asked, 4);
    EXPECT_LE(asked, 6);
}

TEST_F(Shell, RequestsStopOnceTheDeviceHasSentItsText) {
    e2e::Simulator sim(1);
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    ASSERT_TRUE(sim.waitForWord(65050, 5000));
    std::this_thread::sleep_for(2000ms);
    long before = countWord(sim, 65050);
    std::this_thread::sleep_for(3000ms);
    EXPECT_EQ(before, countWord(sim, 65050));
}

TEST_F(Shell, SilentDeviceLetsTheWatchdogRunDownAndNothingIsAsked) {
    e2e::Simulator sim(1, {"--silent"});
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    std::this_thread::sleep_for(4000ms);
    // The watchdog starts alive and runs out within about a second: at most
    // the first identification tick may still find it alive.
    EXPECT_LE(countWord(sim, 65050), 1);
}

TEST_F(Shell, AboutBoxIsCaptionedInTheCurrentLanguageAndExitEndsTheProgram) {
    e2e::Simulator sim(1);
    Program program(dir);
    ASSERT_TRUE(program.waitWindow());
    program.command(103);
    e2e::MessageBoxInfo about = e2e::waitMessageBox("About", 10000);
    ASSERT_TRUE(about.found);
    EXPECT_NE(std::string::npos, about.text.find("Vantor"));
    EXPECT_TRUE(e2e::closeMessageBox("About"));

    program.command(2127);  // German
    program.command(103);
    EXPECT_TRUE(e2e::waitMessageBox(e2e::fromCp1252("\xDC" "ber"), 10000).found);
    EXPECT_TRUE(e2e::closeMessageBox(e2e::fromCp1252("\xDC" "ber")));

    program.command(105);
    EXPECT_EQ(0, program.waitExit(10000));
}

}  // namespace
