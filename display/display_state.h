// Shell flags that painting reads, and the fixed layout of the client area.
//
// Threads: the window thread alone reads and writes the flags (the shell sets
// them, painting clears redrawAll and redrawHeader after acting on them).
#pragma once

#include "display/draw_surface.h"

constexpr uint32_t PANEL_GREY = rgbColour(210, 210, 210);
constexpr uint32_t CURVE_BLUE = rgbColour(0, 0, 255);
constexpr uint32_t AXIS_BLACK = rgbColour(0, 0, 0);
constexpr uint32_t LIMIT_RED = rgbColour(255, 0, 0);

// Client-area pixels; the layout never adapts to the window size.
constexpr int CLIENT_WIDTH = 960;
constexpr int CLIENT_HEIGHT = 380;
constexpr PanelRect HEADER_BAND{25, 15, 935, 50};
constexpr PanelRect READOUT_PANEL{25, 60, 335, 325};
constexpr PanelRect GRAPH_PANEL{345, 60, 935, 325};  // the shell's graphRect

// What the graph may paint: the graph panel inside its black outline. A value
// above 100 % plots above the scrolled band; without this clip it would land
// on the header band and the window background, which no paint erases.
constexpr PanelRect GRAPH_INSIDE{GRAPH_PANEL.left + 1, GRAPH_PANEL.top + 1,
                                 GRAPH_PANEL.right - 1, GRAPH_PANEL.bottom - 1};

extern int redrawAll;     // next paint refills all panels and redraws the graph
extern int redrawHeader;  // next paint refills the readout panel and header band
extern int graphFrozen;   // the graph stands still (Pause key, alarm hold)
