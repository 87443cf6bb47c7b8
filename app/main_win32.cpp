// Entry point: class registration, the centred fixed-size window, ReplyEvent
// and the message loop.
#include <windows.h>

#include <commctrl.h>

#include "app/shell_win32.h"
#include "lang/lang_message.h"
#include "lang/language_table.h"
#include "params/settings.h"

namespace {

char className[100];

void registerMainClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    // COLOR_GRAYTEXT + 1: the system colour shows around the panels.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(18));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MENU_ENGLISH);
    windowClass.lpszClassName = className;
    RegisterClassExA(&windowClass);
}

HWND createMainWindow(HINSTANCE instance) {
    appInstance = instance;
    int width = 960 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    int height = 380 + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    // No clamping: a screen smaller than the window gets negative coordinates.
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return CreateWindowExA(0, className, titleText, WS_SYSMENU | WS_MINIMIZEBOX, x, y, width,
                           height, nullptr, nullptr, instance, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    InitCommonControls();
    setSettingsDefaults(&appSettings);
    langText(titleText, 34);
    LoadStringA(instance, IDS_CLASS_NAME, className, sizeof className);
    registerMainClass(instance);
    MainWindow = createMainWindow(instance);
    if (MainWindow == nullptr) return 0;
    if (!createReplyEvent()) langMessage(MainWindow, 80, 34, static_cast<int>(GetLastError()));
    ShowWindow(MainWindow, show);
    UpdateWindow(MainWindow);

    // The resources define no accelerator table: the handle stays null.
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDS_CLASS_NAME));
    ShowWindow(MainWindow, show);
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(message.hwnd, accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
