// The main window's life cycle: creation, closing, destruction, focus,
// background erasing and the Space and Pause keys. Commands, timers and
// painting are dispatched to their own operations.
#include <windows.h>

#include <atomic>

#include "app/acquisition.h"
#include "app/shell_win32.h"
#include "display/display_state.h"
#include "display/main_paint_win32.h"
#include "lang/lang_message.h"
#include "lang/text_ids.h"
#include "lang/language_table.h"
#include "lang/wide_text_win32.h"
#include "link/command_frames.h"
#include "link/receive_parser.h"
#include "link/serial_link.h"
#include "params/port_choice.h"
#include "params/settings.h"

HINSTANCE appInstance = nullptr;
HWND MainWindow = nullptr;
char titleText[64];
HANDLE ReplyEvent = nullptr;
HWND resetButtons[2] = {nullptr, nullptr};
RECT graphRect = {0, 0, 0, 0};
int keyLatch = 0;

namespace {

// The reader thread sets the event through the parser's reply tap, whose
// context is the event; the tap is off before the event is closed.
void setReplyEventFromParser(void* event) { SetEvent(static_cast<HANDLE>(event)); }
SignalTap replyEventTap{setReplyEventFromParser, nullptr};

constexpr UINT timerIds[] = {TIMER_GRAPH, TIMER_PUMP, TIMER_READOUTS, TIMER_IDENTIFICATION};
constexpr UINT timerPeriods[] = {20, COMMAND_TICK_MS, 300, 1000};

// A settings file saved while its port was not open holds 11 to 18: that is
// the user's port, not yet open, so start-up opens the port itself.
// The other port's name comes from its side file, read once here.
void openConfiguredPort(HWND window) {
    if (appSettings.comPort > PORT_NOT_OPEN) appSettings.comPort -= PORT_NOT_OPEN;
    int result = readOtherPortName();
    if (result != 0) langMessage(window, TXT_SETTINGS_FILE_ERROR, TXT_TITLE_ERROR, result);
    if (openChosenPort()) return;
    reportPortNotOpen(window);
    appSettings.comPort += PORT_NOT_OPEN;
}

HWND createResetButton(HWND window, int id, int y) {
    return CreateWindowExA(0, "BUTTON", "Reset", WS_CHILD | WS_VISIBLE, 260, y, 60, 20, window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), appInstance,
                           nullptr);
}

LRESULT onCreate(HWND window) {
    MainWindow = window;  // commands run from inside creation use it
    int result = readSettings(&appSettings);
    configureLinkFromSettings();
    setLanguage(appSettings.languageOffset);
    if (result != 0) langMessage(window, TXT_SETTINGS_FILE_ERROR, TXT_TITLE_ERROR, result);
    openConfiguredPort(window);
    refreshTitle(window);
    SetMenu(window, LoadMenuA(appInstance, MAKEINTRESOURCEA(IDR_MENU_ENGLISH + appSettings.languageOffset)));
    // At start-up the not-open mark does not outlast window creation.
    if (appSettings.comPort >= PORT_NOT_OPEN) appSettings.comPort -= PORT_NOT_OPEN;
    checkSettingItems(GetMenu(window));
    for (int i = 0; i < 4; ++i) SetTimer(window, timerIds[i], timerPeriods[i], nullptr);
    createDisplayObjects();
    resetButtons[0] = createResetButton(window, IDC_RESET_MAX_PEAK, 78);
    resetButtons[1] = createResetButton(window, IDC_RESET_MIN_PEAK, 168);
    SetRect(&graphRect, GRAPH_PANEL.left, GRAPH_PANEL.top, GRAPH_PANEL.right, GRAPH_PANEL.bottom);
    return 0;
}

LRESULT onClose(HWND window) {
    if (writeSettings(&appSettings) != 0) langMessage(window, TXT_SETTINGS_FILE_ERROR, TXT_TITLE_ERROR, 0);
    for (UINT id : timerIds) KillTimer(window, id);
    return DefWindowProcW(window, WM_CLOSE, 0, 0);
}

LRESULT onDestroy(HWND window, WPARAM wParam, LPARAM lParam) {
    closeLink();
    closeReplyEvent();
    deleteDisplayObjects();
    PostQuitMessage(0);
    return DefWindowProcW(window, WM_DESTROY, wParam, lParam);
}

LRESULT onSetFocus(HWND window, WPARAM wParam, LPARAM lParam) {
    HWND previous = reinterpret_cast<HWND>(wParam);
    // A Reset button hands the focus straight back: no full repaint for that.
    if (previous != nullptr && previous != resetButtons[0] && previous != resetButtons[1])
        redrawAll = 1;
    return DefWindowProcW(window, WM_SETFOCUS, wParam, lParam);
}

LRESULT onKeyDown(WPARAM key) {
    if (keyLatch) return 0;
    keyLatch = 1;
    if (key == VK_SPACE) {
        sendCommandWord(CMD_SPACE_KEY);
    } else if (key == VK_PAUSE) {
        redrawAll = 1;
        graphFrozen = !graphFrozen;
    }
    return 0;
}

}  // namespace

int createReplyEvent() {
    ReplyEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ReplyEvent == nullptr) return 0;
    replyEventTap.context = ReplyEvent;
    replyTaps.add(&replyEventTap);
    return 1;
}

void closeReplyEvent() {
    replyTaps.remove(&replyEventTap);
    if (ReplyEvent != nullptr) CloseHandle(ReplyEvent);
    ReplyEvent = nullptr;
}

int waitForReply(DWORD timeoutMs) {
    if (ReplyEvent == nullptr) return 0;  // no event: as a device that does not answer
    ResetEvent(ReplyEvent);
    DWORD outcome = WaitForSingleObject(ReplyEvent, timeoutMs);
    ResetEvent(ReplyEvent);
    return outcome == WAIT_OBJECT_0 ? 1 : 0;
}

void refreshTitle(HWND window) {
    langText(titleText, TXT_TITLE_PROGRAM);
    SetWindowTextW(window, WideText<LANGUAGE_TEXT_SIZE>(titleText).get());
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return onCreate(window);
    case WM_CLOSE:
        return onClose(window);
    case WM_DESTROY:
        return onDestroy(window, wParam, lParam);
    case WM_SETFOCUS:
        return onSetFocus(window, wParam, lParam);
    case WM_ERASEBKGND:
        redrawAll = 1;
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_KEYDOWN:
        return onKeyDown(wParam);
    case WM_KEYUP:
        keyLatch = 0;
        return 0;
    case WM_PAINT:
        paintMainWindow(window);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_COMMAND:
        return menuCommand(window, wParam, lParam);
    case WM_TIMER:
        return timerTick(window, wParam, lParam);
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
