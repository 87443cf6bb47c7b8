#include "display/main_paint_win32.h"

#include "display/display_state.h"
#include "display/gdi_surface_win32.h"
#include "display/main_paint.h"
#include "display/trend_graph.h"

HFONT labelFont = nullptr;
HFONT readingFont = nullptr;
HFONT valueFont = nullptr;
HFONT axisFont = nullptr;
HBRUSH panelBrush = nullptr;
HPEN curvePen = nullptr;
HPEN axisPen = nullptr;
HPEN limitPen = nullptr;
HPEN erasePen = nullptr;

namespace {

// Only height and weight differ; the empty face name lets the font mapper
// choose a variable-pitch face.
HFONT createDisplayFont(LONG height, LONG weight) {
    LOGFONTA font{};
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_DONTCARE;
    return CreateFontIndirectA(&font);
}

template <typename Handle>
void deleteTyped(Handle& handle) {
    if (handle != nullptr) DeleteObject(handle);
    handle = nullptr;
}

}  // namespace

void createDisplayObjects() {
    labelFont = createDisplayFont(20, 400);
    readingFont = createDisplayFont(40, 700);
    valueFont = createDisplayFont(25, 700);
    axisFont = createDisplayFont(15, 400);
    panelBrush = CreateSolidBrush(PANEL_GREY);
    curvePen = CreatePen(PS_SOLID, 1, CURVE_BLUE);
    axisPen = CreatePen(PS_SOLID, 1, AXIS_BLACK);
    limitPen = CreatePen(PS_SOLID, 1, LIMIT_RED);
    erasePen = CreatePen(PS_SOLID, 1, PANEL_GREY);
}

void deleteDisplayObjects() {
    deleteTyped(labelFont);
    deleteTyped(readingFont);
    deleteTyped(valueFont);
    deleteTyped(axisFont);
    deleteTyped(panelBrush);
    deleteTyped(curvePen);
    deleteTyped(axisPen);
    deleteTyped(limitPen);
    deleteTyped(erasePen);
}

void paintMainWindow(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    {
        GdiSurface surface(dc);
        paintClientArea(surface);
    }
    EndPaint(window, &paint);
}

void drawPrintAxes(HDC dc, int x, int y) {
    GdiSurface surface(dc);
    drawPrintAxes(surface, x, y);
}

void drawPrintTrend(HDC dc, int x, int y) {
    GdiSurface surface(dc);
    drawPrintTrend(surface, x, y);
}
