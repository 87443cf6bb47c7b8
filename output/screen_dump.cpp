#include "output/screen_dump.h"

#include <cstring>

#include "display/display_state.h"
#include "display/readout_text.h"

namespace {

constexpr int HEADER_TEXT_X = 35;
constexpr int HEADER_TEXT_Y = 45;

}  // namespace

void refreshHeaderBand(DrawSurface& surface) {
    SelectionToken previousBrush = surface.selectObject(DrawObject::PANEL_BRUSH);
    surface.rectangle(HEADER_BAND.left, HEADER_BAND.top, HEADER_BAND.right, HEADER_BAND.bottom);
    surface.restoreObject(previousBrush);
    uint32_t previousAlign = surface.setTextAlign(ALIGN_LEFT | ALIGN_BOTTOM);
    SelectionToken previousFont = surface.selectObject(DrawObject::VALUE_FONT);
    uint32_t previousColour = surface.setBkColor(PANEL_GREY);
    char text[READOUT_TEXT_SIZE];
    headerLineNow(text, sizeof text);
    surface.textOut(HEADER_TEXT_X, HEADER_TEXT_Y, text, static_cast<int>(std::strlen(text)));
    surface.setTextAlign(previousAlign);
    surface.restoreObject(previousFont);
    surface.setBkColor(previousColour);
}
