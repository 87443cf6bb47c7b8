#include "display/gdi_surface_win32.h"

#include "display/main_paint_win32.h"
#include "lang/wide_text_win32.h"

namespace {

HGDIOBJ handleOf(DrawObject object) {
    switch (object) {
    case DrawObject::LABEL_FONT: return labelFont;
    case DrawObject::READING_FONT: return readingFont;
    case DrawObject::VALUE_FONT: return valueFont;
    case DrawObject::AXIS_FONT: return axisFont;
    case DrawObject::PANEL_BRUSH: return panelBrush;
    case DrawObject::CURVE_PEN: return curvePen;
    case DrawObject::AXIS_PEN: return axisPen;
    case DrawObject::LIMIT_PEN: return limitPen;
    case DrawObject::ERASE_PEN: return erasePen;
    case DrawObject::DEFAULT_FONT: return GetStockObject(SYSTEM_FONT);
    case DrawObject::DEFAULT_BRUSH: return GetStockObject(WHITE_BRUSH);
    case DrawObject::DEFAULT_PEN: return GetStockObject(BLACK_PEN);
    }
    return nullptr;
}

}  // namespace

// A surface left with a clip pushed would leave the DC narrowed.
GdiSurface::~GdiSurface() {
    while (clipDepth_ > 0) popClip();
}

void GdiSurface::moveTo(int x, int y) { MoveToEx(dc_, x, y, nullptr); }

void GdiSurface::lineTo(int x, int y) { LineTo(dc_, x, y); }

void GdiSurface::rectangle(int left, int top, int right, int bottom) {
    Rectangle(dc_, left, top, right, bottom);
}

void GdiSurface::textOut(int x, int y, const char* text, int length) {
    // Readouts and labels are at most a language text long.
    WideText<256> wide(text, length);
    TextOutW(dc_, x, y, wide.get(), wide.length());
}

// A null handle (its creation failed) selects nothing and replaces nothing.
SelectionToken GdiSurface::selectObject(DrawObject object) {
    HGDIOBJ handle = handleOf(object);
    if (handle == nullptr) return 0;
    return reinterpret_cast<SelectionToken>(SelectObject(dc_, handle));
}

void GdiSurface::restoreObject(SelectionToken previous) {
    if (previous != 0) SelectObject(dc_, reinterpret_cast<HGDIOBJ>(previous));
}

uint32_t GdiSurface::setTextAlign(uint32_t align) { return SetTextAlign(dc_, align); }

uint32_t GdiSurface::setBkColor(uint32_t colour) { return SetBkColor(dc_, colour); }

void GdiSurface::blitWithin(int x, int y, int width, int height, int sourceX, int sourceY) {
    BitBlt(dc_, x, y, width, height, dc_, sourceX, sourceY, SRCCOPY);
}

// GetClipRgn copies the application clip region (1) or reports none (0);
// SelectClipRgn with that copy, or with null, puts it back.
void GdiSurface::pushClip(const PanelRect& rect) {
    HRGN saved = nullptr;
    if (clipDepth_ < CLIP_DEPTH) {
        saved = CreateRectRgn(0, 0, 0, 0);
        if (saved != nullptr && GetClipRgn(dc_, saved) != 1) {
            DeleteObject(saved);
            saved = nullptr;
        }
        savedClips_[clipDepth_] = saved;
    }
    ++clipDepth_;
    IntersectClipRect(dc_, rect.left, rect.top, rect.right, rect.bottom);
}

void GdiSurface::popClip() {
    if (clipDepth_ == 0) return;
    --clipDepth_;
    if (clipDepth_ >= CLIP_DEPTH) return;
    HRGN saved = savedClips_[clipDepth_];
    SelectClipRgn(dc_, saved);
    if (saved != nullptr) DeleteObject(saved);
    savedClips_[clipDepth_] = nullptr;
}

bool GdiSurface::rectVisible(const PanelRect& rect) {
    RECT area{rect.left, rect.top, rect.right, rect.bottom};
    return RectVisible(dc_, &area) != FALSE;
}
