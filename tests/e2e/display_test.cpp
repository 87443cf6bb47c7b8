// The live display end to end: the real elq770.exe under Wine against the
// device simulator, observed through captures of the client area (probe's
// capture-client) and compared at chosen pixels, not as whole images.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

using namespace std::chrono_literals;

const char* MAIN_CLASS = "BRISCA";
const e2e::Rgb GREY{210, 210, 210};
const e2e::Rgb BLACK{0, 0, 0};
const e2e::Rgb BLUE{0, 0, 255};
const e2e::Rgb RED{255, 0, 0};

// Readout pixels of the measurement: right-aligned at x 250, bottom at 153,
// right of its label (which ends at x 180).
constexpr int READING_LEFT = 185, READING_RIGHT = 252, READING_TOP = 108, READING_BOTTOM = 153;

constexpr int CLIENT_WIDTH = 960, CLIENT_HEIGHT = 380;

// The client area's pixels, read once (the harness caches one image only).
class Capture {
public:
    Capture() = default;
    explicit Capture(const std::string& path) : pixels_(CLIENT_WIDTH * CLIENT_HEIGHT, e2e::Rgb{-1, -1, -1}) {
        for (int y = 0; y < CLIENT_HEIGHT; ++y)
            for (int x = 0; x < CLIENT_WIDTH; ++x) pixels_[y * CLIENT_WIDTH + x] = e2e::pixelAt(path, x, y);
    }
    e2e::Rgb at(int x, int y) const {
        if (x < 0 || y < 0 || x >= CLIENT_WIDTH || y >= CLIENT_HEIGHT || pixels_.empty()) return {-1, -1, -1};
        return pixels_[y * CLIENT_WIDTH + x];
    }

private:
    std::vector<e2e::Rgb> pixels_;
};

// Each case starts with no COM links; its simulator links COM1. The
// harness's Wine session outlives the cases, so no Wine start in between
// rewrites that link.
class DisplayE2E : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = e2e::makeWorkDir(std::string(info->test_suite_name()) + "_" + info->name());
        e2e::WineEnv::shared().unlinkAllComPorts();
    }

    void TearDown() override {
        if (program_ && program_->running()) {
            e2e::probe({"close", MAIN_CLASS});
            if (program_->wait(10000) < 0) program_->kill();
        }
        program_.reset();
    }

    // Starts the program on COM1 (the default settings) and waits until its
    // window shows and the device has been heard for a while.
    bool startProgram() {
        program_ = std::make_unique<e2e::WineProcess>(e2e::windowsExe("elq770.exe"), std::vector<std::string>{},
                                                      dir_);
        int code = -1;
        e2e::probe({"wait-window", MAIN_CLASS, "20000"}, &code);
        return code == 0;
    }

    Capture capture(const std::string& name) {
        e2e::probe({"capture-client", MAIN_CLASS, name + ".bmp"});
        return Capture(dir_ + "/" + name + ".bmp");
    }

    void key(const char* vk) { e2e::probe({"post-key", MAIN_CLASS, vk, "press"}); }

    std::string dir_;
    std::unique_ptr<e2e::WineProcess> program_;
};

bool isGrey(const e2e::Rgb& c) { return c == GREY; }

// Rows of the measurement readout that hold anything but the panel grey.
int inkedRows(const Capture& shot) {
    int rows = 0;
    for (int y = READING_TOP; y <= READING_BOTTOM; ++y)
        for (int x = READING_LEFT; x <= READING_RIGHT; ++x)
            if (!isGrey(shot.at(x, y))) {
                ++rows;
                break;
            }
    return rows;
}

int differingPixels(const Capture& a, const Capture& b, int left, int top, int right, int bottom, int step) {
    int count = 0;
    for (int y = top; y < bottom; y += step)
        for (int x = left; x < right; x += step)
            if (!(a.at(x, y) == b.at(x, y))) ++count;
    return count;
}

// Leftmost blue pixel of row y inside the scrolled band, or 9999.
int leftmostBlue(const Capture& shot, int y) {
    for (int x = 365; x <= 867; ++x)
        if (shot.at(x, y) == BLUE) return x;
    return 9999;
}

// Leftmost column with a blue pixel above the baseline, or 9999.
int curveStart(const Capture& shot) {
    for (int x = 365; x <= 867; ++x)
        for (int y = 95; y <= 290; ++y)
            if (shot.at(x, y) == BLUE) return x;
    return 9999;
}

}  // namespace

TEST_F(DisplayE2E, PanelsAreGreyWithBlackOutlinesOnTheBackground) {
    e2e::Simulator device(1, {"--seed", "1", "--level", "42"});
    ASSERT_TRUE(device.started());
    ASSERT_TRUE(startProgram());
    std::this_thread::sleep_for(1500ms);
    Capture shot = capture("panels");
    // Header band, readout panel, graph panel: outline corners and an inside point.
    EXPECT_EQ(BLACK, shot.at(25, 15));
    EXPECT_EQ(BLACK, shot.at(934, 49));
    EXPECT_EQ(GREY, shot.at(925, 20));
    EXPECT_EQ(BLACK, shot.at(25, 60));
    EXPECT_EQ(BLACK, shot.at(334, 324));
    EXPECT_EQ(GREY, shot.at(35, 315));
    EXPECT_EQ(BLACK, shot.at(345, 60));
    EXPECT_EQ(BLACK, shot.at(934, 324));
    EXPECT_EQ(GREY, shot.at(360, 70));
    EXPECT_FALSE(isGrey(shot.at(5, 5)));
    EXPECT_FALSE(isGrey(shot.at(340, 200)));
}

TEST_F(DisplayE2E, ReadoutFollowsTheDeviceAndShowsDashesAfterLinkLoss) {
    e2e::Simulator device(1, {"--seed", "2", "--level", "88"});
    ASSERT_TRUE(device.started());
    ASSERT_TRUE(startProgram());
    std::this_thread::sleep_for(2000ms);
    Capture live = capture("live88");
    // Two digits of the 40-pixel bold font stand far taller than two dashes.
    EXPECT_GE(inkedRows(live), 20);
    device.stop();
    // 15 idle pump ticks of 47 ms, then the 300 ms repaint.
    std::this_thread::sleep_for(2500ms);
    Capture lost = capture("lost");
    int rows = inkedRows(lost);
    EXPECT_GT(rows, 0) << "the dashes are drawn";
    EXPECT_LE(rows, 8) << "only a dash stroke remains";
    EXPECT_GT(differingPixels(live, lost, READING_LEFT, READING_TOP, READING_RIGHT, READING_BOTTOM, 1), 50);
}

TEST_F(DisplayE2E, DifferentLevelsShowDifferentReadouts) {
    Capture first;
    {
        e2e::Simulator device(1, {"--seed", "3", "--level", "11"});
        ASSERT_TRUE(device.started());
        ASSERT_TRUE(startProgram());
        std::this_thread::sleep_for(2000ms);
        first = capture("level11");
        e2e::probe({"close", MAIN_CLASS});
        program_->wait(10000);
    }
    e2e::Simulator device(1, {"--seed", "3", "--level", "77"});
    ASSERT_TRUE(device.started());
    ASSERT_TRUE(startProgram());
    std::this_thread::sleep_for(2000ms);
    Capture second = capture("level77");
    EXPECT_GE(inkedRows(first), 20);
    EXPECT_GE(inkedRows(second), 20);
    EXPECT_GT(differingPixels(first, second, READING_LEFT, READING_TOP, READING_RIGHT, READING_BOTTOM, 1), 30);
}

TEST_F(DisplayE2E, CurveGrowsLeftwardAtTheLevelsHeight) {
    e2e::Simulator device(1, {"--seed", "4", "--level", "50"});
    ASSERT_TRUE(device.started());
    ASSERT_TRUE(startProgram());
    std::this_thread::sleep_for(1500ms);
    Capture early = capture("early");
    std::this_thread::sleep_for(2000ms);
    Capture later = capture("later");
    const int y = 295 - 2 * 50;
    int earlyLeft = leftmostBlue(early, y);
    int laterLeft = leftmostBlue(later, y);
    ASSERT_LT(earlyLeft, 867) << "the curve is drawn at y 195";
    EXPECT_EQ(BLUE, later.at(865, y));
    // 30 s roll: one sample per three measurements, about 16 pixels a second.
    EXPECT_LT(laterLeft, earlyLeft - 15);
}

TEST_F(DisplayE2E, SetpointLineOfTheActiveLimitInRed) {
    e2e::Simulator device(1, {"--seed", "5", "--level", "30", "--limit2", "--setpoint2", "40"});
    ASSERT_TRUE(device.started());
    ASSERT_TRUE(startProgram());
    std::this_thread::sleep_for(2500ms);  // identification text has arrived
    key("PAUSE");                         // full redraw: axes and setpoint line
    std::this_thread::sleep_for(700ms);
    Capture shot = capture("setpoint");
    const int y = 295 - 2 * 40;
    for (int x : {366, 500, 700, 860}) {
        EXPECT_EQ(RED, shot.at(x, y)) << "x " << x;
        EXPECT_FALSE(shot.at(x, y - 1) == RED) << "x " << x;
        EXPECT_FALSE(shot.at(x, y + 1) == RED) << "x " << x;
    }
}

TEST_F(DisplayE2E, PauseFreezesTheGraphAndSecondPauseScrollsTheBacklogIn) {
    e2e::Simulator device(1, {"--seed", "6"});
    ASSERT_TRUE(device.started());
    ASSERT_TRUE(startProgram());
    std::this_thread::sleep_for(3000ms);
    key("PAUSE");
    std::this_thread::sleep_for(500ms);
    Capture frozen1 = capture("frozen1");
    std::this_thread::sleep_for(1000ms);
    Capture frozen2 = capture("frozen2");
    EXPECT_EQ(0, differingPixels(frozen1, frozen2, 346, 61, 934, 324, 2));
    key("PAUSE");
    std::this_thread::sleep_for(500ms);
    Capture running = capture("running");
    EXPECT_GT(differingPixels(frozen2, running, 365, 95, 867, 296, 1), 20);
    // The backlog came in at once: the frozen curve reappears further left,
    // with the same shape.
    int frozenStart = curveStart(frozen2);
    int runningStart = curveStart(running);
    ASSERT_LT(frozenStart, 867) << "a curve above the baseline was drawn";
    EXPECT_LT(runningStart, frozenStart - 10);
    int shift = frozenStart - runningStart;
    int mismatches = 0;
    for (int x = frozenStart; x < frozenStart + 40 && x < 860; ++x)
        for (int y = 95; y <= 290; ++y)
            if ((frozen2.at(x, y) == BLUE) != (running.at(x - shift, y) == BLUE)) ++mismatches;
    EXPECT_LE(mismatches, 10) << "shift " << shift;
}
