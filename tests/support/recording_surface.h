// A surface that draws nothing and remembers every call with its arguments
// and the state in force, for the unit tests and measurements: a test double
// of the drawing seam, kept out of the product libraries. It also
// rasterises lines the way GDI does (the end point is left out) and keeps
// the pixels that pass the clip, so a test can tell where a curve landed.
#pragma once

#include <climits>

#include <string>
#include <vector>

#include "display/draw_surface.h"

enum class SurfaceOp {
    MOVE_TO,
    LINE_TO,
    RECTANGLE,
    TEXT_OUT,
    SELECT_OBJECT,
    RESTORE_OBJECT,
    SET_TEXT_ALIGN,
    SET_BK_COLOR,
    BLIT_WITHIN,
    PUSH_CLIP,
    POP_CLIP,
};

// Arguments by operation:
//   MOVE_TO (x, y); LINE_TO from (fromX, fromY) to (x, y) with pen;
//   RECTANGLE (x, y)-(x2, y2) with brush and pen; TEXT_OUT text at (x, y)
//   with font, align and colour; SELECT_OBJECT / RESTORE_OBJECT object;
//   SET_TEXT_ALIGN / SET_BK_COLOR value; BLIT_WITHIN to (x, y), width x2,
//   height y2, from (fromX, fromY); PUSH_CLIP (x, y)-(x2, y2).
struct SurfaceCall {
    SurfaceOp op;
    int x = 0;
    int y = 0;
    int x2 = 0;
    int y2 = 0;
    int fromX = 0;
    int fromY = 0;
    DrawObject object = DrawObject::DEFAULT_PEN;
    DrawObject pen = DrawObject::DEFAULT_PEN;
    uint32_t align = 0;
    uint32_t colour = 0;
    std::string text{};
};

struct SurfaceState {
    DrawObject font;
    DrawObject pen;
    DrawObject brush;
    uint32_t align;
    uint32_t colour;
    int clipDepth;
    bool operator==(const SurfaceState&) const = default;
};

struct PaintedPixel {
    int x;
    int y;
    DrawObject pen;
};

class RecordingSurface : public DrawSurface {
public:
    // A fresh paint DC: default font, pen and brush, TA_LEFT|TA_TOP, white
    // background, no clip.
    static SurfaceState initialState();

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
    // The area being painted, as a paint's update region; everything at start.
    void setPaintArea(const PanelRect& area) { paintArea_ = area; }
    // Every rectangle rectVisible was asked about, in order.
    const std::vector<PanelRect>& visibilityQueries() const { return queries_; }

    SurfaceState state() const;
    const std::vector<SurfaceCall>& calls() const { return calls_; }
    std::vector<SurfaceCall> callsOf(SurfaceOp op) const;
    // Lines of one pen, in order.
    std::vector<SurfaceCall> linesWith(DrawObject pen) const;
    const SurfaceCall* findText(const std::string& text) const;
    // Line pixels painted (inside the clip) and those the clip held back.
    const std::vector<PaintedPixel>& pixels() const { return pixels_; }
    const std::vector<PaintedPixel>& clippedPixels() const { return clipped_; }
    int pixelsOutside(const PanelRect& rect) const;
    // Off by default when measuring speed: the raster costs more than a call.
    void setRasterise(bool on) { rasterise_ = on; }
    void clear();

private:
    void rasteriseLine(int fromX, int fromY, int toX, int toY);
    bool insideClip(int x, int y) const;

    PanelRect paintArea_{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    std::vector<SurfaceCall> calls_;
    std::vector<PaintedPixel> pixels_;
    std::vector<PaintedPixel> clipped_;
    std::vector<PanelRect> queries_;
    SurfaceState state_ = initialState();
    int positionX_ = 0;
    int positionY_ = 0;
    PanelRect clips_[CLIP_DEPTH] = {};
    bool rasterise_ = true;
};
