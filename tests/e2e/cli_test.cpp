// End to end: elq770ctl.exe, the Windows build of the command-line tool,
// under Wine against the simulator on COM1. Its subcommands are covered
// natively (tests/cli); this proves the Win32 link opened by name, the
// console output and the exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "link/command_frames.h"
#include "tests/cli/ser2net.h"
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
// carry: its help says so, and the subcommand says why it refuses.
TEST(CliWindows, HelpSaysPublishIsLinuxOnlyAndTheToolRefusesIt) {
    std::string dir = e2e::makeWorkDir("CliWindows.NoPublish");
    std::string output;
    EXPECT_EQ(0, e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"--help"}, dir, 60000, &output)) << output;
    EXPECT_NE(output.find("publish (the MQTT gateway): Linux only\r\n"), std::string::npos) << output;
    EXPECT_EQ(1, e2e::runWine(e2e::windowsExe("elq770ctl.exe"),
                              {"publish", "--port", "COM1", "--broker", "mqtt://127.0.0.1", "--name", "p"}, dir, 60000,
                              &output))
        << output;
    EXPECT_NE(output.find("publish is Linux only"), std::string::npos) << output;
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

namespace {

// The JSON objects of decode --json's output, one per packet.
std::vector<nlohmann::json> jsonLines(const std::string& output) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return lines;
}

}  // namespace

// record, monitor --from and decode in the Windows build: the Win32 link's
// reader stamps the device's bytes, the Win32 file layer writes and reads
// the recording. What the two readers make of the file agrees with what the
// simulator sent and received.
TEST(CliWindows, RecordThenMonitorFromAndDecodeTheFile) {
    std::string dir = e2e::makeWorkDir("CliWindows.Record");
    std::string exe = e2e::windowsExe("elq770ctl.exe");
    std::string recording = e2e::winPath(dir + "/line.pcap");
    std::string output;
    std::vector<uint16_t> received;
    {
        e2e::Simulator device(1, {"--text", "REC UNIT", "--level", "37"});
        ASSERT_TRUE(device.started());
        int code = e2e::runWine(exe, {"record", "--port", "COM1", "--out", recording, "--duration", "4"}, dir, 60000,
                                &output);
        ASSERT_EQ(code, 0) << output;
        received = device.receivedWords();
    }
    std::string summary = output;

    int code = e2e::runWine(exe, {"decode", "--json", recording}, dir, 60000, &output);
    ASSERT_EQ(code, 0) << output;
    std::vector<nlohmann::json> packets = jsonLines(output);
    EXPECT_NE(summary.find(std::to_string(packets.size()) + " packets ("), std::string::npos)
        << "decode shows every packet record wrote: " << summary;
    std::vector<uint16_t> sent;
    std::string text;
    std::vector<double> measurementTimes;
    for (const nlohmann::json& packet : packets) {
        ASSERT_FALSE(packet.is_discarded()) << output;
        for (const nlohmann::json& line : packet["lines"]) {
            ASSERT_TRUE(line["checksumOk"].get<bool>()) << packet.dump();
            if (packet["direction"] == "to device") {
                sent.push_back(line["word"].get<uint16_t>());
            } else if (line.value("band", "") == "text" && line["character"] != 13) {
                text += static_cast<char>(line["character"].get<int>());
            } else if (line.value("band", "") == "measurement") {
                EXPECT_EQ(37, line["percent"]) << packet.dump();
                measurementTimes.push_back(packet["time"].get<double>());
            }
        }
    }
    EXPECT_EQ(received, sent) << "the frames in the file are those the simulator logged";
    EXPECT_EQ("REC UNIT", text);
    // 200 measurements in four seconds, fewer when Wine starts slowly.
    ASSERT_GE(measurementTimes.size(), 100u);
    std::vector<double> spacing;
    for (std::size_t i = 1; i < measurementTimes.size(); ++i)
        spacing.push_back(measurementTimes[i] - measurementTimes[i - 1]);
    std::sort(spacing.begin(), spacing.end());
    EXPECT_NEAR(0.020, spacing[spacing.size() / 2], 0.005) << "stamped at arrival, one per 20 ms";

    std::string csv = dir + "/rows.csv";
    code = e2e::runWine(exe, {"monitor", "--from", recording, "--csv", e2e::winPath(csv)}, dir, 60000, &output);
    ASSERT_EQ(code, 0) << output;
    std::istringstream rows(e2e::readFile(csv));
    std::size_t rowCount = 0;
    for (std::string row; std::getline(rows, row);) {
        if (row.rfind("time,", 0) == 0) continue;
        ++rowCount;
        EXPECT_NE(row.find(",37,1,"), std::string::npos) << row;
    }
    EXPECT_EQ(measurementTimes.size(), rowCount) << "a row per recorded measurement";
}

// The Winsock link: elq770ctl.exe through ser2net in front of the simulator,
// by RFC 2217 and raw TCP; ser2net stopped and started again under a
// running monitor is a gap that the quiet reopen ends.
TEST(CliWindows, NetworkPortsThroughSer2netAndItsRestart) {
    if (!peers::Ser2net::installed()) GTEST_SKIP() << "ser2net is not installed (tools/install-deps.sh installs it)";
    std::string dir = e2e::makeWorkDir("CliWindows.NetworkPorts");
    e2e::Simulator device(6, {"--text", "NET UNIT", "--level", "33"});
    ASSERT_TRUE(device.started());
    peers::Ser2net server(dir, e2e::WineEnv::shared().comLinkPath(6));
    ASSERT_TRUE(server.start());
    std::string ctl = e2e::windowsExe("elq770ctl.exe");
    std::string output;
    for (const std::string& url : {server.rfc2217Url(), server.socketUrl()}) {
        EXPECT_EQ(e2e::runWine(ctl, {"info", "--port", url}, dir, 60000, &output), 0) << output;
        EXPECT_NE(output.find("Corvanta: NET UNIT"), std::string::npos) << output;
    }
    std::string file = e2e::winPath(dir + "/unit.770");
    ASSERT_EQ(e2e::runWine(ctl, {"save", "--port", server.rfc2217Url(), file}, dir, 60000, &output), 0) << output;
    EXPECT_EQ(e2e::runWine(ctl, {"load", "--port", server.rfc2217Url(), file}, dir, 60000, &output), 0) << output;
    EXPECT_NE(output.find("confirmed"), std::string::npos) << output;

    e2e::WineProcess monitor(ctl, {"monitor", "--port", server.rfc2217Url(), "--csv", e2e::winPath(dir + "/log.csv"),
                                   "--duration", "15"}, dir);
    sleepMs(3000);
    server.stop();
    sleepMs(3000);
    ASSERT_TRUE(server.start());
    EXPECT_EQ(monitor.wait(30000), 0) << monitor.output();
    EXPECT_NE(monitor.output().find("link back after"), std::string::npos) << monitor.output();

    std::string refused = "socket://127.0.0.1:" + std::to_string(peers::Ser2net::freePort());
    EXPECT_EQ(e2e::runWine(ctl, {"info", "--port", refused}, dir, 60000, &output), 2) << output;
    EXPECT_NE(output.find(": cannot open port: "), std::string::npos) << output;
}
