// The screen dump's portable part: the header band repainted before the
// picture is taken, so that the dump shows the device text of the moment.
// The rest of the dump is in screen_dump_win32.cpp; the file layout in
// bitmap_file.h. Window thread only.
#pragma once

#include <cstddef>

#include "display/draw_surface.h"

// A window's rectangle as the system reports it (right and bottom
// exclusive), and the area of the screen the dump copies from it.
struct DumpRect {
    int left, top, right, bottom;
};
struct DumpArea {
    int x, y, width, height;
};

// The rectangle to copy: the window's visible frame as the desktop
// compositor reports it (on Windows 10 and 11 the window rectangle also
// holds an invisible resizing border, through which the desktop behind
// would show), or the window rectangle where there is no frame to go by
// (null: no compositor, or it did not answer). A frame that does not lie
// within the window rectangle is not in the same pixels (the compositor
// reports physical pixels, while a thread without a per-monitor-aware
// context is told scaled coordinates) and is not taken either.
DumpRect dumpRectOf(const DumpRect& window, const DumpRect* visibleFrame);

// The area to copy for a window rectangle given in the coordinates of the
// screen it is copied from, which on a scaled display are physical pixels
// (the capture then runs in a per-monitor-aware thread context, where the
// system reports the rectangle in those pixels). False for an empty or
// inverted rectangle, or one beyond what a bitmap can hold.
bool dumpAreaOf(const DumpRect& window, DumpArea* area);

// The picture is written into a new file beside the chosen one, which takes
// the chosen name once it is whole. The new file is named "~" and four hex
// digits, so that its path is at most four characters longer than the
// chosen one (whose own name has at least one character): it fits wherever
// the chosen file fits, also in a folder whose path leaves no room for the
// 14 characters GetTempFileName wants.
constexpr int DUMP_TEMP_NAME_LENGTH = 5;

// The new file's path for one try (the low 16 bits of serial tell the tries
// apart) beside chosen, a full path whose file name follows its last "\"
// or "/". False when chosen names no folder, or the path and its
// terminator would not fit into size characters.
bool dumpTempPath(const char16_t* chosen, unsigned serial, char16_t* path, std::size_t size);

// The header band refilled and its line drawn as the paint draws it; the
// surface's brush, font, alignment and background colour are put back.
void refreshHeaderBand(DrawSurface& surface);
