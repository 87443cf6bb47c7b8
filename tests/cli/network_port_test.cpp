// elq770ctl on network ports: through ser2net in front of the simulator, by
// RFC 2217 and by raw TCP, and against names and peers that go wrong.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_harness.h"
#include "tests/cli/ser2net.h"

using namespace clitest;
using peers::ClosingServer;
using peers::Ser2net;

namespace {

#define NEED_SER2NET()                                                             \
    if (!Ser2net::installed()) GTEST_SKIP() << "ser2net is not installed (tools/install-deps.sh installs it)"

}  // namespace

TEST(CliNetworkPort, InfoLoadAndMonitorGoThroughSer2netByBothProtocols) {
    NEED_SER2NET();
    std::string dir = workDir();
    Sim sim(dir, {"--text", "REMOTE 9", "--level", "37", "--setpoint1", "66"});
    Ser2net server(dir, sim.link());
    ASSERT_TRUE(server.start());
    for (const std::string& url : {server.rfc2217Url(), server.socketUrl()}) {
        CtlRun info = ctl(dir, {"info", "--port", url});
        ASSERT_EQ(info.code, 0) << url << ": " << info.err;
        EXPECT_NE(info.out.find("Corvanta: REMOTE 9"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Setpoint   : 66%"), std::string::npos) << info.out;
        std::string file = dir + "/unit.770";
        ASSERT_EQ(ctl(dir, {"save", "--port", url, file}).code, 0);
        size_t before = sim.words().size();
        CtlRun load = ctl(dir, {"load", "--port", url, file});
        ASSERT_EQ(load.code, 0) << url << ": " << load.err;
        EXPECT_NE(load.out.find("confirmed"), std::string::npos) << load.out;
        EXPECT_EQ(sim.words().size() - before, 17u) << "sixteen words and the read-back's request reached the device";
        CtlRun monitor = ctl(dir, {"monitor", "--port", url, "--csv", dir + "/rows.csv", "--duration", "2"});
        ASSERT_EQ(monitor.code, 0) << monitor.err;
        std::vector<std::string> rows = lines(readText(dir + "/rows.csv"));
        ASSERT_GE(rows.size(), 40u) << url;
        EXPECT_NE(rows.back().find(",37,1,"), std::string::npos) << rows.back();
    }
}

// ser2net stopped under a running monitor and started again: the dropped
// connection is a link gap, and the quiet reopen every 2 s finds it back.
TEST(CliNetworkPort, Ser2netRestartedIsAGapAndTheQuietReopenFindsItBack) {
    NEED_SER2NET();
    std::string dir = workDir();
    Sim sim(dir, {"--level", "44"});
    Ser2net server(dir, sim.link());
    ASSERT_TRUE(server.start());
    pid_t tool = spawn({ELQ_CTL_BINARY, "monitor", "--port", server.rfc2217Url(), "--csv", dir + "/rows.csv"},
                       dir + "/ctl.out", dir + "/ctl.err");
    ASSERT_TRUE(waitForText(dir + "/rows.csv", ",44,1,", 8000));
    server.stop();
    ASSERT_TRUE(waitForText(dir + "/ctl.err", "link lost", 8000)) << readText(dir + "/ctl.err");
    sleepMs(2500);  // at least one reopen is refused meanwhile
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(waitForText(dir + "/ctl.err", "link back", 8000)) << readText(dir + "/ctl.err");
    size_t rowsBack = lines(readText(dir + "/rows.csv")).size();
    sleepMs(600);
    kill(tool, SIGINT);
    EXPECT_EQ(waitExit(tool, 5000), 0);
    EXPECT_GT(lines(readText(dir + "/rows.csv")).size(), rowsBack) << "rows go on after the gap";
    EXPECT_EQ(readText(dir + "/ctl.err").find("cannot open port"), std::string::npos) << "the refused reopens are quiet";
}

TEST(CliNetworkPort, MalformedNamesAreUsageErrorsAndAbsentServersDoNotOpen) {
    std::string dir = workDir();
    CtlRun scheme = ctl(dir, {"info", "--port", "telnet://127.0.0.1:23"});
    EXPECT_EQ(scheme.code, 1);
    EXPECT_NE(scheme.err.find("unknown scheme 'telnet://'"), std::string::npos) << scheme.err;
    CtlRun noPort = ctl(dir, {"ports", "--scan", "rfc2217://127.0.0.1"});
    EXPECT_EQ(noPort.code, 1);
    EXPECT_NE(noPort.err.find("no ':PORT' after the host"), std::string::npos) << noPort.err;
    std::string refusedUrl = "rfc2217://127.0.0.1:" + std::to_string(Ser2net::freePort());
    CtlRun refused = ctl(dir, {"info", "--port", refusedUrl});
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.err, "elq770ctl: " + refusedUrl + ": cannot open port: Connection refused\n");
    // A server that takes the connection and closes it: the port opened, the
    // device never answers.
    ClosingServer closing;
    std::thread serve([&closing] { closing.serveOne(5000); });
    CtlRun closed = ctl(dir, {"info", "--port", "socket://127.0.0.1:" + std::to_string(closing.port())});
    serve.join();
    EXPECT_EQ(closed.code, 3) << closed.err;
}
