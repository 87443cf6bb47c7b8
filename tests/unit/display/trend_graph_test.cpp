#include "display/trend_graph.h"

#include <functional>

#include "display_test_support.h"

namespace {

// Takes the first sample so that trendEmpty is cleared, then drops the
// recording of that start-up step.
void startGraph(RecordingSurface& surface, int measurement) {
    pushSample(measurement);
    scrollTrend(surface);
    surface.clear();
}

bool isLine(const SurfaceCall& call, int fromX, int fromY, int x, int y) {
    return call.fromX == fromX && call.fromY == fromY && call.x == x && call.y == y;
}

}  // namespace

class TrendScroll : public DisplayTest {};

TEST_F(TrendScroll, FirstSampleDrawsNoSegmentSecondStartsAtFirstValue) {
    RecordingSurface surface;
    pushSample(30);
    scrollTrend(surface);
    EXPECT_TRUE(surface.linesWith(DrawObject::CURVE_PEN).empty());
    EXPECT_EQ(0, liveState.trendEmpty.load());
    EXPECT_EQ(60, lastTrendValue);
    surface.clear();
    pushSample(40);
    scrollTrend(surface);
    std::vector<SurfaceCall> curve = surface.linesWith(DrawObject::CURVE_PEN);
    ASSERT_EQ(1u, curve.size());
    EXPECT_TRUE(isLine(curve[0], 865, 295 - 60, 866, 295 - 80));
}

TEST_F(TrendScroll, EverySampleMovesTheBandOneColumnLeftBeforeItsSegment) {
    RecordingSurface surface;
    startGraph(surface, 10);
    pushSample(20);
    pushSample(30);
    pushSample(40);
    scrollTrend(surface);
    std::vector<SurfaceCall> blits = surface.callsOf(SurfaceOp::BLIT_WITHIN);
    ASSERT_EQ(3u, blits.size());
    for (const SurfaceCall& blit : blits) {
        EXPECT_TRUE(samePoint(blit, 365, 95));
        EXPECT_EQ(502, blit.x2);
        EXPECT_EQ(201, blit.y2);
        EXPECT_EQ(366, blit.fromX);
        EXPECT_EQ(95, blit.fromY);
    }
    // blit, move to the last value, segment: per sample, in this order.
    std::vector<SurfaceCall> curve = surface.linesWith(DrawObject::CURVE_PEN);
    ASSERT_EQ(3u, curve.size());
    EXPECT_TRUE(isLine(curve[0], 865, 275, 866, 255));
    EXPECT_TRUE(isLine(curve[1], 865, 255, 866, 235));
    EXPECT_TRUE(isLine(curve[2], 865, 235, 866, 215));
    const auto& calls = surface.calls();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op != SurfaceOp::BLIT_WITHIN) continue;
        ASSERT_LT(i + 2, calls.size());
        EXPECT_EQ(SurfaceOp::MOVE_TO, calls[i + 1].op);
        EXPECT_EQ(SurfaceOp::LINE_TO, calls[i + 2].op);
    }
}

TEST_F(TrendScroll, NothingPendingStillClearsTheNewestColumn) {
    RecordingSurface surface;
    scrollTrend(surface);
    std::vector<SurfaceCall> erase = surface.linesWith(DrawObject::ERASE_PEN);
    ASSERT_EQ(1u, erase.size());
    EXPECT_TRUE(isLine(erase[0], 867, 95, 867, 295));
    EXPECT_TRUE(surface.callsOf(SurfaceOp::BLIT_WITHIN).empty());
}

TEST_F(TrendScroll, SetpointMarkerOnlyOnceADeviceIdentified) {
    deviceParameters.limit2Setpoint = 40;
    deviceParameters.activeLimit = 1;
    RecordingSurface surface;
    scrollTrend(surface);
    EXPECT_TRUE(surface.linesWith(DrawObject::LIMIT_PEN).empty());
    setDeviceText("ELQ770");
    surface.clear();
    scrollTrend(surface);
    std::vector<SurfaceCall> marker = surface.linesWith(DrawObject::LIMIT_PEN);
    ASSERT_EQ(1u, marker.size());
    EXPECT_TRUE(isLine(marker[0], 867, 215, 868, 215));
}

TEST_F(TrendScroll, DrawnValuesEnterTheHistory) {
    RecordingSurface surface;
    startGraph(surface, 10);
    pushSample(20);
    scrollTrend(surface);
    EXPECT_EQ(20, trendHistory[0]);
    EXPECT_EQ(40, trendHistory[1]);
    EXPECT_EQ(2, trendHistoryIndex);
    EXPECT_EQ(40, lastTrendValue);
}

TEST_F(TrendScroll, IndexesWrapAfterFiveHundredSamples) {
    RecordingSurface surface;
    surface.setRasterise(false);
    for (int i = 0; i < TREND_SIZE + 2; ++i) {
        pushSample(i % 100);
        scrollTrend(surface);
    }
    EXPECT_EQ(2, liveState.trendReadIndex.load());
    EXPECT_EQ(2, trendHistoryIndex);
    EXPECT_EQ(2 * (501 % 100), trendHistory[1]);
}

// A backlog of 503 is no backlog of 3: after unfreezing the newest samples
// the ring still holds scroll in, not the distance between its indexes.
TEST_F(TrendScroll, BacklogBeyondTheRingScrollsInTheNewestSamples) {
    RecordingSurface surface;
    startGraph(surface, 10);
    graphFrozen = 1;
    for (int i = 0; i < TREND_SIZE + 3; ++i) pushSample(50);
    graphFrozen = 0;
    scrollTrend(surface);
    EXPECT_EQ(TREND_KEPT, surface.callsOf(SurfaceOp::BLIT_WITHIN).size());
}

class TrendRedraw : public DisplayTest {};

TEST_F(TrendRedraw, NothingBeforeTheFirstSample) {
    RecordingSurface surface;
    redrawTrend(surface);
    EXPECT_TRUE(surface.calls().empty());
}

TEST_F(TrendRedraw, ShortHistoryStartsOnTheBaselineAtTheLeft) {
    RecordingSurface surface;
    for (int i = 0; i < 10; ++i) pushSample(50);
    scrollTrend(surface);
    surface.clear();
    redrawTrend(surface);
    std::vector<SurfaceCall> moves = surface.callsOf(SurfaceOp::MOVE_TO);
    ASSERT_EQ(2u, moves.size());
    EXPECT_TRUE(samePoint(moves[0], 365, 295));
    std::vector<SurfaceCall> curve = surface.linesWith(DrawObject::CURVE_PEN);
    ASSERT_EQ(500u, curve.size());
    EXPECT_TRUE(samePoint(curve[0], 366, 295));
    EXPECT_TRUE(samePoint(curve[489], 855, 195));
    EXPECT_TRUE(samePoint(curve[498], 864, 195));
    // The newest value once more as a single pixel at x 865.
    EXPECT_TRUE(isLine(curve[499], 865, 195, 866, 195));
}

TEST_F(TrendRedraw, WrappedHistoryStartsAtTheOldestEntry) {
    RecordingSurface surface;
    surface.setRasterise(false);
    for (int i = 0; i < TREND_SIZE + 5; ++i) {
        pushSample(i % 90);
        scrollTrend(surface);
    }
    surface.clear();
    redrawTrend(surface);
    std::vector<SurfaceCall> moves = surface.callsOf(SurfaceOp::MOVE_TO);
    ASSERT_FALSE(moves.empty());
    EXPECT_TRUE(samePoint(moves[0], 365, 295 - 2 * (5 % 90)));
    std::vector<SurfaceCall> curve = surface.linesWith(DrawObject::CURVE_PEN);
    ASSERT_EQ(500u, curve.size());
    EXPECT_EQ(295 - 2 * (504 % 90), curve[498].y);
    EXPECT_EQ(295 - 2 * (504 % 90), curve[499].y);
}

TEST_F(TrendRedraw, NewestEntryForIndexZeroIsTheLastSlot) {
    RecordingSurface surface;
    startGraph(surface, 1);
    trendHistoryIndex = 0;
    trendHistory[TREND_SIZE - 1] = 88;
    redrawTrend(surface);
    std::vector<SurfaceCall> curve = surface.linesWith(DrawObject::CURVE_PEN);
    ASSERT_EQ(500u, curve.size());
    EXPECT_TRUE(isLine(curve[499], 865, 207, 866, 207));
}

class TrendAxes : public DisplayTest {};

TEST_F(TrendAxes, AxesArrowsAndTicks) {
    RecordingSurface surface;
    drawTrendAxes(surface);
    std::vector<SurfaceCall> axis = surface.linesWith(DrawObject::AXIS_PEN);
    ASSERT_EQ(13u, axis.size());
    EXPECT_TRUE(isLine(axis[0], 365, 295, 878, 295));
    EXPECT_TRUE(isLine(axis[1], 878, 295, 873, 290));
    EXPECT_TRUE(isLine(axis[2], 878, 295, 873, 300));
    EXPECT_TRUE(isLine(axis[3], 868, 300, 868, 85));
    EXPECT_TRUE(isLine(axis[4], 868, 85, 873, 90));
    EXPECT_TRUE(isLine(axis[5], 868, 85, 863, 90));
    EXPECT_TRUE(isLine(axis[6], 868, 245, 871, 245));
    EXPECT_TRUE(isLine(axis[9], 868, 95, 871, 95));
    EXPECT_TRUE(isLine(axis[10], 702, 295, 702, 298));
    EXPECT_TRUE(isLine(axis[11], 535, 295, 535, 298));
    EXPECT_TRUE(isLine(axis[12], 365, 295, 365, 298));
}

TEST_F(TrendAxes, LoadLabelsLeftBottomOnGrey) {
    RecordingSurface surface;
    drawTrendAxes(surface);
    const struct {
        const char* text;
        int x, y;
    } expected[] = {{"P[%]", 873, 85}, {"25", 876, 252}, {"50", 876, 202}, {"75", 876, 152},
                    {"100", 876, 102}};
    for (const auto& label : expected) {
        const SurfaceCall* call = surface.findText(label.text);
        ASSERT_NE(nullptr, call) << label.text;
        EXPECT_TRUE(samePoint(*call, label.x, label.y)) << label.text;
        EXPECT_EQ(ALIGN_LEFT | ALIGN_BOTTOM, call->align) << label.text;
        EXPECT_EQ(DrawObject::AXIS_FONT, call->object) << label.text;
        EXPECT_EQ(PANEL_GREY, call->colour) << label.text;
    }
    const SurfaceCall* time = surface.findText("t[s]");
    ASSERT_NE(nullptr, time);
    EXPECT_TRUE(samePoint(*time, 868, 300));
    EXPECT_EQ(ALIGN_LEFT | ALIGN_TOP, time->align);
}

TEST_F(TrendAxes, TimeLabelsFollowTheRollPeriod) {
    const char* expected[3][3] = {{"-3.3", "-6.6", "-10"}, {"-10", "-20", "-30"}, {"-20", "-40", "-60"}};
    const int x[3] = {702, 535, 365};
    for (uint16_t roll = 0; roll < 3; ++roll) {
        appSettings.rollIndex = roll;
        RecordingSurface surface;
        drawTrendAxes(surface);
        std::vector<SurfaceCall> texts = surface.callsOf(SurfaceOp::TEXT_OUT);
        ASSERT_EQ(9u, texts.size());
        for (int i = 0; i < 3; ++i) {
            const SurfaceCall& label = texts[6 + i];
            EXPECT_EQ(expected[roll][i], label.text);
            EXPECT_TRUE(samePoint(label, x[i], 303));
            EXPECT_EQ(ALIGN_CENTER | ALIGN_TOP, label.align);
        }
    }
}

TEST_F(TrendAxes, SetpointLineOfTheActiveLimitOnlyWithADevice) {
    deviceParameters.limit1Setpoint = 75;
    deviceParameters.limit2Setpoint = 20;
    RecordingSurface surface;
    drawTrendAxes(surface);
    EXPECT_TRUE(surface.linesWith(DrawObject::LIMIT_PEN).empty());
    setDeviceText("ELQ770");
    surface.clear();
    drawTrendAxes(surface);
    std::vector<SurfaceCall> limit = surface.linesWith(DrawObject::LIMIT_PEN);
    ASSERT_EQ(1u, limit.size());
    EXPECT_TRUE(isLine(limit[0], 365, 145, 868, 145));
    deviceParameters.activeLimit = 1;
    surface.clear();
    drawTrendAxes(surface);
    limit = surface.linesWith(DrawObject::LIMIT_PEN);
    ASSERT_EQ(1u, limit.size());
    EXPECT_TRUE(isLine(limit[0], 365, 255, 868, 255));
}

class PrintGraph : public DisplayTest {};

TEST_F(PrintGraph, CurveAtThreeUnitsPerPercentTruncatingTowardZero) {
    trendHistoryIndex = 498;
    trendHistory[498] = 3;    // 3 + 1
    trendHistory[499] = -3;   // -3 + -1
    trendHistory[0] = 201;    // 201 + 100
    trendHistory[497] = 200;  // the newest: 100 % at 300 units
    RecordingSurface surface;
    drawPrintTrend(surface, 45, 430);
    std::vector<SurfaceCall> moves = surface.callsOf(SurfaceOp::MOVE_TO);
    ASSERT_EQ(1u, moves.size());
    EXPECT_TRUE(samePoint(moves[0], 45, 426));
    std::vector<SurfaceCall> curve = surface.linesWith(DrawObject::CURVE_PEN);
    ASSERT_EQ(499u, curve.size());
    EXPECT_TRUE(samePoint(curve[0], 46, 434));
    EXPECT_TRUE(samePoint(curve[1], 47, 129));
    EXPECT_TRUE(samePoint(curve[498], 544, 130));
}

TEST_F(PrintGraph, UnfilledHistoryPrintsOnTheBaseline) {
    RecordingSurface surface;
    drawPrintTrend(surface, 310, 510);
    std::vector<SurfaceCall> curve = surface.linesWith(DrawObject::CURVE_PEN);
    ASSERT_EQ(499u, curve.size());
    for (const SurfaceCall& segment : curve) EXPECT_EQ(510, segment.y);
}

TEST_F(PrintGraph, AxesAtTheGivenOrigin) {
    RecordingSurface surface;
    drawPrintAxes(surface, 310, 510);
    std::vector<SurfaceCall> axis = surface.linesWith(DrawObject::AXIS_PEN);
    ASSERT_EQ(13u, axis.size());
    EXPECT_TRUE(isLine(axis[0], 310, 510, 821, 510));
    EXPECT_TRUE(isLine(axis[1], 821, 510, 816, 505));
    EXPECT_TRUE(isLine(axis[2], 821, 510, 816, 515));
    EXPECT_TRUE(isLine(axis[3], 811, 515, 811, 200));
    EXPECT_TRUE(isLine(axis[4], 811, 200, 816, 205));
    EXPECT_TRUE(isLine(axis[5], 811, 200, 806, 205));
    EXPECT_TRUE(isLine(axis[6], 811, 435, 814, 435));
    EXPECT_TRUE(isLine(axis[9], 811, 210, 814, 210));
    EXPECT_TRUE(isLine(axis[10], 645, 510, 645, 513));
    EXPECT_TRUE(isLine(axis[11], 478, 510, 478, 513));
    EXPECT_TRUE(isLine(axis[12], 310, 510, 310, 513));
}

TEST_F(PrintGraph, LabelsKeepThePageBackground) {
    appSettings.rollIndex = 2;
    RecordingSurface surface;
    drawPrintAxes(surface, 45, 430);
    EXPECT_TRUE(surface.callsOf(SurfaceOp::SET_BK_COLOR).empty());
    const SurfaceCall* load = surface.findText("P[%]");
    ASSERT_NE(nullptr, load);
    EXPECT_TRUE(samePoint(*load, 546, 115));
    EXPECT_EQ(ALIGN_CENTER | ALIGN_BOTTOM, load->align);
    EXPECT_EQ(DrawObject::AXIS_FONT, load->object);
    const SurfaceCall* hundred = surface.findText("100");
    ASSERT_NE(nullptr, hundred);
    EXPECT_TRUE(samePoint(*hundred, 554, 137));
    EXPECT_EQ(ALIGN_LEFT | ALIGN_BOTTOM, hundred->align);
    const SurfaceCall* time = surface.findText("t[s]");
    ASSERT_NE(nullptr, time);
    EXPECT_TRUE(samePoint(*time, 546, 435));
    const SurfaceCall* third = surface.findText("-20");
    ASSERT_NE(nullptr, third);
    EXPECT_TRUE(samePoint(*third, 380, 438));
    EXPECT_EQ(ALIGN_CENTER | ALIGN_TOP, third->align);
    const SurfaceCall* full = surface.findText("-60");
    ASSERT_NE(nullptr, full);
    EXPECT_TRUE(samePoint(*full, 45, 438));
}

TEST_F(PrintGraph, SetpointLineOnlyWithADevice) {
    deviceParameters.limit1Setpoint = 50;
    RecordingSurface surface;
    drawPrintAxes(surface, 45, 430);
    EXPECT_TRUE(surface.linesWith(DrawObject::LIMIT_PEN).empty());
    setDeviceText("ELQ770");
    surface.clear();
    drawPrintAxes(surface, 45, 430);
    std::vector<SurfaceCall> limit = surface.linesWith(DrawObject::LIMIT_PEN);
    ASSERT_EQ(1u, limit.size());
    EXPECT_TRUE(isLine(limit[0], 45, 280, 546, 280));
}

class GraphClipping : public DisplayTest {};

// 171 % plots 342 pixels above the baseline: y -47, far above the panel.
TEST_F(GraphClipping, ScrolledCurveAboveHundredPercentStaysInsideThePanel) {
    RecordingSurface surface;
    startGraph(surface, 0);
    pushSample(171);
    pushSample(0);
    scrollTrend(surface);
    std::vector<SurfaceCall> curve = surface.linesWith(DrawObject::CURVE_PEN);
    ASSERT_EQ(2u, curve.size());
    EXPECT_EQ(-47, curve[0].y);
    EXPECT_FALSE(surface.clippedPixels().empty());
    EXPECT_EQ(0, surface.pixelsOutside(GRAPH_INSIDE));
    // Inside the panel the segment is drawn as before, up to its top row.
    bool reachesPanelTop = false;
    for (const PaintedPixel& pixel : surface.pixels())
        if (pixel.pen == DrawObject::CURVE_PEN && pixel.y == GRAPH_INSIDE.top) reachesPanelTop = true;
    EXPECT_TRUE(reachesPanelTop);
}

TEST_F(GraphClipping, RedrawnCurveAboveHundredPercentStaysInsideThePanel) {
    RecordingSurface surface;
    for (int i = 0; i < 20; ++i) pushSample(i % 2 ? 171 : 120);
    scrollTrend(surface);
    surface.clear();
    redrawTrend(surface);
    EXPECT_FALSE(surface.clippedPixels().empty());
    EXPECT_EQ(0, surface.pixelsOutside(GRAPH_INSIDE));
}

TEST_F(GraphClipping, SetpointAboveThePanelDrawsNothingOutside) {
    setDeviceText("ELQ770");
    deviceParameters.limit1Setpoint = 150;
    RecordingSurface surface;
    drawTrendAxes(surface);
    scrollTrend(surface);
    EXPECT_FALSE(surface.clippedPixels().empty());
    EXPECT_EQ(0, surface.pixelsOutside(GRAPH_INSIDE));
}

TEST_F(GraphClipping, CurveWithinHundredPercentLosesNoPixel) {
    setDeviceText("ELQ770");
    deviceParameters.limit1Setpoint = 100;
    RecordingSurface surface;
    drawTrendAxes(surface);
    for (int i = 0; i <= 100; i += 5) pushSample(i);
    scrollTrend(surface);
    redrawTrend(surface);
    EXPECT_TRUE(surface.clippedPixels().empty());
    EXPECT_FALSE(surface.pixels().empty());
}

TEST_F(GraphClipping, EveryScreenOperationClipsToThePanelInside) {
    pushSample(10);
    const std::function<void(DrawSurface&)> operations[] = {scrollTrend, redrawTrend, drawTrendAxes};
    for (const auto& operation : operations) {
        RecordingSurface surface;
        operation(surface);
        std::vector<SurfaceCall> clips = surface.callsOf(SurfaceOp::PUSH_CLIP);
        ASSERT_EQ(1u, clips.size());
        EXPECT_TRUE(samePoint(clips[0], 346, 61));
        EXPECT_EQ(934, clips[0].x2);
        EXPECT_EQ(324, clips[0].y2);
        EXPECT_EQ(SurfaceOp::PUSH_CLIP, surface.calls().front().op);
        EXPECT_EQ(SurfaceOp::POP_CLIP, surface.calls().back().op);
    }
}

// 150 % prints 450 units above the time axis: over the header lines in
// portrait, above the page's top in landscape.
TEST_F(GraphClipping, PaperCurveAndSetpointLineStayInsideThePaperGraph) {
    for (int i = 0; i < TREND_SIZE; ++i) trendHistory[i] = i < 250 ? 0 : 300;
    setDeviceText("ELQ770");
    deviceParameters.limit1Setpoint = 140;
    const PanelRect area = printGraphArea(45, 430);
    EXPECT_EQ(45, area.left);
    EXPECT_EQ(120, area.top);
    EXPECT_EQ(547, area.right);
    EXPECT_EQ(431, area.bottom);
    RecordingSurface surface;
    drawPrintAxes(surface, 45, 430);
    drawPrintTrend(surface, 45, 430);
    auto inArea = [&](const PaintedPixel& p) {
        return p.x >= area.left && p.x < area.right && p.y >= area.top && p.y < area.bottom;
    };
    int drawn[2] = {}, heldBack[2] = {};
    for (const PaintedPixel& pixel : surface.pixels()) {
        if (pixel.pen == DrawObject::AXIS_PEN) continue;  // the axes are not cut
        EXPECT_TRUE(inArea(pixel)) << pixel.x << "," << pixel.y;
        ++drawn[pixel.pen == DrawObject::CURVE_PEN ? 0 : 1];
    }
    for (const PaintedPixel& pixel : surface.clippedPixels()) ++heldBack[pixel.pen == DrawObject::CURVE_PEN ? 0 : 1];
    EXPECT_GT(drawn[0], 500) << "the baseline and the rise up to the axis tip";
    EXPECT_GT(heldBack[0], 300) << "the curve above the area";
    EXPECT_GT(heldBack[1], 400) << "the setpoint line above the area";
    EXPECT_EQ(0, surface.state().clipDepth);
}

class TrendStateBalance : public DisplayTest {};

TEST_F(TrendStateBalance, EveryOperationRestoresWhatItChanged) {
    setDeviceText("ELQ770");
    deviceParameters.limit1Setpoint = 60;
    pushSample(10);
    pushSample(20);
    const std::function<void(DrawSurface&)> operations[] = {
        scrollTrend, redrawTrend, drawTrendAxes,
        [](DrawSurface& s) { drawPrintAxes(s, 45, 430); },
        [](DrawSurface& s) { drawPrintTrend(s, 45, 430); }};
    int index = 0;
    for (const auto& operation : operations) {
        SCOPED_TRACE("operation " + std::to_string(index++));
        RecordingSurface surface;
        surface.setTextAlign(ALIGN_CENTER | ALIGN_BOTTOM);
        surface.setBkColor(rgbColour(1, 2, 3));
        SurfaceState before = surface.state();
        operation(surface);
        EXPECT_TRUE(surface.state() == before);
    }
}
