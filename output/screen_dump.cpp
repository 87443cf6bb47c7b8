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

DumpRect dumpRectOf(const DumpRect& window, const DumpRect* visibleFrame) {
    if (visibleFrame == nullptr) return window;
    const DumpRect& frame = *visibleFrame;
    bool inside = frame.left >= window.left && frame.top >= window.top && frame.right <= window.right &&
                  frame.bottom <= window.bottom;
    bool empty = frame.right <= frame.left || frame.bottom <= frame.top;
    return inside && !empty ? frame : window;
}

bool dumpTempPath(const char16_t* chosen, unsigned serial, char16_t* path, std::size_t size) {
    std::size_t folderLength = 0;  // up to and with the last separator
    std::size_t length = 0;
    for (; chosen[length] != u'\0'; ++length)
        if (chosen[length] == u'\\' || chosen[length] == u'/') folderLength = length + 1;
    if (folderLength == 0 || folderLength + DUMP_TEMP_NAME_LENGTH >= size) return false;
    for (std::size_t i = 0; i < folderLength; ++i) path[i] = chosen[i];
    constexpr char16_t HEX[] = u"0123456789ABCDEF";
    char16_t* name = path + folderLength;
    name[0] = u'~';
    for (int digit = 0; digit < 4; ++digit) name[1 + digit] = HEX[serial >> (12 - 4 * digit) & 0xF];
    name[DUMP_TEMP_NAME_LENGTH] = u'\0';
    return true;
}
