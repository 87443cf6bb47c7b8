// The scrolling trend graph in the graph panel, and the same graph on paper.
//
// Threads: the window thread alone runs everything here and owns the history.
// From the trend ring of liveState it takes samples with takeTrendSample
// (the consumer's side of the ring, see link/live_state.h), and it alone
// writes trendEmpty.
#pragma once

#include <cstdint>

#include "display/draw_surface.h"
#include "link/live_state.h"

// The values on screen, 2 pixels per percent (the ring's samples are percent);
// trendHistoryIndex is the next entry to write, which is also the oldest.
extern int32_t trendHistory[TREND_SIZE];
extern uint16_t trendHistoryIndex;
extern int32_t lastTrendValue;

// Time-axis texts by rollIndex: one third, two thirds and the full width back.
extern const char TIME_LABELS[3][3][6];

constexpr int TREND_BASELINE_Y = 295;
constexpr int TREND_TOP_Y = 95;      // 100 %
constexpr int TREND_LEFT_X = 365;
constexpr int TREND_NEWEST_X = 867;  // the column that scrollTrend clears
constexpr int LOAD_AXIS_X = 868;

// The setpoint of the active limit, percent.
int activeSetpoint();

// Each operation puts back the pen, font, alignment and background colour it
// changed. The screen operations keep to the inside of the graph panel.
void scrollTrend(DrawSurface& surface);
void redrawTrend(DrawSurface& surface);
void drawTrendAxes(DrawSurface& surface);
// (x, y) is the left end of the time axis in the page's units. The curve and
// the setpoint line stay inside printGraphArea: a load above about 103 % is
// cut at the tip of the load axis instead of running into the header lines
// or off the page.
PanelRect printGraphArea(int x, int y);
void drawPrintAxes(DrawSurface& surface, int x, int y);
void drawPrintTrend(DrawSurface& surface, int x, int y);
