// The painting through real GDI into a memory bitmap of the client area's
// size: pixels where the panels, the curve and the setpoint land, and the
// device context left as it was found.
#ifdef _WIN32

#include <windows.h>

#include "display/gdi_surface_win32.h"
#include "display/main_paint.h"
#include "display/main_paint_win32.h"
#include "display_test_support.h"

namespace {

constexpr int CLIENT_WIDTH = 960;
constexpr int CLIENT_HEIGHT = 380;
constexpr uint32_t BACKGROUND = 0x808080;  // 0x00RRGGBB as the DIB holds it
constexpr uint32_t GREY = 0xD2D2D2;
constexpr uint32_t BLACK = 0x000000;
constexpr uint32_t BLUE = 0x0000FF;
constexpr uint32_t RED = 0xFF0000;

class GdiPaint : public DisplayTest {
protected:
    void SetUp() override {
        DisplayTest::SetUp();
        createDisplayObjects();
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = CLIENT_WIDTH;
        info.bmiHeader.biHeight = -CLIENT_HEIGHT;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(nullptr, bitmap_);
        pixels_ = static_cast<uint32_t*>(bits);
        previousBitmap_ = SelectObject(dc_, bitmap_);
        for (int i = 0; i < CLIENT_WIDTH * CLIENT_HEIGHT; ++i) pixels_[i] = BACKGROUND;
    }

    void TearDown() override {
        SelectObject(dc_, previousBitmap_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        deleteDisplayObjects();
        DisplayTest::TearDown();
    }

    void paint() {
        GdiSurface surface(dc_);
        paintClientArea(surface);
        GdiFlush();
    }

    uint32_t pixel(int x, int y) const { return pixels_[y * CLIENT_WIDTH + x] & 0xFFFFFF; }

    int countOutsideGraph(uint32_t colour) const {
        int count = 0;
        for (int y = 0; y < CLIENT_HEIGHT; ++y)
            for (int x = 0; x < CLIENT_WIDTH; ++x) {
                bool inside = x >= GRAPH_INSIDE.left && x < GRAPH_INSIDE.right &&
                              y >= GRAPH_INSIDE.top && y < GRAPH_INSIDE.bottom;
                if (!inside && pixel(x, y) == colour) ++count;
            }
        return count;
    }

    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previousBitmap_ = nullptr;
    uint32_t* pixels_ = nullptr;
};

}  // namespace

TEST_F(GdiPaint, DisplayObjectsCreatedAndDeleted) {
    const HGDIOBJ objects[] = {labelFont, readingFont, valueFont, axisFont, panelBrush,
                               curvePen,  axisPen,     limitPen,  erasePen};
    for (HGDIOBJ object : objects) EXPECT_NE(nullptr, object);
    deleteDisplayObjects();
    EXPECT_EQ(nullptr, labelFont);
    EXPECT_EQ(nullptr, erasePen);
    createDisplayObjects();
}

TEST_F(GdiPaint, PanelsAreGreyInsideBlackOutlines) {
    redrawAll = 1;
    paint();
    EXPECT_EQ(BLACK, pixel(25, 15));
    EXPECT_EQ(BLACK, pixel(934, 49));
    EXPECT_EQ(GREY, pixel(920, 20));
    EXPECT_EQ(BLACK, pixel(25, 60));
    EXPECT_EQ(BLACK, pixel(334, 324));
    EXPECT_EQ(GREY, pixel(40, 310));
    EXPECT_EQ(BLACK, pixel(345, 60));
    EXPECT_EQ(BLACK, pixel(934, 324));
    EXPECT_EQ(GREY, pixel(400, 80));
    EXPECT_EQ(BACKGROUND, pixel(5, 5));
    EXPECT_EQ(BACKGROUND, pixel(340, 200));
    EXPECT_EQ(BACKGROUND, pixel(500, 55));
}

TEST_F(GdiPaint, CurveScrollsLeftOnePixelPerSample) {
    redrawAll = 1;
    paint();
    pushSample(50);
    pushSample(50);
    paint();
    EXPECT_EQ(BLUE, pixel(865, 195));
    EXPECT_EQ(GREY, pixel(864, 195));
    pushSample(50);
    paint();
    EXPECT_EQ(BLUE, pixel(864, 195));
    EXPECT_EQ(BLUE, pixel(865, 195));
    EXPECT_EQ(GREY, pixel(867, 195));
}

TEST_F(GdiPaint, SetpointLineOfTheActiveLimitInRed) {
    setDeviceText("ELQ770");
    deviceParameters.limit1Setpoint = 60;
    redrawAll = 1;
    paint();
    EXPECT_EQ(RED, pixel(600, 295 - 2 * 60));
    EXPECT_EQ(RED, pixel(867, 295 - 2 * 60));
    EXPECT_EQ(GREY, pixel(600, 295 - 2 * 60 - 1));
}

TEST_F(GdiPaint, CurveAboveHundredPercentNeverLeavesTheGraphPanel) {
    setDeviceText("ELQ770");
    deviceParameters.limit1Setpoint = 150;
    redrawAll = 1;
    paint();
    for (int measurement : {0, 171, 0, 171, 120}) {
        pushSample(measurement);
        paint();
    }
    redrawAll = 1;
    paint();
    EXPECT_EQ(0, countOutsideGraph(BLUE));
    EXPECT_EQ(0, countOutsideGraph(RED));
    EXPECT_EQ(BLACK, pixel(866, 60));
    bool curveReachesTop = false;
    for (int x = 346; x < 934; ++x)
        if (pixel(x, GRAPH_INSIDE.top) == BLUE) curveReachesTop = true;
    EXPECT_TRUE(curveReachesTop);
}

TEST_F(GdiPaint, LeavesTheDeviceContextAsFound) {
    setDeviceText("ELQ770");
    liveState.measurement = 100;
    pushSample(40);
    pushSample(60);
    HRGN outer = CreateRectRgn(0, 0, 900, 380);
    SelectClipRgn(dc_, outer);
    SetTextAlign(dc_, TA_CENTER | TA_BASELINE);
    SetBkColor(dc_, RGB(1, 2, 3));
    HGDIOBJ pen = GetCurrentObject(dc_, OBJ_PEN);
    HGDIOBJ font = GetCurrentObject(dc_, OBJ_FONT);
    HGDIOBJ brush = GetCurrentObject(dc_, OBJ_BRUSH);
    redrawAll = 1;
    redrawHeader = 1;
    paint();
    graphFrozen = 1;
    paint();
    EXPECT_EQ(pen, GetCurrentObject(dc_, OBJ_PEN));
    EXPECT_EQ(font, GetCurrentObject(dc_, OBJ_FONT));
    EXPECT_EQ(brush, GetCurrentObject(dc_, OBJ_BRUSH));
    EXPECT_EQ(static_cast<UINT>(TA_CENTER | TA_BASELINE), GetTextAlign(dc_));
    EXPECT_EQ(RGB(1, 2, 3), GetBkColor(dc_));
    HRGN after = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(1, GetClipRgn(dc_, after));
    EXPECT_TRUE(EqualRgn(outer, after));
    DeleteObject(after);
    SelectClipRgn(dc_, nullptr);
    DeleteObject(outer);
    paint();
    HRGN none = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(0, GetClipRgn(dc_, none));
    DeleteObject(none);
}

#endif  // _WIN32
