// The few drawing operations the live display and the printed graph use,
// behind an interface so that the painting logic stays portable: the program
// draws through a GDI device context (gdi_surface_win32.cpp), the unit tests
// and measurements through a recording surface (tests/support).
//
// Selections and text settings return what they replaced, exactly as the
// GDI calls do, so every operation can put back what it changed.
#pragma once

#include <cstdint>

// The nine drawing objects, in the order they are created and deleted, and
// the device context's own defaults (what a fresh paint DC holds).
enum class DrawObject : int {
    LABEL_FONT,
    READING_FONT,
    VALUE_FONT,
    AXIS_FONT,
    PANEL_BRUSH,
    CURVE_PEN,
    AXIS_PEN,
    LIMIT_PEN,
    ERASE_PEN,
    DEFAULT_FONT,
    DEFAULT_BRUSH,
    DEFAULT_PEN,
};

constexpr int DISPLAY_OBJECT_COUNT = 9;

enum class ObjectKind { FONT, BRUSH, PEN };
ObjectKind objectKind(DrawObject object);

// Text alignment flags, with the values of the platform's TA_* constants so
// that the GDI surface passes them through unchanged.
constexpr uint32_t ALIGN_LEFT = 0;
constexpr uint32_t ALIGN_RIGHT = 2;
constexpr uint32_t ALIGN_CENTER = 6;
constexpr uint32_t ALIGN_TOP = 0;
constexpr uint32_t ALIGN_BOTTOM = 8;

// Colours as 0x00BBGGRR, the platform's COLORREF layout.
constexpr uint32_t rgbColour(uint32_t red, uint32_t green, uint32_t blue) {
    return red | (green << 8) | (blue << 16);
}

// A rectangle as the platform gives one: right and bottom are outside.
struct PanelRect {
    int left;
    int top;
    int right;
    int bottom;
};

// What a selection replaced: a handle on GDI, an object id when recording.
using SelectionToken = std::uintptr_t;

class DrawSurface {
public:
    virtual ~DrawSurface() = default;
    virtual void moveTo(int x, int y) = 0;
    // Draws with the current pen from the current position up to, but not
    // including, (x, y), which becomes the current position.
    virtual void lineTo(int x, int y) = 0;
    // Outlined with the current pen, filled with the current brush.
    virtual void rectangle(int left, int top, int right, int bottom) = 0;
    virtual void textOut(int x, int y, const char* text, int length) = 0;
    virtual SelectionToken selectObject(DrawObject object) = 0;
    virtual void restoreObject(SelectionToken previous) = 0;
    virtual uint32_t setTextAlign(uint32_t align) = 0;
    virtual uint32_t setBkColor(uint32_t colour) = 0;
    // Copies width x height pixels at (sourceX, sourceY) to (x, y) within
    // the same surface.
    virtual void blitWithin(int x, int y, int width, int height, int sourceX, int sourceY) = 0;
    // Narrows drawing to the rectangle until the matching popClip, which puts
    // back the clipping in force before. Nesting is at most CLIP_DEPTH deep.
    virtual void pushClip(const PanelRect& rect) = 0;
    virtual void popClip() = 0;
    // Whether any part of the rectangle lies in the area being painted (the
    // update region of a paint). Drawing outside it changes no pixel.
    virtual bool rectVisible(const PanelRect& rect) = 0;
};

constexpr int CLIP_DEPTH = 4;
