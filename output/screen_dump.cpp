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

bool dumpAreaOf(const DumpRect& window, DumpArea* area) {
    // Wider than any display; keeps width x height x 4 within 32 bits.
    constexpr long long MAX_SIDE = 32767;
    long long width = static_cast<long long>(window.right) - window.left;
    long long height = static_cast<long long>(window.bottom) - window.top;
    if (width <= 0 || height <= 0 || width > MAX_SIDE || height > MAX_SIDE) return false;
    *area = DumpArea{window.left, window.top, static_cast<int>(width), static_cast<int>(height)};
    return true;
}
