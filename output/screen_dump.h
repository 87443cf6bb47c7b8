// The screen dump's portable part: the header band repainted before the
// picture is taken, so that the dump shows the device text of the moment.
// The rest of the dump is in screen_dump_win32.cpp; the file layout in
// bitmap_file.h. Window thread only.
#pragma once

#include "display/draw_surface.h"

// A window's rectangle as the system reports it (right and bottom
// exclusive), and the area of the screen the dump copies from it.
struct DumpRect {
    int left, top, right, bottom;
};
struct DumpArea {
    int x, y, width, height;
};

// The area to copy for a window rectangle given in the coordinates of the
// screen it is copied from, which on a scaled display are physical pixels
// (the capture then runs in a per-monitor-aware thread context, where the
// system reports the rectangle in those pixels). False for an empty or
// inverted rectangle, or one beyond what a bitmap can hold.
bool dumpAreaOf(const DumpRect& window, DumpArea* area);

// The header band refilled and its line drawn as the paint draws it; the
// surface's brush, font, alignment and background colour are put back.
void refreshHeaderBand(DrawSurface& surface);
