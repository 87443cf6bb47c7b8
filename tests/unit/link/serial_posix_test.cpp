// The POSIX link alone, in this process, on a pseudo-terminal the test
// holds: both directions, a refused rate, and a device side that hangs up.
#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/serial_link.h"
#include "link/word_meaning.h"
#include "link_test_support.h"

namespace {

void sleepFor(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class PosixLink : public LinkTest {};

}  // namespace

TEST_F(PosixLink, CarriesBothWaysAndAHangUpCostsNoCpu) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string slave = ptsname(master);
    ASSERT_EQ(openLinkByName(slave.c_str(), 9600), 1);
    EXPECT_EQ(openLinkByName(slave.c_str(), 1234), 0) << "an unknown rate is refused";
    ASSERT_EQ(openLinkByName(slave.c_str(), 9600), 1);

    const uint8_t measurement42[] = {0x21, 0xA1, 0xC2, 0x0D};
    ASSERT_EQ(write(master, measurement42, sizeof measurement42), 4);
    for (int i = 0; i < 200 && liveState.measurement.load() != 42; ++i) sleepFor(5);
    EXPECT_EQ(liveState.measurement.load(), 42);

    ASSERT_EQ(sendCommandWord(CMD_SPACE_KEY), 1);
    uint8_t frame[FRAME_SIZE] = {}, expected[FRAME_SIZE];
    buildFrame(CMD_SPACE_KEY, expected);
    pollfd readable{master, POLLIN, 0};
    int got = 0;
    while (got < FRAME_SIZE && poll(&readable, 1, 2000) == 1) got += static_cast<int>(read(master, frame + got, FRAME_SIZE - got));
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + FRAME_SIZE), std::vector<uint8_t>(expected, expected + FRAME_SIZE));

    close(master);  // the device side hangs up
    sleepFor(100);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    sleepFor(500);
    getrusage(RUSAGE_SELF, &after);
    auto cpuMs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
    };
    EXPECT_LT(cpuMs(after) - cpuMs(before), 100.0) << "a dead line must not spin the reader";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(closeLink(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(sendCommandWord(CMD_SPACE_KEY), 0) << "nothing is taken while no link is open";
}
#endif
