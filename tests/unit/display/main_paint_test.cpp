#include "display/main_paint.h"

#include <vector>

#include "display_test_support.h"
#include "lang/language_table.h"

namespace {

struct ExpectedText {
    std::string text;
    int x;
    int y;
    DrawObject font;
    uint32_t align;
};

std::vector<PanelRect> rectangles(const RecordingSurface& surface) {
    std::vector<PanelRect> found;
    for (const SurfaceCall& call : surface.callsOf(SurfaceOp::RECTANGLE)) {
        // Every panel is grey inside the DC's own black 1-pixel outline.
        EXPECT_EQ(DrawObject::PANEL_BRUSH, call.object);
        EXPECT_EQ(DrawObject::DEFAULT_PEN, call.pen);
        found.push_back({call.x, call.y, call.x2, call.y2});
    }
    return found;
}

bool sameRects(const std::vector<PanelRect>& actual, const std::vector<PanelRect>& expected) {
    if (actual.size() != expected.size()) return false;
    for (std::size_t i = 0; i < actual.size(); ++i)
        if (actual[i].left != expected[i].left || actual[i].top != expected[i].top ||
            actual[i].right != expected[i].right || actual[i].bottom != expected[i].bottom)
            return false;
    return true;
}

void expectTexts(const RecordingSurface& surface, const std::vector<ExpectedText>& expected) {
    std::vector<SurfaceCall> texts = surface.callsOf(SurfaceOp::TEXT_OUT);
    ASSERT_EQ(expected.size(), texts.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("text " + std::to_string(i) + " '" + expected[i].text + "'");
        EXPECT_EQ(expected[i].text, texts[i].text);
        EXPECT_EQ(expected[i].x, texts[i].x);
        EXPECT_EQ(expected[i].y, texts[i].y);
        EXPECT_EQ(expected[i].font, texts[i].object);
        EXPECT_EQ(expected[i].align, texts[i].align);
        EXPECT_EQ(PANEL_GREY, texts[i].colour);
    }
}

constexpr uint32_t RIGHT_BOTTOM = ALIGN_RIGHT | ALIGN_BOTTOM;
constexpr uint32_t LEFT_BOTTOM = ALIGN_LEFT | ALIGN_BOTTOM;

}  // namespace

class ReadoutPaint : public DisplayTest {};

TEST_F(ReadoutPaint, BeforeFirstReplyEveryReadoutShowsDashes) {
    RecordingSurface surface;
    paintClientArea(surface);
    expectTexts(surface, {
        {"Max Peak [%]:", 180, 100, DrawObject::LABEL_FONT, RIGHT_BOTTOM},
        {"Measmnt. [%]:", 180, 145, DrawObject::LABEL_FONT, RIGHT_BOTTOM},
        {"Min Peak [%]:", 180, 190, DrawObject::LABEL_FONT, RIGHT_BOTTOM},
        {"Active Limit: ", 180, 270, DrawObject::LABEL_FONT, RIGHT_BOTTOM},
        {"- - -" + blanks(20), 180, 270, DrawObject::LABEL_FONT, LEFT_BOTTOM},
        {"Corvanta: - - -" + blanks(27), 35, 45, DrawObject::VALUE_FONT, LEFT_BOTTOM},
        {"--", 250, 153, DrawObject::READING_FONT, RIGHT_BOTTOM},
        {"--", 250, 103, DrawObject::VALUE_FONT, RIGHT_BOTTOM},
        {"--", 250, 193, DrawObject::VALUE_FONT, RIGHT_BOTTOM},
    });
}

TEST_F(ReadoutPaint, LiveValuesReachTheirPlaces) {
    setDeviceText("ELQ770 V2.1");
    deviceParameters.activeLimit = 1;
    deviceParameters.limit2Type = 1;
    liveState.measurement = 100;
    liveState.maxPeak = 105;
    liveState.minPeak = 5;
    RecordingSurface surface;
    paintClientArea(surface);
    std::vector<SurfaceCall> texts = surface.callsOf(SurfaceOp::TEXT_OUT);
    ASSERT_EQ(9u, texts.size());
    EXPECT_EQ("Limit 2 (Min)  ", texts[4].text);
    EXPECT_EQ("Corvanta: ELQ770 V2.1" + blanks(25), texts[5].text);
    EXPECT_EQ("100", texts[6].text);
    EXPECT_EQ("  105", texts[7].text);
    EXPECT_TRUE(samePoint(texts[7], 250, 103));
    EXPECT_EQ("  05", texts[8].text);
    EXPECT_TRUE(samePoint(texts[8], 250, 193));
}

TEST_F(ReadoutPaint, DeviceTextWithoutMeasurementShowsLimitButDashedHeader) {
    setDeviceText("ELQ770");
    RecordingSurface surface;
    paintClientArea(surface);
    std::vector<SurfaceCall> texts = surface.callsOf(SurfaceOp::TEXT_OUT);
    ASSERT_EQ(9u, texts.size());
    EXPECT_EQ("Limit 1 (Max)  ", texts[4].text);
    EXPECT_EQ("Corvanta: - - -" + blanks(27), texts[5].text);
}

TEST_F(ReadoutPaint, LabelsFollowTheLanguage) {
    setLanguage(LANGUAGE_GERMAN);
    RecordingSurface surface;
    paintClientArea(surface);
    char german[LANGUAGE_TEXT_SIZE];
    langText(german, 25);
    std::vector<SurfaceCall> texts = surface.callsOf(SurfaceOp::TEXT_OUT);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(std::string(german), texts[0].text);
    EXPECT_NE("Max Peak [%]:", texts[0].text);
}

class PanelRefill : public DisplayTest {};

TEST_F(PanelRefill, NoFlagFillsNoPanel) {
    RecordingSurface surface;
    paintClientArea(surface);
    EXPECT_TRUE(surface.callsOf(SurfaceOp::RECTANGLE).empty());
    EXPECT_EQ(nullptr, surface.findText("P[%]"));
}

TEST_F(PanelRefill, RedrawAllFillsReadoutGraphHeaderThenDrawsAxesOnce) {
    redrawAll = 1;
    RecordingSurface surface;
    paintClientArea(surface);
    EXPECT_TRUE(sameRects(rectangles(surface), {READOUT_PANEL, GRAPH_PANEL, HEADER_BAND}));
    EXPECT_EQ(0, redrawAll);
    ASSERT_NE(nullptr, surface.findText("P[%]"));
    // The axes come after the panels, or the fill would cover them.
    const auto& calls = surface.calls();
    std::size_t lastRect = 0, firstAxisText = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op == SurfaceOp::RECTANGLE) lastRect = i;
        if (firstAxisText == 0 && calls[i].op == SurfaceOp::TEXT_OUT && calls[i].text == "P[%]")
            firstAxisText = i;
    }
    EXPECT_LT(lastRect, firstAxisText);
    RecordingSurface next;
    paintClientArea(next);
    EXPECT_TRUE(next.callsOf(SurfaceOp::RECTANGLE).empty());
}

TEST_F(PanelRefill, RedrawHeaderFillsReadoutThenHeaderAndNoGraph) {
    redrawHeader = 1;
    RecordingSurface surface;
    paintClientArea(surface);
    EXPECT_TRUE(sameRects(rectangles(surface), {READOUT_PANEL, HEADER_BAND}));
    EXPECT_EQ(0, redrawHeader);
    EXPECT_EQ(nullptr, surface.findText("P[%]"));
}

TEST_F(PanelRefill, BothFlagsFillReadoutAndHeaderTwice) {
    redrawHeader = 1;
    redrawAll = 1;
    RecordingSurface surface;
    paintClientArea(surface);
    EXPECT_TRUE(sameRects(rectangles(surface),
                          {READOUT_PANEL, HEADER_BAND, READOUT_PANEL, GRAPH_PANEL, HEADER_BAND}));
}

TEST_F(PanelRefill, PanelsFilledBeforeAnyReadoutText) {
    redrawAll = 1;
    RecordingSurface surface;
    paintClientArea(surface);
    const auto& calls = surface.calls();
    std::size_t firstLabel = 0, lastRect = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op == SurfaceOp::RECTANGLE) lastRect = i;
        if (firstLabel == 0 && calls[i].op == SurfaceOp::TEXT_OUT && calls[i].text == "Max Peak [%]:")
            firstLabel = i;
    }
    EXPECT_LT(lastRect, firstLabel);
}

class GraphInPaint : public DisplayTest {};

TEST_F(GraphInPaint, RunningGraphTakesPendingSamples) {
    pushSample(10);
    pushSample(20);
    RecordingSurface surface;
    paintClientArea(surface);
    EXPECT_EQ(2u, surface.callsOf(SurfaceOp::BLIT_WITHIN).size());
    EXPECT_EQ(liveState.trendWriteIndex.load(), liveState.trendReadIndex.load());
}

TEST_F(GraphInPaint, FrozenGraphRedrawsHistoryAndLeavesSamplesWaiting) {
    pushSample(10);
    pushSample(20);
    RecordingSurface first;
    paintClientArea(first);
    graphFrozen = 1;
    pushSample(30);
    RecordingSurface surface;
    paintClientArea(surface);
    EXPECT_TRUE(surface.callsOf(SurfaceOp::BLIT_WITHIN).empty());
    EXPECT_EQ(TREND_SIZE, static_cast<int>(surface.linesWith(DrawObject::CURVE_PEN).size()));
    EXPECT_NE(liveState.trendWriteIndex.load(), liveState.trendReadIndex.load());
}

TEST_F(GraphInPaint, RedrawAllWhileFrozenDrawsTheCurveTwice) {
    pushSample(10);
    pushSample(20);
    RecordingSurface first;
    paintClientArea(first);
    graphFrozen = 1;
    redrawAll = 1;
    RecordingSurface surface;
    paintClientArea(surface);
    EXPECT_EQ(2 * TREND_SIZE, static_cast<int>(surface.linesWith(DrawObject::CURVE_PEN).size()));
}

TEST_F(GraphInPaint, PaintLeavesSurfaceAsFoundWhateverTheFlags) {
    setDeviceText("ELQ770");
    liveState.measurement = 50;
    pushSample(50);
    pushSample(60);
    for (int flags = 0; flags < 8; ++flags) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        redrawAll = flags & 1;
        redrawHeader = (flags >> 1) & 1;
        graphFrozen = (flags >> 2) & 1;
        RecordingSurface surface;
        paintClientArea(surface);
        EXPECT_TRUE(surface.state() == RecordingSurface::initialState());
    }
}

// The 20 ms repaint covers only the graph panel: it scrolls the graph but
// draws no readout text, which could change no pixel there.
TEST_F(GraphInPaint, GraphOnlyRepaintScrollsAndDrawsNoReadouts) {
    pushSample(10);
    RecordingSurface surface;
    surface.setPaintArea(GRAPH_PANEL);
    paintClientArea(surface);
    EXPECT_EQ(1u, surface.callsOf(SurfaceOp::BLIT_WITHIN).size());
    EXPECT_TRUE(surface.callsOf(SurfaceOp::TEXT_OUT).empty());
}

TEST_F(GraphInPaint, RepaintTouchingHeaderOrReadoutPanelDrawsAllReadouts) {
    const PanelRect areas[] = {{900, 40, 935, 70}, {300, 300, 400, 325}, {950, 20, 960, 30}};
    for (const PanelRect& area : areas) {
        RecordingSurface surface;
        surface.setPaintArea(area);
        paintClientArea(surface);
        EXPECT_EQ(9u, surface.callsOf(SurfaceOp::TEXT_OUT).size()) << area.left << "," << area.top;
        // GDI maps the rectangle to device space: extreme values may overflow
        // there on Windows, so it stays inside the client area.
        for (const PanelRect& query : surface.visibilityQueries()) {
            EXPECT_GE(query.left, 0);
            EXPECT_GE(query.top, 0);
            EXPECT_LE(query.right, CLIENT_WIDTH);
            EXPECT_LE(query.bottom, CLIENT_HEIGHT);
        }
    }
}
