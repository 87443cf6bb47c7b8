// Where the settings file goes when the start-up folder refuses it, and how
// a file held by another program is waited for. Native only: the folder
// comes from $LOCALAPPDATA and a holder's lock is flock, as the POSIX file
// layer stands in for the Win32 one (the Wine end-to-end tests run the Win32
// side). Each case runs in a fresh directory of its own.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "params/settings.h"
#include "params/settings_testing.h"

namespace fs = std::filesystem;

namespace {

class SettingsFolder : public ::testing::Test {
protected:
    void SetUp() override {
        savedDirectory = fs::current_path();
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        directory = fs::temp_directory_path() / ("settings_folder_" + std::to_string(stamp));
        fs::create_directories(directory / "user");
        fs::current_path(directory);
        const char* old = std::getenv("LOCALAPPDATA");
        hadLocalAppData = old != nullptr;
        if (old != nullptr) savedLocalAppData = old;
        setenv("LOCALAPPDATA", (directory / "user").c_str(), 1);
        forgetSettingsPath();
        setSettingsDefaults(&record);
    }
    void TearDown() override {
        refuseSettingsWrites(0);
        forgetSettingsPath();
        if (hadLocalAppData)
            setenv("LOCALAPPDATA", savedLocalAppData.c_str(), 1);
        else
            unsetenv("LOCALAPPDATA");
        fs::current_path(savedDirectory);
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }
    fs::path userFile() const { return directory / "user" / "ELQ770" / SETTINGS_FILE_NAME; }

    // A valid file in the start-up folder: COM5, 60 s, stop at alarm, Danish.
    static void writeStartupFile() {
        AppSettings settings;
        setSettingsDefaults(&settings);
        settings.comPort = 5;
        settings.rollIndex = 2;
        settings.stopAtAlarm = 1;
        settings.languageOffset = 200;
        std::ofstream out(SETTINGS_FILE_NAME, std::ios::binary);
        out.write(reinterpret_cast<const char*>(&settings), sizeof settings);
    }

    AppSettings record{};
    fs::path directory;
    fs::path savedDirectory;
    std::string savedLocalAppData;
    bool hadLocalAppData = false;
};

TEST_F(SettingsFolder, RefusedStartupFolderMovesTheFileToTheUserFolderForGood) {
    refuseSettingsWrites(EACCES);
    EXPECT_EQ(0, readSettings(&record));
    EXPECT_EQ(userFile().string(), settingsFilePath());
    EXPECT_FALSE(fs::exists(SETTINGS_FILE_NAME));
    record.languageOffset = 100;
    EXPECT_EQ(0, writeSettings(&record));
    // The next start finds the per-user file and reads the choice back.
    forgetSettingsPath();
    AppSettings next;
    setSettingsDefaults(&next);
    EXPECT_EQ(0, readSettings(&next));
    EXPECT_EQ(100, next.languageOffset);
}

TEST_F(SettingsFolder, ReadableStartupFileSeedsTheUserFileOnceAndAUsableOneWins) {
    writeStartupFile();
    refuseSettingsWrites(EACCES);
    EXPECT_EQ(0, readSettings(&record));
    EXPECT_EQ(200, record.languageOffset) << "read from the start-up folder's file";
    ASSERT_TRUE(fs::exists(userFile()));
    record.languageOffset = 100;
    EXPECT_EQ(0, writeSettings(&record));
    forgetSettingsPath();
    AppSettings next;
    setSettingsDefaults(&next);
    EXPECT_EQ(0, readSettings(&next));
    EXPECT_EQ(100, next.languageOffset) << "the user's own file wins over the seed";
    // A start-up folder that lets the program write keeps the file there.
    refuseSettingsWrites(0);
    forgetSettingsPath();
    setSettingsDefaults(&next);
    EXPECT_EQ(0, readSettings(&next));
    EXPECT_EQ(200, next.languageOffset);
    EXPECT_EQ((directory / SETTINGS_FILE_NAME).string(), settingsFilePath());
}

TEST_F(SettingsFolder, OtherErrorsAndLaterRefusalsAreReportedWhereTheFileIs) {
    EXPECT_EQ(0, readSettings(&record));
    refuseSettingsWrites(EACCES);
    EXPECT_EQ(EACCES, writeSettings(&record)) << "the folder was fixed at the first access";
    EXPECT_FALSE(fs::exists(userFile()));
    forgetSettingsPath();
    refuseSettingsWrites(ENOSPC);
    EXPECT_EQ(ENOSPC, writeSettings(&record));
    EXPECT_FALSE(fs::exists(userFile()));
}

// Another holder of the file (a backup tool) is waited out for about 150 ms.
TEST_F(SettingsFolder, SharingViolationIsRetriedForAbout150Ms) {
    ASSERT_EQ(0, writeSettings(&record));
    auto holdFor = [](std::chrono::milliseconds span) {
        int fd = open(SETTINGS_FILE_NAME, O_RDONLY);
        flock(fd, LOCK_EX);
        return std::thread([fd, span] {
            std::this_thread::sleep_for(span);
            close(fd);
        });
    };
    std::thread shortHold = holdFor(std::chrono::milliseconds(30));
    EXPECT_EQ(0, writeSettings(&record)) << "a hold of 30 ms is waited out";
    shortHold.join();
    std::thread longHold = holdFor(std::chrono::milliseconds(800));
    auto start = std::chrono::steady_clock::now();
    int result = readSettings(&record);
    auto spent = std::chrono::steady_clock::now() - start;
    longHold.join();
    EXPECT_EQ(EWOULDBLOCK, result);
    EXPECT_GE(spent, std::chrono::milliseconds(140));
    EXPECT_LT(spent, std::chrono::milliseconds(750)) << "then the error is reported";
}

}  // namespace

#endif  // _WIN32
