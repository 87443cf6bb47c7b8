// The client area's content: panels, graph and readouts, drawn through a
// surface. paintMainWindow (main_paint_win32.h) runs this between BeginPaint
// and EndPaint. Window thread only.
#pragma once

#include "display/draw_surface.h"

// Refills the panels the flags ask for (and clears those flags), advances or
// redraws the graph, and draws every readout. Leaves the surface's font,
// pen, brush, alignment and background colour as it found them.
void paintClientArea(DrawSurface& surface);

// The header line ("Corvanta: " and the device text) at its place, in the
// value font; the caller has set left and bottom alignment and the panel's
// background colour, and restores the font.
void drawHeaderLine(DrawSurface& surface);
