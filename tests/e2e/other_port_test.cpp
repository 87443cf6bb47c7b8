// Communication -> "Other port…" end to end: the real elq770.exe under Wine,
// a port above COM8 and a device behind ser2net by RFC 2217, observed as a
// user or the device would (the simulator's words, the settings files, the
// sheet's boxes and message boxes).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/cli/ser2net.h"
#include "tests/e2e/harness.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* DIALOG = "title=Other port";
constexpr const char* SHEET = "title=ELQ770 Parameters";
constexpr int IDM_OTHER_PORT = 2040;
constexpr int IDC_PORT_NAME = 1093;
constexpr int IDC_SETPOINT = 1011;
constexpr int EN_KILLFOCUS = 0x200;
constexpr int WM_COMMAND = 0x111;
constexpr int IDOK = 1;
constexpr uint16_t CMD_REQUEST_DATA = 65050;

class OtherPort : public e2e::ProgramCase {
protected:
    void pressOk(const std::string& target) {
        e2e::probe({"post", target, ".", std::to_string(WM_COMMAND), std::to_string(IDOK), "0"});
        e2e::probe({"wait-gone", target, "10000"});
    }
    // Types the name into the dialog's box and presses OK.
    void chooseOtherPort(const std::string& name) {
        command(IDM_OTHER_PORT);
        ASSERT_TRUE(e2e::waitWindow(DIALOG, 10000).found);
        e2e::probe({"set-text", DIALOG, std::to_string(IDC_PORT_NAME), name});
        pressOk(DIALOG);
    }
    bool waitSetting(int value) {
        for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(100ms))
            if (e2e::settingsField(dir_, 0) == value) return true;
        return false;
    }
};

}  // namespace

// The device on COM12 is a fresh simulator at the restart, as a device that
// stays on one pseudo-terminal across two runs of the program does not
// always stream to the second (so with COM1 too).
TEST_F(OtherPort, Com12ChosenThereIsReopenedAtTheNextStartAndCom3KeepsTheFileAsItWas) {
    e2e::Simulator com1(1);
    e2e::Simulator com3(3);
    {
        e2e::Simulator com12(12);
        ASSERT_TRUE(startProgram());
        chooseOtherPort("COM12");
        EXPECT_TRUE(com12.waitForWord(CMD_REQUEST_DATA, 5000)) << "COM12 opened and asked";
        EXPECT_TRUE(waitSetting(0)) << "the other port is 0 in the settings file";
        EXPECT_EQ("COM12", e2e::readFile(dir_ + "/Vantor.port"));
        ASSERT_EQ(0, closeProgram());
    }
    e2e::Simulator com12(12);
    ASSERT_TRUE(startProgram());
    EXPECT_TRUE(com12.waitForWord(CMD_REQUEST_DATA, 5000)) << "the next start opens COM12 again";
    command(2003);  // COM3 from the menu
    EXPECT_TRUE(com3.waitForWord(CMD_REQUEST_DATA, 5000));
    ASSERT_EQ(0, closeProgram());
    std::string expected = dir_ + "/expected";
    std::filesystem::create_directory(expected);
    e2e::writeSettingsFile(expected, 3);
    EXPECT_EQ(e2e::readFile(expected + "/Vantor.cnf"), e2e::readFile(dir_ + "/Vantor.cnf"))
        << "COM3 chosen: the settings file is what it has always been";
}

TEST_F(OtherPort, Rfc2217ThroughSer2netReadsTheDeviceAndConfirmsADownload) {
    if (!peers::Ser2net::installed()) GTEST_SKIP() << "ser2net is not installed (tools/install-deps.sh installs it)";
    e2e::Simulator sim(7, {"--param", "3100=60"});
    peers::Ser2net server(dir_, e2e::WineEnv::shared().comLinkPath(7));
    ASSERT_TRUE(server.start());
    e2e::writeSettingsFile(dir_, 2);  // nothing on COM2
    launchProgram();
    ASSERT_TRUE(e2e::waitMessageBox("Communication", 20000).found);
    e2e::closeMessageBox("Communication");
    ASSERT_TRUE(e2e::waitWindow(e2e::MAIN_WINDOW_CLASS, 20000).found);

    chooseOtherPort(server.rfc2217Url());
    ASSERT_TRUE(sim.waitForWord(CMD_REQUEST_DATA, 5000));
    command(2000);
    ASSERT_TRUE(e2e::waitWindow(SHEET, 10000).found);
    EXPECT_EQ("60", e2e::trimmedLine(e2e::probe({"get-text", SHEET, std::to_string(IDC_SETPOINT)})))
        << "the sheet shows the device's setpoint, read through ser2net";
    e2e::probe({"set-text", SHEET, std::to_string(IDC_SETPOINT), "45"});
    e2e::probe({"notify", SHEET, std::to_string(IDC_SETPOINT), std::to_string(EN_KILLFOCUS)});
    size_t before = sim.receivedWords().size();
    pressOk(SHEET);
    ASSERT_TRUE(sim.waitForWord(3145, 5000));
    std::this_thread::sleep_for(1000ms);
    std::vector<uint16_t> words = sim.receivedWords();
    words.erase(words.begin(), words.begin() + static_cast<long>(before));
    EXPECT_EQ((std::vector<uint16_t>{3145, CMD_REQUEST_DATA}), words);
    EXPECT_FALSE(e2e::waitMessageBox("ELQ770 Configuration tool", 1500).found) << "the device confirmed it";
    EXPECT_EQ(server.rfc2217Url(), e2e::readFile(dir_ + "/Vantor.port"));
}

// A process of the shell's, started in the background and ended with the test.
struct Background {
    explicit Background(const std::string& command, const std::string& pidFile) : pidFile_(pidFile) {
        std::system((command + " & echo $! > " + pidFile).c_str());
    }
    ~Background() { std::system(("kill $(cat " + pidFile_ + ") 2>/dev/null; sleep 0.5").c_str()); }
    std::string pidFile_;
};

// The technician's laptop through the running gateway: the sheet's download
// goes through publish --share, is confirmed by its read-back, and the bus
// hears of it in one audit message naming the old and the new value.
TEST_F(OtherPort, ThroughTheGatewaysShareADownloadIsConfirmedAndAudited) {
    if (!std::filesystem::exists("/usr/sbin/mosquitto")) GTEST_SKIP() << "mosquitto is not installed";
    e2e::Simulator sim(7, {"--param", "3100=60"});
    int brokerPort = peers::Ser2net::freePort();
    int sharePort = peers::Ser2net::freePort();
    std::ofstream(dir_ + "/broker.conf") << "listener " << brokerPort << " 127.0.0.1\nallow_anonymous true\n";
    Background broker("/usr/sbin/mosquitto -c " + dir_ + "/broker.conf >/dev/null 2>&1", dir_ + "/broker.pid");
    std::this_thread::sleep_for(500ms);
    std::string at = " -h 127.0.0.1 -p " + std::to_string(brokerPort);
    Background audit("mosquitto_sub" + at + " -t elq770/e2e/audit -C 1 -W 60 > " + dir_ + "/audit.json",
                     dir_ + "/audit.pid");
    Background gateway(std::string(ELQ_E2E_CTL_PATH) + " publish --port " +
                           e2e::WineEnv::shared().comLinkPath(7) + " --broker mqtt://127.0.0.1:" +
                           std::to_string(brokerPort) + " --name e2e --share 127.0.0.1:" + std::to_string(sharePort) +
                           " >" + dir_ + "/gateway.log 2>&1",
                       dir_ + "/gateway.pid");
    ASSERT_TRUE(sim.waitForWord(CMD_REQUEST_DATA, 10000)) << "the gateway has the device";
    e2e::writeSettingsFile(dir_, 2);  // nothing on COM2
    launchProgram();
    ASSERT_TRUE(e2e::waitMessageBox("Communication", 20000).found);
    e2e::closeMessageBox("Communication");
    ASSERT_TRUE(e2e::waitWindow(e2e::MAIN_WINDOW_CLASS, 20000).found);

    chooseOtherPort("rfc2217://127.0.0.1:" + std::to_string(sharePort));
    command(2000);
    ASSERT_TRUE(e2e::waitWindow(SHEET, 10000).found);
    EXPECT_EQ("60", e2e::trimmedLine(e2e::probe({"get-text", SHEET, std::to_string(IDC_SETPOINT)})))
        << "the sheet shows the device's setpoint, read through the gateway";
    e2e::probe({"set-text", SHEET, std::to_string(IDC_SETPOINT), "45"});
    e2e::probe({"notify", SHEET, std::to_string(IDC_SETPOINT), std::to_string(EN_KILLFOCUS)});
    pressOk(SHEET);
    ASSERT_TRUE(sim.waitForWord(3145, 5000)) << e2e::readFile(dir_ + "/gateway.log");
    EXPECT_FALSE(e2e::waitMessageBox("ELQ770 Configuration tool", 2500).found) << "the device confirmed it";
    std::string text;
    for (int i = 0; i < 100 && text.empty(); ++i, std::this_thread::sleep_for(100ms))
        text = e2e::readFile(dir_ + "/audit.json");
    EXPECT_NE(std::string::npos, text.find("\"old\":60")) << text;
    EXPECT_NE(std::string::npos, text.find("\"new\":45")) << text;
    EXPECT_NE(std::string::npos, text.find("127.0.0.1")) << text;
}
