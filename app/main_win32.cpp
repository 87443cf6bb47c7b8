// Entry point of the program.
#include <windows.h>

#include "lang/language_table.h"
#include "params/settings.h"

namespace {

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    setSettingsDefaults(&appSettings);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(18);
    windowClass.lpszClassName = "BRISCA";
    if (!RegisterClassA(&windowClass)) return 0;
    char title[LANGUAGE_TEXT_SIZE];
    langText(title, 34);
    HWND window = CreateWindowA("BRISCA", title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 960, 560, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    ShowWindow(window, show);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
