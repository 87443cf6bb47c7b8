#include "display/trend_graph.h"
#include "display/trend_graph_testing.h"

#include <cstring>

#include "display/display_state.h"
#include "display/readout_text.h"
#include "params/parameter_set.h"
#include "params/settings.h"

int32_t trendHistory[TREND_SIZE];
uint16_t trendHistoryIndex = 0;
int32_t lastTrendValue = 0;

const char TIME_LABELS[3][3][6] = {
    {"-3.3", "-6.6", "-10"},
    {"-10", "-20", "-30"},
    {"-20", "-40", "-60"},
};

namespace {

// Newest segment and the scrolled band: 502 x 201 pixels from x 365 and y 95.
constexpr int SEGMENT_START_X = 865;
constexpr int BAND_WIDTH = 502;
constexpr int BAND_HEIGHT = TREND_BASELINE_Y - TREND_TOP_Y + 1;
constexpr int TIME_TICK_X[3] = {702, 535, TREND_LEFT_X};
constexpr int PRINT_TIME_TICK_DX[3] = {335, 168, 0};

uint16_t nextIndex(uint16_t index) {
    return static_cast<uint16_t>(index + 1 == TREND_SIZE ? 0 : index + 1);
}

void line(DrawSurface& surface, int x1, int y1, int x2, int y2) {
    surface.moveTo(x1, y1);
    surface.lineTo(x2, y2);
}

void text(DrawSurface& surface, int x, int y, const char* label) {
    surface.textOut(x, y, label, static_cast<int>(std::strlen(label)));
}

// Keeps everything the graph draws inside the graph panel (or the paper
// graph's area) for one operation.
class GraphClip {
public:
    explicit GraphClip(DrawSurface& surface, const PanelRect& area = GRAPH_INSIDE) : surface_(surface) {
        surface_.pushClip(area);
    }
    ~GraphClip() { surface_.popClip(); }
    GraphClip(const GraphClip&) = delete;
    GraphClip& operator=(const GraphClip&) = delete;

private:
    DrawSurface& surface_;
};

// Draws the segment of a sample taken out of the ring; the band has already
// moved one pixel left.
void drawNextSample(DrawSurface& surface, int32_t value) {
    surface.moveTo(SEGMENT_START_X, TREND_BASELINE_Y - lastTrendValue);
    lastTrendValue = value;
    trendHistory[trendHistoryIndex] = value;
    if (liveState.trendEmpty.load(std::memory_order_relaxed) != 0)
        liveState.trendEmpty.store(0, std::memory_order_relaxed);
    else
        surface.lineTo(SEGMENT_START_X + 1, TREND_BASELINE_Y - value);
}

}  // namespace

void resetTrendHistory() {
    std::memset(trendHistory, 0, sizeof trendHistory);
    trendHistoryIndex = 0;
    lastTrendValue = 0;
}

int activeSetpoint() {
    return loadField(deviceParameters.activeLimit) == 0 ? loadField(deviceParameters.limit1Setpoint)
                                                        : loadField(deviceParameters.limit2Setpoint);
}

void scrollTrend(DrawSurface& surface) {
    GraphClip clip(surface);
    SelectionToken previousPen = surface.selectObject(DrawObject::ERASE_PEN);
    line(surface, TREND_NEWEST_X, TREND_TOP_Y, TREND_NEWEST_X, TREND_BASELINE_Y);
    if (deviceTextPresent()) {
        surface.selectObject(DrawObject::LIMIT_PEN);
        int y = TREND_BASELINE_Y - 2 * activeSetpoint();
        line(surface, TREND_NEWEST_X, y, TREND_NEWEST_X + 1, y);
    }
    surface.selectObject(DrawObject::CURVE_PEN);
    int32_t value;
    while (takeTrendSample(&value)) {
        surface.blitWithin(TREND_LEFT_X, TREND_TOP_Y, BAND_WIDTH, BAND_HEIGHT, TREND_LEFT_X + 1,
                           TREND_TOP_Y);
        drawNextSample(surface, 2 * value);  // 2 pixels per percent
        trendHistoryIndex = nextIndex(trendHistoryIndex);
    }
    surface.restoreObject(previousPen);
}

void redrawTrend(DrawSurface& surface) {
    if (liveState.trendEmpty.load(std::memory_order_relaxed) != 0) return;
    GraphClip clip(surface);
    SelectionToken previousPen = surface.selectObject(DrawObject::CURVE_PEN);
    uint16_t index = trendHistoryIndex;
    surface.moveTo(TREND_LEFT_X, TREND_BASELINE_Y - trendHistory[index]);
    for (int column = 1; column < TREND_SIZE; ++column) {
        index = nextIndex(index);
        surface.lineTo(TREND_LEFT_X + column, TREND_BASELINE_Y - trendHistory[index]);
    }
    int newest = trendHistory[trendHistoryIndex == 0 ? TREND_SIZE - 1 : trendHistoryIndex - 1];
    line(surface, SEGMENT_START_X, TREND_BASELINE_Y - newest, SEGMENT_START_X + 1,
         TREND_BASELINE_Y - newest);
    surface.restoreObject(previousPen);
}

namespace {

void drawScreenAxisLines(DrawSurface& surface) {
    line(surface, TREND_LEFT_X, 295, 878, 295);
    surface.lineTo(873, 290);
    line(surface, 878, 295, 873, 300);
    line(surface, LOAD_AXIS_X, 300, LOAD_AXIS_X, 85);
    surface.lineTo(873, 90);
    line(surface, LOAD_AXIS_X, 85, 863, 90);
    for (int y = 245; y >= TREND_TOP_Y; y -= 50) line(surface, LOAD_AXIS_X, y, 871, y);
    for (int x : TIME_TICK_X) line(surface, x, 295, x, 298);
}

void drawScreenAxisLabels(DrawSurface& surface) {
    text(surface, 873, 85, "P[%]");
    text(surface, 876, 252, "25");
    text(surface, 876, 202, "50");
    text(surface, 876, 152, "75");
    text(surface, 876, 102, "100");
    surface.setTextAlign(ALIGN_LEFT | ALIGN_TOP);
    text(surface, LOAD_AXIS_X, 300, "t[s]");
    surface.setTextAlign(ALIGN_CENTER | ALIGN_TOP);
    const int roll = rollIndexNow();
    for (int i = 0; i < 3; ++i) text(surface, TIME_TICK_X[i], 303, TIME_LABELS[roll][i]);
}

}  // namespace

void drawTrendAxes(DrawSurface& surface) {
    GraphClip clip(surface);
    SelectionToken previousPen = surface.selectObject(DrawObject::AXIS_PEN);
    drawScreenAxisLines(surface);
    if (deviceTextPresent()) {
        surface.selectObject(DrawObject::LIMIT_PEN);
        int y = TREND_BASELINE_Y - 2 * activeSetpoint();
        line(surface, TREND_LEFT_X, y, LOAD_AXIS_X, y);
    }
    surface.restoreObject(previousPen);
    SelectionToken previousFont = surface.selectObject(DrawObject::AXIS_FONT);
    uint32_t previousColour = surface.setBkColor(PANEL_GREY);
    uint32_t previousAlign = surface.setTextAlign(ALIGN_LEFT | ALIGN_BOTTOM);
    drawScreenAxisLabels(surface);
    surface.setTextAlign(previousAlign);
    surface.setBkColor(previousColour);
    surface.restoreObject(previousFont);
}

namespace {

void drawPrintAxisLines(DrawSurface& surface, int x, int y) {
    const int a = x + 501;
    line(surface, x, y, x + 511, y);
    surface.lineTo(x + 506, y - 5);
    line(surface, x + 511, y, x + 506, y + 5);
    line(surface, a, y + 5, a, y - 310);
    surface.lineTo(x + 506, y - 305);
    line(surface, a, y - 310, x + 496, y - 305);
    for (int step = 75; step <= 300; step += 75) line(surface, a, y - step, x + 504, y - step);
    for (int dx : PRINT_TIME_TICK_DX) line(surface, x + dx, y, x + dx, y + 3);
}

void drawPrintAxisLabels(DrawSurface& surface, int x, int y) {
    const int a = x + 501;
    uint32_t previousAlign = surface.setTextAlign(ALIGN_CENTER | ALIGN_BOTTOM);
    text(surface, a, y - 315, "P[%]");
    surface.setTextAlign(ALIGN_LEFT | ALIGN_BOTTOM);
    text(surface, x + 509, y - 68, "25");
    text(surface, x + 509, y - 143, "50");
    text(surface, x + 509, y - 218, "75");
    text(surface, x + 509, y - 293, "100");
    surface.setTextAlign(ALIGN_LEFT | ALIGN_TOP);
    text(surface, a, y + 5, "t[s]");
    surface.setTextAlign(ALIGN_CENTER | ALIGN_TOP);
    const int roll = rollIndexNow();
    for (int i = 0; i < 3; ++i) text(surface, x + PRINT_TIME_TICK_DX[i], y + 8, TIME_LABELS[roll][i]);
    surface.setTextAlign(previousAlign);
}

}  // namespace

// From the time axis up to the tip of the load axis, and from the left end of
// the time axis to the load axis, both lines included.
PanelRect printGraphArea(int x, int y) { return {x, y - 310, x + 502, y + 1}; }

// On paper the page's own background colour stays; 3 units per percent.
void drawPrintAxes(DrawSurface& surface, int x, int y) {
    SelectionToken previousPen = surface.selectObject(DrawObject::AXIS_PEN);
    drawPrintAxisLines(surface, x, y);
    if (deviceTextPresent()) {
        GraphClip clip(surface, printGraphArea(x, y));
        surface.selectObject(DrawObject::LIMIT_PEN);
        line(surface, x, y - 3 * activeSetpoint(), x + 501, y - 3 * activeSetpoint());
    }
    surface.restoreObject(previousPen);
    SelectionToken previousFont = surface.selectObject(DrawObject::AXIS_FONT);
    drawPrintAxisLabels(surface, x, y);
    surface.restoreObject(previousFont);
}

// History values are 2 per percent; v + v/2 (truncating) makes 3 per percent.
// An untouched history prints as a line on the baseline.
void drawPrintTrend(DrawSurface& surface, int x, int y) {
    GraphClip clip(surface, printGraphArea(x, y));
    SelectionToken previousPen = surface.selectObject(DrawObject::CURVE_PEN);
    uint16_t index = trendHistoryIndex;
    surface.moveTo(x, y - (trendHistory[index] + trendHistory[index] / 2));
    for (int column = 1; column < TREND_SIZE; ++column) {
        index = nextIndex(index);
        surface.lineTo(x + column, y - (trendHistory[index] + trendHistory[index] / 2));
    }
    surface.restoreObject(previousPen);
}
