#include "display/main_paint.h"

#include <cstring>

#include "display/display_state.h"
#include "display/readout_text.h"
#include "display/trend_graph.h"
#include "lang/language_table.h"
#include "link/live_state.h"

namespace {

struct LabelPlace {
    int textIndex;
    int y;
};

// Labels end at x 180, numbers at x 250; both bottom-aligned.
constexpr int LABEL_RIGHT_X = 180;
constexpr int NUMBER_RIGHT_X = 250;
constexpr LabelPlace READOUT_LABELS[4] = {{25, 100}, {27, 145}, {26, 190}, {57, 270}};
constexpr int ACTIVE_LIMIT_Y = 270;
constexpr int HEADER_X = 35;
constexpr int HEADER_Y = 45;
constexpr int MEASUREMENT_Y = 153;
constexpr int MAX_PEAK_Y = 103;
constexpr int MIN_PEAK_Y = 193;
// The client area's bands above and left of the graph panel. Kept inside the
// client area: GDI maps the rectangle to device space, where extreme values
// may overflow on Windows.
constexpr PanelRect ABOVE_GRAPH{0, 0, CLIENT_WIDTH, GRAPH_PANEL.top};
constexpr PanelRect LEFT_OF_GRAPH{0, GRAPH_PANEL.top, GRAPH_PANEL.left, CLIENT_HEIGHT};

void drawText(DrawSurface& surface, int x, int y, const char* text) {
    surface.textOut(x, y, text, static_cast<int>(std::strlen(text)));
}

void fillPanel(DrawSurface& surface, const PanelRect& panel) {
    surface.rectangle(panel.left, panel.top, panel.right, panel.bottom);
}

void refillPanels(DrawSurface& surface, const PanelRect* const panels[], int count) {
    SelectionToken previousBrush = surface.selectObject(DrawObject::PANEL_BRUSH);
    for (int i = 0; i < count; ++i) fillPanel(surface, *panels[i]);
    surface.restoreObject(previousBrush);
}

void refillFlaggedPanels(DrawSurface& surface) {
    if (redrawHeader) {
        static const PanelRect* const panels[] = {&READOUT_PANEL, &HEADER_BAND};
        refillPanels(surface, panels, 2);
        redrawHeader = 0;
    }
    if (redrawAll) {
        static const PanelRect* const panels[] = {&READOUT_PANEL, &GRAPH_PANEL, &HEADER_BAND};
        refillPanels(surface, panels, 3);
        redrawAll = 0;
        drawTrendAxes(surface);
        redrawTrend(surface);
    }
}

void drawLabels(DrawSurface& surface) {
    char label[LANGUAGE_TEXT_SIZE];
    for (const LabelPlace& place : READOUT_LABELS) {
        langText(label, place.textIndex);
        drawText(surface, LABEL_RIGHT_X, place.y, label);
    }
}

void drawNumbers(DrawSurface& surface) {
    char number[READOUT_TEXT_SIZE];
    surface.setTextAlign(ALIGN_RIGHT | ALIGN_BOTTOM);
    surface.selectObject(DrawObject::READING_FONT);
    formatMeasurement(number, sizeof number, liveState.measurement.load(std::memory_order_relaxed));
    drawText(surface, NUMBER_RIGHT_X, MEASUREMENT_Y, number);
    surface.selectObject(DrawObject::VALUE_FONT);
    formatPeak(number, sizeof number, liveState.maxPeak.load(std::memory_order_relaxed));
    drawText(surface, NUMBER_RIGHT_X, MAX_PEAK_Y, number);
    formatPeak(number, sizeof number, liveState.minPeak.load(std::memory_order_relaxed));
    drawText(surface, NUMBER_RIGHT_X, MIN_PEAK_Y, number);
}

// Texts are opaque on PANEL_GREY, so each covers what the previous paint left.
void drawReadouts(DrawSurface& surface) {
    SelectionToken previousFont = surface.selectObject(DrawObject::LABEL_FONT);
    uint32_t previousAlign = surface.setTextAlign(ALIGN_RIGHT | ALIGN_BOTTOM);
    uint32_t previousColour = surface.setBkColor(PANEL_GREY);
    drawLabels(surface);
    char text[READOUT_TEXT_SIZE];
    surface.setTextAlign(ALIGN_LEFT | ALIGN_BOTTOM);
    activeLimitTextNow(text, sizeof text);
    drawText(surface, LABEL_RIGHT_X, ACTIVE_LIMIT_Y, text);
    drawHeaderLine(surface);
    drawNumbers(surface);
    surface.setTextAlign(previousAlign);
    surface.setBkColor(previousColour);
    surface.restoreObject(previousFont);
}

}  // namespace

void paintClientArea(DrawSurface& surface) {
    refillFlaggedPanels(surface);
    if (graphFrozen)
        redrawTrend(surface);
    else
        scrollTrend(surface);
    // Every readout text lies above the graph panel or left of it, even the
    // longest header line. The 20 ms repaint covers only the graph panel,
    // where drawing them would change no pixel, so it skips them.
    if (surface.rectVisible(ABOVE_GRAPH) || surface.rectVisible(LEFT_OF_GRAPH))
        drawReadouts(surface);
}

void drawHeaderLine(DrawSurface& surface) {
    char text[READOUT_TEXT_SIZE];
    surface.selectObject(DrawObject::VALUE_FONT);
    headerLineNow(text, sizeof text);
    drawText(surface, HEADER_X, HEADER_Y, text);
}
