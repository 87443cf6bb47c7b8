// Figures of the real serial link under Wine (link_timing.exe against the
// device simulator or a pty this program writes itself): the CPU time of the
// link threads while the device streams, and the latency from a line leaving
// the device to the parser having taken it. Prints "[ figures  ]" lines;
// tools/measure.sh runs it. It measures and never fails on a slow machine,
// only when a figure cannot be taken at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/command_frames.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::Values;
using e2e::parseValues;

class LinkMeasure : public e2e::KeyValueToolCase {
protected:
    LinkMeasure() : KeyValueToolCase("link_timing.exe") {}
};

// CPU time of the two link threads while the device streams for 30 s.
TEST_F(LinkMeasure, LinkThreadCpuWhileStreaming) {
    e2e::Simulator sim(1, {"--seed", "14"});
    ASSERT_TRUE(sim.started());
    Values v = check({"cpu", "COM1", "30"}, 90000);
    EXPECT_GT(e2e::valueNumber(v, "measurementLines"), 0);
    std::printf("[ figures  ] %0.f measurement lines in %.0f ms; reader %.1f ms + writer %.1f ms CPU = %.3f %% "
                "of one core; whole process %.3f %%\n",
                e2e::valueNumber(v, "measurementLines"), e2e::valueNumber(v, "wallMs"), e2e::valueNumber(v, "readerCpuMs"),
                e2e::valueNumber(v, "writerCpuMs"), e2e::valueNumber(v, "linkCpuPercent"), e2e::valueNumber(v, "processCpuPercent"));
}

// Latency from a line leaving the device's end of the line to the parser
// having taken it. This case is the device itself: it writes a parameter-
// answer end line (word 3000, 6 bytes) and two line ends onto its own pty,
// stamping CLOCK_REALTIME just before the write; link_timing stamps the same
// clock (GetSystemTimePreciseAsFileTime) in the reply hook, which the parser
// calls on the reader thread as it takes the line. The two line ends make
// each burst 8 bytes, two whole 4-byte reads, so no read waits for the next
// burst; they are empty lines that the parser drops.
TEST_F(LinkMeasure, LineToParserLatency) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    std::string slaveName = ptsname(master);
    int slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    e2e::WineEnv::shared().linkComPort(2, slaveName);

    constexpr int BURSTS = 50;
    e2e::WineProcess process(exe(), {"latency", "COM2", std::to_string(BURSTS)}, workDir_);
    bool opened = false;
    for (int waited = 0; waited < 20000 && !opened; waited += 20) {
        opened = process.output().find("open=1") != std::string::npos;
        usleep(20 * 1000);
    }
    ASSERT_TRUE(opened) << process.output();
    usleep(200 * 1000);
    uint8_t burst[8];
    buildFrame(3000, burst);
    burst[6] = 13;
    burst[7] = 13;
    std::vector<int64_t> sentAt;
    for (int i = 0; i < BURSTS; ++i) {
        sentAt.push_back(e2e::realtimeMicros());
        ASSERT_EQ(8, write(master, burst, sizeof burst));
        usleep(50 * 1000);
    }
    ASSERT_EQ(0, process.wait(30000)) << process.output();
    e2e::WineEnv::shared().linkComPort(2, "");
    close(slave);
    close(master);

    Values v = parseValues(process.output());
    ASSERT_EQ(BURSTS, e2e::valueNumber(v, "stamps")) << process.output();
    std::vector<double> latencies;
    for (int i = 0; i < BURSTS; ++i) {
        int64_t taken = std::atoll(e2e::valueText(v, "stamp" + std::to_string(i)).c_str());
        latencies.push_back((taken - sentAt[static_cast<size_t>(i)]) / 1000.0);
    }
    std::sort(latencies.begin(), latencies.end());
    EXPECT_GT(latencies.front(), -1.0) << "the two clocks disagree";
    std::printf("[ figures  ] line to parser over %d lines: min %.3f ms, median %.3f ms, 90th %.3f ms, max %.3f ms\n",
                BURSTS, latencies.front(), latencies[BURSTS / 2], latencies[BURSTS * 9 / 10], latencies.back());
}

}  // namespace
