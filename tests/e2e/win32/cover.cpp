// cover.exe: lays a topmost window over part of another program's client
// area for a moment, so that the program has to repaint what it covered:
//   cover TARGET_CLASS LEFT TOP RIGHT BOTTOM HOLD_MS
// The rectangle is in the target's client pixels. The cover is filled with a
// pattern no program paints (magenta with green stripes) and does not take
// the activation, so the target's repaint comes from the uncovering alone.
// Prints "shown=1" once the cover is on the screen, "gone=1" after it was
// destroyed; exit code 0, 2 when the target was not found, 3 on failure.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr COLORREF COVER_MAGENTA = RGB(255, 0, 255);
constexpr COLORREF COVER_GREEN = RGB(0, 255, 0);
constexpr int STRIPE_PERIOD = 8;

void paintPattern(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    HBRUSH magenta = CreateSolidBrush(COVER_MAGENTA);
    HBRUSH green = CreateSolidBrush(COVER_GREEN);
    FillRect(dc, &client, magenta);
    for (int x = 0; x < client.right; x += STRIPE_PERIOD) {
        RECT stripe = {x, 0, x + 2, client.bottom};
        FillRect(dc, &stripe, green);
    }
    DeleteObject(magenta);
    DeleteObject(green);
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK coverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paintPattern(hwnd);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// Runs the message loop for the given time, so the cover paints and the
// desktop composes it.
void pumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (__argc < 7) {
        std::fprintf(stderr, "usage: cover TARGET_CLASS LEFT TOP RIGHT BOTTOM HOLD_MS\n");
        return 1;
    }
    HWND target = FindWindowA(__argv[1], nullptr);
    if (target == nullptr) return 2;
    POINT topLeft = {std::atoi(__argv[2]), std::atoi(__argv[3])};
    POINT bottomRight = {std::atoi(__argv[4]), std::atoi(__argv[5])};
    DWORD holdMs = static_cast<DWORD>(std::atoi(__argv[6]));
    ClientToScreen(target, &topLeft);
    ClientToScreen(target, &bottomRight);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = coverProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = "E2ECover";
    if (!RegisterClassA(&wc)) return 3;
    HWND cover = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, "E2ECover", "E2E Cover",
                                 WS_POPUP, topLeft.x, topLeft.y, bottomRight.x - topLeft.x,
                                 bottomRight.y - topLeft.y, nullptr, nullptr, instance, nullptr);
    if (cover == nullptr) return 3;
    ShowWindow(cover, SW_SHOWNOACTIVATE);
    UpdateWindow(cover);
    GdiFlush();
    std::printf("shown=1\n");
    pumpFor(holdMs);
    DestroyWindow(cover);
    pumpFor(50);
    std::printf("gone=1\n");
    return 0;
}
