// The screen dump's portable part: the header band repainted before the
// picture is taken, so that the dump shows the device text of the moment.
// The rest of the dump is in screen_dump_win32.cpp; the file layout in
// bitmap_file.h. Window thread only.
#pragma once

#include "display/draw_surface.h"

// The header band refilled and its line drawn as the paint draws it; the
// surface's brush, font, alignment and background colour are put back.
void refreshHeaderBand(DrawSurface& surface);
