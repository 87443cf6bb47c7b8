// testwin.exe: a minimal window for the harness's own tests. Class
// "E2ETestWin", title "E2E Test", client area 320 x 200 in grey
// RGB(210,210,210) with a red square at (10,10)-(30,30) and a button "Box"
// (id 100) at (100,100). It writes what it receives to testwin.log in the
// working directory, one line each, so that a test can see which messages
// arrived:
//   ready | clicked 100 | keydown VK LPARAM | keyup VK LPARAM | box ID result N | closed
// Command 200 shows a message box "E2E Box" (information icon, two lines with
// code page 1252 letters), command 201 a Yes/No box with the stop icon.
#include <windows.h>

#include <cstdio>

namespace {

constexpr int BUTTON_ID = 100;
constexpr int CMD_INFO_BOX = 200;
constexpr int CMD_STOP_BOX = 201;
constexpr COLORREF GREY = RGB(210, 210, 210);
constexpr COLORREF RED = RGB(255, 0, 0);

void logLine(const char* format, unsigned long a, unsigned long b) {
    FILE* log = std::fopen("testwin.log", "ab");
    if (!log) return;
    std::fprintf(log, format, a, b);
    std::fputc('\n', log);
    std::fclose(log);
}

void showBox(HWND hwnd, int command) {
    // "Grüße aus dem Test" / "Zeile 2 – Ende", written as code page 1252 bytes.
    const char* text = "Gr\xFC\xDF" "e aus dem Test\nZeile 2 \x96 Ende";
    UINT style = command == CMD_INFO_BOX ? MB_OK | MB_ICONINFORMATION : MB_YESNO | MB_ICONSTOP;
    int result = MessageBoxA(hwnd, text, "E2E Box", style);
    logLine("box %lu result %lu", static_cast<unsigned long>(command), static_cast<unsigned long>(result));
}

void paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    HBRUSH grey = CreateSolidBrush(GREY);
    HBRUSH red = CreateSolidBrush(RED);
    FillRect(dc, &client, grey);
    RECT square = {10, 10, 30, 30};
    FillRect(dc, &square, red);
    DeleteObject(grey);
    DeleteObject(red);
    EndPaint(hwnd, &ps);
}

void command(HWND hwnd, WPARAM wParam) {
    int id = LOWORD(wParam);
    if (id == BUTTON_ID && HIWORD(wParam) == BN_CLICKED) logLine("clicked %lu", BUTTON_ID, 0);
    if (id == CMD_INFO_BOX || id == CMD_STOP_BOX) showBox(hwnd, id);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint(hwnd);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_COMMAND:
        command(hwnd, wParam);
        return 0;
    case WM_KEYDOWN:
        logLine("keydown %lu %08lx", static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam));
        return 0;
    case WM_KEYUP:
        logLine("keyup %lu %08lx", static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam));
        return 0;
    case WM_DESTROY:
        logLine("closed", 0, 0);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = "E2ETestWin";
    if (!RegisterClassA(&wc)) return 1;
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, 320, 200};
    AdjustWindowRect(&frame, style, FALSE);
    HWND hwnd = CreateWindowA("E2ETestWin", "E2E Test", style, 40, 40, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 1;
    HWND button = CreateWindowA("BUTTON", "Box", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 100, 100, 80, 24, hwnd,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(BUTTON_ID)), instance, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    SetFocus(button);
    logLine("ready", 0, 0);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
