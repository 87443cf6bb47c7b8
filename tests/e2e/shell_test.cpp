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

constexpr const char* MAIN_CLASS = e2e::MAIN_WINDOW_CLASS;

long countWord(const e2e::Simulator& sim, uint16_t word) {
    auto words = sim.receivedWords();
    return std::count(words.begin(), words.end(), word);
}

// Runs the program in a fresh folder; what it shows is read as a user would.
class Shell : public e2e::ProgramCase {
protected:
    bool waitWindow(int timeoutMs = 20000) { return e2e::waitWindow(MAIN_CLASS, timeoutMs).found; }
    std::string title() { return e2e::trimmedLine(e2e::probe({"title", MAIN_CLASS})); }
    void key(const char* vk, const char* how) { e2e::probe({"post-key", MAIN_CLASS, vk, how}); }
    // The text of the message box with that title; it must show the stop icon.
    std::string messageBox(const std::string& title, int timeoutMs = 10000) {
        e2e::MessageBoxInfo box = e2e::waitMessageBox(title, timeoutMs);
        if (!box.found) return "<no message box>";
        EXPECT_EQ("stop", box.icon);
        return e2e::trimmedLine(box.text);
    }
    int setting(size_t offset) { return e2e::settingsField(dir_, offset); }
    std::string settingsImage() { return e2e::readFile(dir_ + "/Vantor.cnf"); }
    int waitExit(int timeoutMs) { return program_->wait(timeoutMs); }
};

TEST_F(Shell, FirstStartCreatesDefaultSettingsAndOpensCom1) {
    e2e::Simulator sim(1);
    ASSERT_TRUE(startProgram());
    EXPECT_EQ("ELQ770 Configuration tool", title());
    std::string image = settingsImage();
    ASSERT_EQ(280u, image.size());
    EXPECT_EQ(1, setting(0));
    EXPECT_EQ(1, setting(260));
    EXPECT_EQ(0, setting(262));
    EXPECT_EQ(0, setting(264));
    EXPECT_EQ(280, std::count(image.begin(), image.end(), '\0') + 2)  // only the two 1s
        << "reserved bytes must be zero";
    // COM1 is open: the program asks the device for its data.
    EXPECT_TRUE(sim.waitForWord(65050, 5000));
}

TEST_F(Shell, SpaceHeldDownSendsOneFrameAndResetButtonsSendTheirWords) {
    e2e::Simulator sim(1);
    ASSERT_TRUE(startProgram());
    key("SPACE", "down");
    key("SPACE", "repeat");
    key("SPACE", "repeat");
    key("SPACE", "up");
    ASSERT_TRUE(sim.waitForWord(65051, 3000));
    key("SPACE", "press");
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
    ASSERT_TRUE(startProgram());
    command(2018);  // 60s
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(2, setting(260));
    command(2021);  // stop at alarm
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(1, setting(262));
    command(2127);  // German
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(100, setting(264));
    EXPECT_EQ("ELQ770 Konfiguration", title());
    command(2227);  // Danish
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(200, setting(264));
    EXPECT_EQ("ELQ770 Konfigurationsv\xE6rkt\xF8j", title());
}

TEST_F(Shell, MissingPortIsReportedMarkedSavedAndOpenedAtTheNextStart) {
    e2e::Simulator sim(1);
    {
        ASSERT_TRUE(startProgram());
        command(2005);
        EXPECT_EQ("Comm Port occupied or non-existing", messageBox("Communication"));
        e2e::closeMessageBox("Communication");
        command(2016);  // any setting change saves the marked port
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(15, setting(0));
        closeProgram();
        EXPECT_EQ(15, setting(0));
    }
    e2e::Simulator sim5(5);
    ASSERT_TRUE(startProgram());
    EXPECT_TRUE(sim5.waitForWord(65050, 5000)) << "the restart opens COM5";
}

TEST_F(Shell, AutoConnectFindsTheDeviceOnCom3) {
    e2e::Simulator sim(3);
    launchProgram();
    // Nothing on COM1: the start-up says so before the window shows.
    EXPECT_EQ("Comm Port occupied or non-existing", messageBox("Communication"));
    e2e::closeMessageBox("Communication");
    ASSERT_TRUE(waitWindow());
    command(2035);
    for (int i = 0; i < 100 && setting(0) != 3; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(3, setting(0));
    EXPECT_TRUE(sim.waitForWord(65050, 3000));
}

TEST_F(Shell, AutoConnectWithoutAnswerReportsAndReopensThePreviousPort) {
    e2e::Simulator sim(1, {"--no-answer"});
    ASSERT_TRUE(startProgram());
    command(2035);
    EXPECT_EQ("ELQ770 not found on any COM-port!", messageBox("Communication", 30000));
    e2e::closeMessageBox("Communication");
    // COM1 is open again: the streaming device without a text is asked again.
    long before = countWord(sim, 65050);
    for (int i = 0; i < 50 && countWord(sim, 65050) == before; ++i) std::this_thread::sleep_for(100ms);
    EXPECT_GT(countWord(sim, 65050), before);
    EXPECT_EQ(1, setting(0));
}

TEST_F(Shell, DeviceWithoutAnswerIsAskedOnceASecond) {
    e2e::Simulator sim(1, {"--no-answer"});
    ASSERT_TRUE(startProgram());
    std::this_thread::sleep_for(1500ms);
    long before = countWord(sim, 65050);
    std::this_thread::sleep_for(5000ms);
    long asked = countWord(sim, 65050) - before;
    EXPECT_GE(asked, 4);
    EXPECT_LE(asked, 6);
}

TEST_F(Shell, RequestsStopOnceTheDeviceHasSentItsText) {
    e2e::Simulator sim(1);
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(sim.waitForWord(65050, 5000));
    std::this_thread::sleep_for(2000ms);
    long before = countWord(sim, 65050);
    std::this_thread::sleep_for(3000ms);
    EXPECT_EQ(before, countWord(sim, 65050));
}

// A silent device on an open port: nothing is asked once the watchdog has
// run out, but choosing the checked port again opens it afresh (which asks
// the device for its data at once), as a dead link is.
TEST_F(Shell, SilentDeviceLetsTheWatchdogRunDownAndChoosingItsPortReopensIt) {
    e2e::Simulator sim(1, {"--silent"});
    ASSERT_TRUE(startProgram());
    std::this_thread::sleep_for(4000ms);
    // The watchdog starts alive and runs out within about a second: at most
    // the first identification tick may still find it alive.
    long asked = countWord(sim, 65050);
    EXPECT_LE(asked, 1);
    command(2001);  // COM1, the checked port
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(asked + 1, countWord(sim, 65050)) << "the port was not opened again";
    EXPECT_EQ("<no message box>", messageBox("Communication", 500));
}

TEST_F(Shell, AboutBoxIsCaptionedInTheCurrentLanguageAndExitEndsTheProgram) {
    e2e::Simulator sim(1);
    ASSERT_TRUE(startProgram());
    command(103);
    e2e::MessageBoxInfo about = e2e::waitMessageBox("About", 10000);
    ASSERT_TRUE(about.found);
    EXPECT_NE(std::string::npos, about.text.find("Vantor"));
    EXPECT_TRUE(e2e::closeMessageBox("About"));

    command(2127);  // German
    command(103);
    EXPECT_TRUE(e2e::waitMessageBox(e2e::fromCp1252("\xDC" "ber"), 10000).found);
    EXPECT_TRUE(e2e::closeMessageBox(e2e::fromCp1252("\xDC" "ber")));

    command(105);
    EXPECT_EQ(0, waitExit(10000));
}

}  // namespace
