// The drawing surface on a GDI device context: one GDI call per operation.
// The display objects' handles come from main_paint_win32.cpp.
#pragma once

#include <windows.h>

#include "display/draw_surface.h"

class GdiSurface : public DrawSurface {
public:
    explicit GdiSurface(HDC dc) : dc_(dc) {}
    ~GdiSurface() override;
    GdiSurface(const GdiSurface&) = delete;
    GdiSurface& operator=(const GdiSurface&) = delete;

    void moveTo(int x, int y) override;
    void lineTo(int x, int y) override;
    void rectangle(int left, int top, int right, int bottom) override;
    void textOut(int x, int y, const char* text, int length) override;
    SelectionToken selectObject(DrawObject object) override;
    void restoreObject(SelectionToken previous) override;
    uint32_t setTextAlign(uint32_t align) override;
    uint32_t setBkColor(uint32_t colour) override;
    void blitWithin(int x, int y, int width, int height, int sourceX, int sourceY) override;
    void pushClip(const PanelRect& rect) override;
    void popClip() override;
    bool rectVisible(const PanelRect& rect) override;

private:
    HDC dc_;
    // The application clip region in force before each pushClip; null when
    // there was none.
    HRGN savedClips_[CLIP_DEPTH] = {};
    int clipDepth_ = 0;
};
