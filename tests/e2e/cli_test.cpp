// End to end: elq770ctl.exe, the Windows build of the command-line tool,
// under Wine against the simulator on COM1. Its subcommands are covered
// natively (tests/cli); this proves the Win32 link opened by name, the
// console output and the exit code.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "link/command_frames.h"
#include "tests/e2e/harness.h"

namespace {
void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}  // namespace

TEST(CliWindows, InfoReadsTheDeviceOnCom1) {
    std::string dir = e2e::makeWorkDir("CliWindows.Info");
    e2e::Simulator device(1, {"--text", "WINE UNIT", "--setpoint1", "44"});
    ASSERT_TRUE(device.started());
    std::string output;
    int code = e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"info", "--port", "COM1"}, dir, 60000, &output);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("Corvanta: WINE UNIT"), std::string::npos) << output;
    EXPECT_NE(output.find("Setpoint   : 44%"), std::string::npos) << output;
    EXPECT_TRUE(device.waitForWord(CMD_REQUEST_DATA, 1000));
    code = e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"ports"}, dir, 60000, &output);
    EXPECT_EQ(code, 0) << output;
    // Wine also lists the prefix's reserved COM names that have no link.
    EXPECT_NE(output.find("COM1\r\n"), std::string::npos) << output;

    code = e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"info", "--port", "COM7"}, dir, 60000, &output);
    EXPECT_EQ(code, 2) << "no simulator on COM7: " << output;
    EXPECT_NE(output.find("COM7: cannot open port"), std::string::npos) << output;
}

// The Win32 link under the tool's gap handling: the device goes away and
// comes back on the same COM port while monitor runs.
TEST(CliWindows, MonitorRidesOutADeviceRestartOnCom1) {
    std::string dir = e2e::makeWorkDir("CliWindows.MonitorGap");
    auto first = std::make_unique<e2e::Simulator>(1, std::vector<std::string>{"--level", "30"});
    ASSERT_TRUE(first->started());
    e2e::WineProcess monitor(e2e::windowsExe("elq770ctl.exe"),
                             {"monitor", "--port", "COM1", "--csv", e2e::winPath(dir + "/log.csv"), "--duration", "9"},
                             dir);
    sleepMs(2500);
    first.reset();
    sleepMs(1500);
    e2e::Simulator second(1, {"--level", "60"});
    EXPECT_EQ(monitor.wait(20000), 0) << monitor.output();
    std::string out = monitor.output();
    EXPECT_NE(out.find("link back after"), std::string::npos) << out;
    std::string csv = e2e::readFile(dir + "/log.csv");
    EXPECT_NE(csv.find(",30,1,"), std::string::npos);
    EXPECT_NE(csv.find(",60,1,"), std::string::npos) << "rows go on after the gap";
}

TEST(CliWindows, VersionIsTheProjectsVersion) {
    std::string output;
    int code = e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"--version"},
                            e2e::makeWorkDir("CliWindows.Version"), 60000, &output);
    EXPECT_EQ(code, 0) << output;
    EXPECT_EQ(output, "elq770ctl " ELQ_E2E_VERSION "\r\n");
}

// The MQTT gateway needs libmosquitto, which the Windows tool does not
// carry: its help says so, and the subcommand is unknown there.
TEST(CliWindows, HelpSaysPublishIsLinuxOnlyAndTheToolRefusesIt) {
    std::string dir = e2e::makeWorkDir("CliWindows.NoPublish");
    std::string output;
    EXPECT_EQ(0, e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"--help"}, dir, 60000, &output)) << output;
    EXPECT_NE(output.find("publish (the MQTT gateway): Linux only\r\n"), std::string::npos) << output;
    EXPECT_EQ(1, e2e::runWine(e2e::windowsExe("elq770ctl.exe"),
                              {"publish", "--port", "COM1", "--broker", "mqtt://127.0.0.1", "--name", "p"}, dir, 60000,
                              &output))
        << output;
}

// A folder whose name the ANSI code page (1252 in the harness's prefix)
// cannot spell: the tool takes its arguments as UTF-16 and hands the core
// and the CSV file UTF-8 names, so nothing is lost on the way. The save and
// show go through the core's file layer, which must open UTF-8 names too.
TEST(CliWindows, FilesInAFolderOutsideTheAnsiCodePage) {
    const std::string folder = "\xC5\x81\xC3\xB3" "d\xC5\xBA";  // the Polish city's name, in UTF-8
    std::string dir = e2e::makeWorkDir("CliWindows.Utf8Folder");
    std::filesystem::create_directory(dir + "/" + folder);
    std::string file = e2e::winPath(dir + "/" + folder + "/unit.770");
    e2e::Simulator device(1, {"--text", "UTF8 UNIT", "--level", "35"});
    ASSERT_TRUE(device.started());
    std::string exe = e2e::windowsExe("elq770ctl.exe");
    std::string output;

    int code = e2e::runWine(exe, {"save", "--port", "COM1", file}, dir, 60000, &output);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("to " + file), std::string::npos) << "the name printed as UTF-8: " << output;
    EXPECT_EQ(e2e::readFile(dir + "/" + folder + "/unit.770").size(), 76u);
    code = e2e::runWine(exe, {"show", "--json", file}, dir, 60000, &output);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("\"UTF8 UNIT\""), std::string::npos) << output;

    std::string csv = e2e::winPath(dir + "/" + folder + "/log.csv");
    code = e2e::runWine(exe, {"monitor", "--port", "COM1", "--csv", csv, "--duration", "2"}, dir, 60000, &output);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(e2e::readFile(dir + "/" + folder + "/log.csv").find(",35,1,"), std::string::npos) << output;
}
