// first_paint.exe: watches the screen for a window's first paint, for the
// start-up figure of tools/measure (Performance.StartupToFirstPaint).
//
//   first_paint CLASS TIMEOUT_MS X Y [X Y ...] [--stale SX SY ...]
//
// The screen points after --stale are where an earlier run of the program
// showed the grey; a closed window's pixels stay on the screen until the
// desktop repaints them, so the watcher first waits (up to TIMEOUT_MS) until
// none of them is grey. It prints "ready" once it can read the screen and
// no stale grey is left, and then polls every
// millisecond or so: is there a visible top-level window of CLASS, and do all
// the given client points show the panel grey RGB(210,210,210) on the screen
// (what the user sees, read back from the display, not the program's DC)?
// Started before the program, its own start-up costs nothing in the figure.
//
// Output, "key=value" lines: visibleAt and paintedAt (wall clock in
// microseconds since 1970, the same clock as CLOCK_REALTIME on the Linux
// side), polls, pollMicros (the mean time between two polls: the
// resolution of both stamps), originX and originY (the client origin on the
// screen). Exit code 0, 2 on time-out, 1 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr COLORREF PANEL_GREY = RGB(210, 210, 210);

long long realtimeMicros() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<long long>(ticks / 10 - 11644473600000000ULL);
}

bool anyPanelGrey(HDC screen, const std::vector<POINT>& screenPoints) {
    for (POINT p : screenPoints)
        if (GetPixel(screen, p.x, p.y) == PANEL_GREY) return true;
    return false;
}

bool pointsArePanelGrey(HDC screen, HWND window, const std::vector<POINT>& points) {
    for (POINT p : points) {
        if (!ClientToScreen(window, &p)) return false;
        if (GetPixel(screen, p.x, p.y) != PANEL_GREY) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<POINT> points, stale;
    bool stalePart = false;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stale") == 0) {
            stalePart = true;
        } else if (i + 1 < argc) {
            POINT p = {std::atoi(argv[i]), std::atoi(argv[i + 1])};
            (stalePart ? stale : points).push_back(p);
            ++i;
        }
    }
    if (argc < 5 || points.empty()) {
        std::fprintf(stderr, "usage: first_paint CLASS TIMEOUT_MS X Y [X Y ...] [--stale SX SY ...]\n");
        return 1;
    }
    const char* className = argv[1];
    DWORD timeoutMs = static_cast<DWORD>(std::atoi(argv[2]));

    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    DWORD staleStart = GetTickCount();
    while (anyPanelGrey(screen, stale)) {
        if (GetTickCount() - staleStart >= timeoutMs) {
            std::printf("stale=1\n");
            DeleteDC(screen);
            return 2;
        }
        Sleep(5);
    }
    std::printf("ready\n");
    std::fflush(stdout);

    long long firstPoll = realtimeMicros(), visibleAt = 0, paintedAt = 0;
    POINT origin = {0, 0};
    long polls = 0;
    DWORD start = GetTickCount();
    while (paintedAt == 0 && GetTickCount() - start < timeoutMs) {
        ++polls;
        HWND window = FindWindowA(className, nullptr);
        if (window != nullptr && IsWindowVisible(window)) {
            if (visibleAt == 0) visibleAt = realtimeMicros();
            if (pointsArePanelGrey(screen, window, points)) {
                paintedAt = realtimeMicros();
                ClientToScreen(window, &origin);
            }
        }
        if (paintedAt == 0) Sleep(1);
    }
    long long span = realtimeMicros() - firstPoll;
    DeleteDC(screen);
    std::printf("visibleAt=%lld\npaintedAt=%lld\npolls=%ld\npollMicros=%lld\noriginX=%ld\noriginY=%ld\n",
                visibleAt, paintedAt, polls, polls > 0 ? span / polls : 0, origin.x, origin.y);
    std::fflush(stdout);
    return paintedAt != 0 ? 0 : 2;
}
