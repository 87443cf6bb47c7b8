// trend_cost.exe: times the trend graph's GDI work under Wine, for the
// performance figures of tools/measure (Performance.TrendGdiCost).
//
//   trend_cost [STEPS [REDRAWS [window]]]
//
// It creates the nine display objects as the program does, paints the whole
// client area once into a memory DC over a 960 x 380 32-bit DIB section, and
// then times with QueryPerformanceCounter:
//   - STEPS scrollTrend calls, each with one new sample in the trend ring
//     (the program's 20 ms paint at the 10 s roll);
//   - REDRAWS redrawTrend calls over the full 500-sample history;
//   - REDRAWS full client paints (redrawAll: panels, axes, curve, readouts).
// With "window" it does the same on the DC of a 960 x 380 popup window, and
// also times whole paint cycles: UpdateWindow on an invalidated graph panel
// whose WM_PAINT runs scrollTrend between BeginPaint and EndPaint, which is
// the program's own path to the screen. That needs a display.
//
// Output, one "key=value" per line (microseconds per call): "<dc>.<op>.mean",
// ".median", ".max" and ".count" for dc "memory" or "window" and op "scroll",
// "redraw", "fullpaint" or "paintcycle"; "qpcFrequency"; "memory.curveColumns"
// (columns of the graph that show the curve afterwards); "window=0" when the
// window could not be made. Exit code 0, or 3 when the memory DC failed.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/display_state.h"
#include "display/gdi_surface_win32.h"
#include "display/main_paint.h"
#include "display/main_paint_win32.h"
#include "display/trend_graph.h"
#include "display/trend_graph_testing.h"
#include "link/link_config.h"
#include "link/live_state.h"
#include "link/live_state_testing.h"
#include "params/parameter_set.h"
#include "params/settings.h"

namespace {

constexpr int CLIENT_WIDTH = 960;
constexpr int CLIENT_HEIGHT = 380;
constexpr int EXIT_FAILED = 3;
const char* const WINDOW_CLASS = "ElqTrendCost";

LARGE_INTEGER qpcFrequency;

double microsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1e6 / static_cast<double>(qpcFrequency.QuadPart);
}

void printStats(const char* dc, const char* op, std::vector<double> micros) {
    if (micros.empty()) return;
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double m : micros) sum += m;
    std::printf("%s.%s.mean=%.2f\n", dc, op, sum / static_cast<double>(micros.size()));
    std::printf("%s.%s.median=%.2f\n", dc, op, micros[micros.size() / 2]);
    std::printf("%s.%s.max=%.2f\n", dc, op, micros.back());
    std::printf("%s.%s.count=%zu\n", dc, op, micros.size());
}

// A curve that swings over most of the scale, so that segments have all
// slopes and lengths, as a live load gives them.
int32_t sampleValue(int step) {
    return static_cast<int32_t>(50.0 + 45.0 * std::sin(step / 17.0) + (step * 7 % 11) - 5);
}

int nextStep = 0;

void appendNextSample() {
    liveState.measurement.store(sampleValue(nextStep++), std::memory_order_relaxed);
    appendTrendSample();
}

// A device with an identification text and its limit, so that scrollTrend
// also draws the setpoint marker.
void prepareState() {
    setSettingsDefaults(&appSettings);
    storeField(appSettings.rollIndex, 0);
    configureLink(1, false);
    resetLiveState();
    resetTrendHistory();
    const char text[] = "ELQ770 COST";
    for (size_t i = 0; i < sizeof text; ++i) storeTextByte(deviceParameters.deviceText[i], text[i]);
    liveState.deviceTextLength.store(static_cast<int32_t>(sizeof text));
    storeField(deviceParameters.limit1Setpoint, 60);
    liveState.maxPeak.store(95);
    liveState.minPeak.store(5);
}

// One full paint, then the whole history filled through scrollTrend.
void fillHistory(HDC dc) {
    GdiSurface surface(dc);
    redrawAll = 1;
    paintClientArea(surface);
    for (int i = 0; i < TREND_SIZE; ++i) {
        appendNextSample();
        scrollTrend(surface);
    }
}

std::vector<double> timeScrolls(HDC dc, int steps) {
    std::vector<double> micros;
    GdiSurface surface(dc);
    for (int i = 0; i < steps; ++i) {
        appendNextSample();
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        scrollTrend(surface);
        micros.push_back(microsSince(start));
    }
    GdiFlush();
    return micros;
}

std::vector<double> timeRedraws(HDC dc, int count) {
    std::vector<double> micros;
    GdiSurface surface(dc);
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        redrawTrend(surface);
        micros.push_back(microsSince(start));
    }
    GdiFlush();
    return micros;
}

std::vector<double> timeFullPaints(HDC dc, int count) {
    std::vector<double> micros;
    GdiSurface surface(dc);
    for (int i = 0; i < count; ++i) {
        redrawAll = 1;
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        paintClientArea(surface);
        micros.push_back(microsSince(start));
    }
    GdiFlush();
    return micros;
}

void timeOnDc(HDC dc, const char* name, int steps, int redraws) {
    fillHistory(dc);
    printStats(name, "scroll", timeScrolls(dc, steps));
    printStats(name, "redraw", timeRedraws(dc, redraws));
    printStats(name, "fullpaint", timeFullPaints(dc, redraws));
}

// Columns of the scrolled band that hold the curve's blue after the timed
// calls: proof that they drew the graph rather than nothing.
int curveColumns(const uint32_t* pixels) {
    constexpr uint32_t DIB_BLUE = 0x0000FF;  // 32-bit DIB pixels are 0x00RRGGBB
    int columns = 0;
    for (int x = TREND_LEFT_X; x <= TREND_NEWEST_X; ++x) {
        for (int y = TREND_TOP_Y - 10; y <= TREND_BASELINE_Y; ++y) {
            if ((pixels[y * CLIENT_WIDTH + x] & 0xFFFFFF) == DIB_BLUE) {
                ++columns;
                break;
            }
        }
    }
    return columns;
}

int runOnMemoryDc(int steps, int redraws) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = CLIENT_WIDTH;
    info.bmiHeader.biHeight = -CLIENT_HEIGHT;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc == nullptr || bitmap == nullptr) {
        std::printf("memory=0\n");
        if (dc) DeleteDC(dc);
        return EXIT_FAILED;
    }
    HGDIOBJ previous = SelectObject(dc, bitmap);
    timeOnDc(dc, "memory", steps, redraws);
    std::printf("memory.curveColumns=%d\n", curveColumns(static_cast<const uint32_t*>(bits)));
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return 0;
}

// ---- the window: WM_PAINT scrolls the graph as the program's paint does

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        {
            GdiSurface surface(dc);
            scrollTrend(surface);
        }
        EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;  // the panels cover everything that is timed
    return DefWindowProcA(window, message, wParam, lParam);
}

void pumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// UpdateWindow sends WM_PAINT at once; EndPaint hands the window's surface
// to the display driver, so the figure includes what the screen costs.
std::vector<double> timePaintCycles(HWND window, int steps) {
    std::vector<double> micros;
    RECT graph = {GRAPH_PANEL.left, GRAPH_PANEL.top, GRAPH_PANEL.right, GRAPH_PANEL.bottom};
    for (int i = 0; i < steps; ++i) {
        appendNextSample();
        InvalidateRect(window, &graph, FALSE);
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        UpdateWindow(window);
        micros.push_back(microsSince(start));
        pumpMessages();
    }
    return micros;
}

HWND makeWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = WINDOW_CLASS;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    if (!RegisterClassA(&windowClass)) return nullptr;
    HWND window = CreateWindowExA(0, WINDOW_CLASS, "Trend cost", WS_POPUP | WS_VISIBLE, 0, 0, CLIENT_WIDTH,
                                  CLIENT_HEIGHT, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window != nullptr) {
        UpdateWindow(window);
        pumpMessages();
    }
    return window;
}

void runOnWindow(int steps, int redraws) {
    HWND window = makeWindow();
    if (window == nullptr) {
        std::printf("window=0\n");
        return;
    }
    HDC dc = GetDC(window);
    timeOnDc(dc, "window", steps, redraws);
    ReleaseDC(window, dc);
    pumpMessages();
    printStats("window", "paintcycle", timePaintCycles(window, steps));
    std::printf("window=1\n");
    DestroyWindow(window);
}

int positiveArgument(int argc, char** argv, int index, int fallback) {
    int value = argc > index ? std::atoi(argv[index]) : 0;
    return value > 0 ? value : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    int steps = positiveArgument(argc, argv, 1, 2000);
    int redraws = positiveArgument(argc, argv, 2, 200);
    bool window = argc > 3 && std::strcmp(argv[3], "window") == 0;
    QueryPerformanceFrequency(&qpcFrequency);
    std::printf("qpcFrequency=%lld\n", static_cast<long long>(qpcFrequency.QuadPart));
    prepareState();
    createDisplayObjects();
    int rc = runOnMemoryDc(steps, redraws);
    if (rc == 0 && window) runOnWindow(steps, redraws);
    deleteDisplayObjects();
    std::fflush(stdout);
    return rc;
}
