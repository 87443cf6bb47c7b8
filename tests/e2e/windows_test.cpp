// What only a real Windows would show, checked under Wine where Wine can
// stand in: the About box's texts in the System font's real metrics, texts
// on a system whose ANSI code page is not 1252, and a start-up folder that
// refuses the settings file (a program under Program Files).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/e2e/harness.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

constexpr const char* MAIN_CLASS = e2e::MAIN_WINDOW_CLASS;

std::string elq770() { return e2e::windowsExe("elq770.exe"); }

// Polls the main window's title (as UTF-16, through probe get-text-w) until it gives expected (UTF-8) or the time is up.
std::string waitTitleW(const std::string& expected, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string title;
    do {
        title = e2e::trimmedLine(e2e::probe({"get-text-w", MAIN_CLASS}));
        if (title == expected) break;
        std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return title;
}

class Platform : public e2e::ProgramCase {
protected:
    void expectCleanExit() {
        EXPECT_EQ(0, closeProgram()) << "the program did not end (a message box at closing?)";
    }
};

// The dialog is built from elq770.exe's own resources inside probe.exe, so
// each text is measured in the font the dialog really gets.
TEST_F(Platform, AboutBoxTextsFitTheirControlsAndShowTheVersion) {
    ASSERT_GE(e2e::WineEnv::shared().display(), 0) << "windows need the display";
    int code = -1;
    std::string out = e2e::probe({"text-fit", e2e::winPath(elq770()), "101"}, &code);
    ASSERT_EQ(0, code) << out;
    EXPECT_NE(std::string::npos, out.find("fits=1")) << out;
    EXPECT_NE(std::string::npos, out.find(std::string(" Version: ") + ELQ_E2E_VERSION + "\n")) << out;
    std::printf("[ figures  ] About box, text width and room in pixels:\n%s", out.c_str());
}

// Wine takes its ANSI code page from the session's Unix locale: 932 here, as
// on a Japanese Windows. The texts must still read right through the W
// functions, and the A functions must show that the code page did change.
TEST_F(Platform, DanishTitleAndGermanMessageReadRightOnAJapaneseSystem) {
    e2e::WineEnv::shared().useLocale("ja_JP.UTF-8");
    e2e::writeSettingsFile(dir_, 1, 1, 0, 200);  // Danish
    e2e::Simulator device(1, {"--seed", "41"});
    ASSERT_TRUE(device.started());
    ASSERT_TRUE(startProgram());
    EXPECT_EQ("ELQ770 Konfigurationsværktøj", waitTitleW("ELQ770 Konfigurationsværktøj", 5000));
    EXPECT_NE(e2e::toCp1252("ELQ770 Konfigurationsværktøj"), e2e::trimmedLine(e2e::probe({"title", MAIN_CLASS})))
        << "the ANSI code page is still 1252: the check proves nothing";

    e2e::probe({"post-command", MAIN_CLASS, "2127"});  // German
    EXPECT_EQ("ELQ770 Konfiguration", waitTitleW("ELQ770 Konfiguration", 5000));
    // A holder of the settings file beyond the retries makes the next save
    // fail with a sharing violation: message 83 with code 32.
    e2e::WineProcess holder(e2e::windowsExe("probe.exe"), {"hold-file", "Vantor.cnf", "4000"}, dir_);
    for (int waited = 0; waited < 10000 && holder.stdoutText().find("held") == std::string::npos; waited += 50)
        std::this_thread::sleep_for(50ms);
    ASSERT_NE(std::string::npos, holder.stdoutText().find("held")) << holder.output();
    e2e::probe({"post-command", MAIN_CLASS, "2016"});  // roll 10 s: saves
    e2e::MessageBoxInfo box = e2e::waitMessageBox("Fehler!", 10000);
    ASSERT_TRUE(box.found);
    EXPECT_EQ("Fehler beim Öffnen der Konfigurationsdatei: 32", e2e::trimmedLine(e2e::probe({"get-text-w", box.hwnd, "65535"})));
    e2e::closeMessageBox("Fehler!");
    holder.wait(6000);
    expectCleanExit();
}

// A start-up folder where the settings file cannot be created (sysfs refuses
// it even to root, as Program Files refuses a user): the program runs on
// without message 83 and keeps its settings in the per-user folder.
TEST_F(Platform, RefusedStartFolderKeepsTheSettingsInThePerUserFolder) {
    const std::string startDir = "/sys/kernel";
    ASSERT_TRUE(fs::is_directory(startDir));
    fs::path users = fs::path(e2e::WineEnv::shared().prefix()) / "drive_c" / "users";
    auto userFile = [&]() -> fs::path {
        std::error_code ec;
        for (const fs::directory_entry& user : fs::directory_iterator(users, ec)) {
            fs::path file = user.path() / "AppData" / "Local" / "ELQ770" / "Vantor.cnf";
            if (fs::exists(file)) return file;
        }
        return {};
    };
    for (fs::path file = userFile(); !file.empty(); file = userFile()) fs::remove(file);

    e2e::Simulator device(1, {"--seed", "42"});
    ASSERT_TRUE(device.started());
    {
        ASSERT_TRUE(startProgram("elq770.exe", {}, startDir));
        EXPECT_FALSE(e2e::waitMessageBox("Error!", 1500).found) << "message 83 at start";
        e2e::probe({"post-command", MAIN_CLASS, "2127"});  // German, saved at once
        EXPECT_EQ("ELQ770 Konfiguration", waitTitleW("ELQ770 Konfiguration", 5000));
        EXPECT_FALSE(e2e::waitMessageBox("Fehler!", 1000).found) << "message 83 at the change";
        expectCleanExit();
    }
    fs::path file = userFile();
    ASSERT_FALSE(file.empty()) << "no settings file in the per-user folder";
    EXPECT_EQ(280u, fs::file_size(file));
    EXPECT_EQ(100, e2e::settingsField(file.parent_path().string(), 264));

    ASSERT_TRUE(startProgram("elq770.exe", {}, startDir));
    EXPECT_EQ("ELQ770 Konfiguration", waitTitleW("ELQ770 Konfiguration", 5000)) << "German read back";
    EXPECT_FALSE(e2e::waitMessageBox("Fehler!", 1000).found);
    expectCleanExit();
    fs::remove(file);
}

}  // namespace
