// Entry point: class registration, the centred fixed-size window, ReplyEvent
// and the message loop.
//
// The main window is a Unicode window (its class registered with the W
// function): its title comes from the code page 1252 table converted to
// UTF-16, and a window with an ANSI procedure would squeeze a W title through
// the system's ANSI code page, losing "\xE6" and "\xF8" on a Japanese or UTF-8
// Windows.
#include <windows.h>

#include <commctrl.h>

#include "app/acquisition.h"
#include "app/shell_win32.h"
#include "display/display_state.h"
#include "lang/lang_message.h"
#include "lang/text_ids.h"
#include "lang/language_table.h"
#include "lang/wide_text_win32.h"
#include "params/settings.h"

namespace {

wchar_t className[100];

void registerMainClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    // The system colour shows around the panels.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_GRAYTEXT + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MENU_ENGLISH);
    windowClass.lpszClassName = className;
    RegisterClassExW(&windowClass);
}

HWND createMainWindow(HINSTANCE instance) {
    appInstance = instance;
    int width = CLIENT_WIDTH + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    int height = CLIENT_HEIGHT + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    // No clamping: a screen smaller than the window gets negative coordinates.
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    WideText<LANGUAGE_TEXT_SIZE> title(titleText);
    return CreateWindowExW(0, className, title.get(), WS_SYSMENU | WS_MINIMIZEBOX, x, y, width,
                           height, nullptr, nullptr, instance, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    InitCommonControls();
    setSettingsDefaults(&appSettings);
    configureLinkFromSettings();
    langText(titleText, TXT_TITLE_PROGRAM);
    LoadStringW(instance, IDS_CLASS_NAME, className, sizeof className / sizeof className[0]);
    registerMainClass(instance);
    MainWindow = createMainWindow(instance);
    if (MainWindow == nullptr) return 0;
    if (!createReplyEvent()) langMessage(MainWindow, TXT_EVENT_NOT_CREATED, TXT_TITLE_PROGRAM, static_cast<int>(GetLastError()));
    ShowWindow(MainWindow, show);
    UpdateWindow(MainWindow);

    // The resources define no accelerator table: the handle stays null.
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDS_CLASS_NAME));
    ShowWindow(MainWindow, show);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorW(message.hwnd, accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
