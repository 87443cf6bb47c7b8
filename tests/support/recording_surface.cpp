#include "tests/support/recording_surface.h"

#include <cstdlib>

namespace {

constexpr uint32_t WHITE = rgbColour(255, 255, 255);

// Tokens carry the replaced object's id, offset so that 0 never appears.
SelectionToken tokenOf(DrawObject object) {
    return static_cast<SelectionToken>(static_cast<int>(object) + 1);
}

DrawObject objectOf(SelectionToken token) {
    return static_cast<DrawObject>(static_cast<int>(token) - 1);
}

}  // namespace

SurfaceState RecordingSurface::initialState() {
    return {DrawObject::DEFAULT_FONT, DrawObject::DEFAULT_PEN, DrawObject::DEFAULT_BRUSH,
            ALIGN_LEFT | ALIGN_TOP, WHITE, 0};
}

void RecordingSurface::moveTo(int x, int y) {
    calls_.push_back({.op = SurfaceOp::MOVE_TO, .x = x, .y = y});
    positionX_ = x;
    positionY_ = y;
}

void RecordingSurface::lineTo(int x, int y) {
    calls_.push_back({.op = SurfaceOp::LINE_TO, .x = x, .y = y, .fromX = positionX_,
                      .fromY = positionY_, .pen = state_.pen});
    if (rasterise_) rasteriseLine(positionX_, positionY_, x, y);
    positionX_ = x;
    positionY_ = y;
}

void RecordingSurface::rectangle(int left, int top, int right, int bottom) {
    calls_.push_back({.op = SurfaceOp::RECTANGLE, .x = left, .y = top, .x2 = right, .y2 = bottom,
                      .object = state_.brush, .pen = state_.pen});
}

void RecordingSurface::textOut(int x, int y, const char* text, int length) {
    calls_.push_back({.op = SurfaceOp::TEXT_OUT, .x = x, .y = y, .object = state_.font,
                      .align = state_.align, .colour = state_.colour,
                      .text = std::string(text, static_cast<std::size_t>(length))});
}

SelectionToken RecordingSurface::selectObject(DrawObject object) {
    calls_.push_back({.op = SurfaceOp::SELECT_OBJECT, .object = object});
    DrawObject* slot = objectKind(object) == ObjectKind::FONT    ? &state_.font
                       : objectKind(object) == ObjectKind::BRUSH ? &state_.brush
                                                                 : &state_.pen;
    DrawObject previous = *slot;
    *slot = object;
    return tokenOf(previous);
}

void RecordingSurface::restoreObject(SelectionToken previous) {
    DrawObject object = objectOf(previous);
    calls_.push_back({.op = SurfaceOp::RESTORE_OBJECT, .object = object});
    DrawObject* slot = objectKind(object) == ObjectKind::FONT    ? &state_.font
                       : objectKind(object) == ObjectKind::BRUSH ? &state_.brush
                                                                 : &state_.pen;
    *slot = object;
}

uint32_t RecordingSurface::setTextAlign(uint32_t align) {
    calls_.push_back({.op = SurfaceOp::SET_TEXT_ALIGN, .align = align});
    uint32_t previous = state_.align;
    state_.align = align;
    return previous;
}

uint32_t RecordingSurface::setBkColor(uint32_t colour) {
    calls_.push_back({.op = SurfaceOp::SET_BK_COLOR, .colour = colour});
    uint32_t previous = state_.colour;
    state_.colour = colour;
    return previous;
}

void RecordingSurface::blitWithin(int x, int y, int width, int height, int sourceX, int sourceY) {
    calls_.push_back({.op = SurfaceOp::BLIT_WITHIN, .x = x, .y = y, .x2 = width, .y2 = height,
                      .fromX = sourceX, .fromY = sourceY});
}

// The clip in force is the intersection of every pushed rectangle.
void RecordingSurface::pushClip(const PanelRect& rect) {
    calls_.push_back({.op = SurfaceOp::PUSH_CLIP, .x = rect.left, .y = rect.top, .x2 = rect.right,
                      .y2 = rect.bottom});
    if (state_.clipDepth < CLIP_DEPTH) clips_[state_.clipDepth] = rect;
    ++state_.clipDepth;
}

void RecordingSurface::popClip() {
    calls_.push_back({.op = SurfaceOp::POP_CLIP});
    if (state_.clipDepth > 0) --state_.clipDepth;
}

bool RecordingSurface::insideClip(int x, int y) const {
    int depth = state_.clipDepth < CLIP_DEPTH ? state_.clipDepth : CLIP_DEPTH;
    for (int i = 0; i < depth; ++i) {
        const PanelRect& clip = clips_[i];
        if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) return false;
    }
    return true;
}

// Bresenham from the start point up to, not including, the end point.
void RecordingSurface::rasteriseLine(int fromX, int fromY, int toX, int toY) {
    int dx = std::abs(toX - fromX);
    int dy = -std::abs(toY - fromY);
    int stepX = fromX < toX ? 1 : -1;
    int stepY = fromY < toY ? 1 : -1;
    int error = dx + dy;
    int x = fromX;
    int y = fromY;
    while (x != toX || y != toY) {
        PaintedPixel pixel{x, y, state_.pen};
        (insideClip(x, y) ? pixels_ : clipped_).push_back(pixel);
        int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y += stepY;
        }
    }
}

SurfaceState RecordingSurface::state() const { return state_; }

std::vector<SurfaceCall> RecordingSurface::callsOf(SurfaceOp op) const {
    std::vector<SurfaceCall> found;
    for (const SurfaceCall& call : calls_)
        if (call.op == op) found.push_back(call);
    return found;
}

std::vector<SurfaceCall> RecordingSurface::linesWith(DrawObject pen) const {
    std::vector<SurfaceCall> found;
    for (const SurfaceCall& call : calls_)
        if (call.op == SurfaceOp::LINE_TO && call.pen == pen) found.push_back(call);
    return found;
}

const SurfaceCall* RecordingSurface::findText(const std::string& text) const {
    for (const SurfaceCall& call : calls_)
        if (call.op == SurfaceOp::TEXT_OUT && call.text == text) return &call;
    return nullptr;
}

int RecordingSurface::pixelsOutside(const PanelRect& rect) const {
    int count = 0;
    for (const PaintedPixel& pixel : pixels_)
        if (pixel.x < rect.left || pixel.x >= rect.right || pixel.y < rect.top || pixel.y >= rect.bottom)
            ++count;
    return count;
}

void RecordingSurface::clear() {
    calls_.clear();
    pixels_.clear();
    clipped_.clear();
    queries_.clear();
}

bool RecordingSurface::rectVisible(const PanelRect& rect) {
    queries_.push_back(rect);
    return rect.left < paintArea_.right && paintArea_.left < rect.right &&
           rect.top < paintArea_.bottom && paintArea_.top < rect.bottom;
}
