#include "output/screen_dump.h"

#include "display/display_state.h"
#include "display/main_paint.h"

void refreshHeaderBand(DrawSurface& surface) {
    SelectionToken previousBrush = surface.selectObject(DrawObject::PANEL_BRUSH);
    surface.rectangle(HEADER_BAND.left, HEADER_BAND.top, HEADER_BAND.right, HEADER_BAND.bottom);
    surface.restoreObject(previousBrush);
    uint32_t previousAlign = surface.setTextAlign(ALIGN_LEFT | ALIGN_BOTTOM);
    SelectionToken previousFont = surface.selectObject(DrawObject::VALUE_FONT);
    uint32_t previousColour = surface.setBkColor(PANEL_GREY);
    drawHeaderLine(surface);
    surface.setTextAlign(previousAlign);
    surface.restoreObject(previousFont);
    surface.setBkColor(previousColour);
}
