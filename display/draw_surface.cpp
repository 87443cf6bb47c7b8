#include "display/draw_surface.h"

ObjectKind objectKind(DrawObject object) {
    switch (object) {
    case DrawObject::LABEL_FONT:
    case DrawObject::READING_FONT:
    case DrawObject::VALUE_FONT:
    case DrawObject::AXIS_FONT:
    case DrawObject::DEFAULT_FONT:
        return ObjectKind::FONT;
    case DrawObject::PANEL_BRUSH:
    case DrawObject::DEFAULT_BRUSH:
        return ObjectKind::BRUSH;
    default:
        return ObjectKind::PEN;
    }
}
