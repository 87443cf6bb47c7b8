// WM_COMMAND: the menu commands, the two Reset buttons and the request the
// program posts to itself after a port change. Every setting change is saved
// at once.
#include <windows.h>

#include "app/acquisition.h"
#include "app/shell_win32.h"
#include "display/display_state.h"
#include "lang/lang_message.h"
#include "lang/text_ids.h"
#include "lang/language_table.h"
#include "lang/wide_text_win32.h"
#include "link/command_frames.h"
#include "link/live_state.h"
#include "link/serial_link.h"
#include "output/output_win32.h"
#include "params/parameter_set.h"
#include "params/port_choice.h"
#include "params/settings.h"
#include "resources/resource_ids.h"

namespace {

constexpr DWORD PORT_CHANGE_WAIT_MS = 3000;
constexpr DWORD SCAN_WAIT_MS = 2000;
constexpr int FIRST_PORT = 1;
constexpr int LAST_PORT = 8;

void resetPeak(HWND window, uint16_t word) {
    sendCommandWord(word);
    SetFocus(window);
}

void afterPortChange() {
    sendRequest();
    waitForReply(PORT_CHANGE_WAIT_MS);
}

// The checked port chosen again is left alone while its link carries the
// device's data. A dead one (the device gone, no valid line for the
// watchdog's period, or the link closed and waiting for its quiet reopen)
// is closed and opened at once, as another port would be: the user need not
// wait for the next reopen, and a port that will not open says so. (A port
// whose open failed carries PORT_NOT_OPEN in comPort, so it never equals a
// menu choice.)
}  // namespace

void selectPort(HWND window, int port) {
    if (port == appSettings.comPort && linkCarriesData(linkIsOpen(), linkDeviceGone())) return;
    if (appSettings.comPort >= PORT_NOT_OPEN)
        appSettings.comPort -= PORT_NOT_OPEN;  // no link to close
    else
        closeLink();
    HMENU menu = GetMenu(window);
    setMenuCheck(menu, comMenuId(appSettings.comPort), 0);
    setMenuCheck(menu, comMenuId(port), 1);
    appSettings.comPort = static_cast<uint16_t>(port);
    if (!openChosenPort()) {
        reportPortNotOpen(window);
        appSettings.comPort += PORT_NOT_OPEN;
        return;
    }
    saveSettings(window);
    PostMessageA(window, WM_COMMAND, CMD_AFTER_PORT_CHANGE, 0);
}

namespace {

void selectRollPeriod(HWND window, int rollIndex) {
    if (rollIndex == appSettings.rollIndex) return;
    HMENU menu = GetMenu(window);
    setMenuCheck(menu, IDM_ROLL_10S + appSettings.rollIndex, 0);
    setMenuCheck(menu, IDM_ROLL_10S + rollIndex, 1);
    storeField(appSettings.rollIndex, static_cast<uint16_t>(rollIndex));
    configureLinkFromSettings();
    saveSettings(window);
    skipPendingTrendSamples();
    InvalidateRect(window, nullptr, TRUE);
}

void toggleStopAtAlarm(HWND window) {
    uint16_t stop = appSettings.stopAtAlarm ? 0 : 1;
    storeField(appSettings.stopAtAlarm, stop);
    configureLinkFromSettings();
    setMenuCheck(GetMenu(window), IDM_STOP_AT_ALARM, stop);
    saveSettings(window);
}

void selectLanguage(HWND window, int languageOffset) {
    HMENU oldMenu = GetMenu(window);
    storeField(appSettings.languageOffset, static_cast<uint16_t>(languageOffset));
    setLanguage(languageOffset);
    DestroyMenu(oldMenu);
    HMENU menu = LoadMenuA(appInstance, MAKEINTRESOURCEA(IDR_MENU_ENGLISH + languageOffset));
    SetMenu(window, menu);
    checkSettingItems(menu);
    refreshTitle(window);
    saveSettings(window);
    InvalidateRect(window, nullptr, TRUE);
}

// The scan blocks the window thread for up to 2 s a port, 16 s in all.
// Windows calls a window hung when its thread has not looked at its queue
// for 5 s, then ghosts it as "(Not Responding)" and offers to end the
// program, losing the settings save. A PeekMessage with PM_NOREMOVE between
// ports counts as looking and removes nothing: no command, key or timer is
// handled in the middle of the scan (only messages that other threads send
// are delivered, as during any SendMessage). Chosen over
// DisableProcessWindowsGhosting, which would only hide the ghost: the window
// would still be reported hung, and for every wait of the process.
void showResponsive() {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
}

// Opens each port in turn and asks for the device's data; a port counts as
// found when the answer arrives in time. The link stays open on that port.
int scanPorts() {
    for (int port = FIRST_PORT; port <= LAST_PORT; ++port) {
        showResponsive();
        if (!openLink(port, BAUD_RATE)) continue;
        sendRequest();
        if (waitForReply(SCAN_WAIT_MS)) return port;
        closeLink();
    }
    return 0;
}

void autoConnect(HWND window) {
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    if (appSettings.comPort < PORT_NOT_OPEN) closeLink();
    int found = scanPorts();
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    if (found != 0) {
        sendRequest();
        HMENU menu = GetMenu(window);
        setMenuCheck(menu, comMenuId(plainComPort()), 0);
        appSettings.comPort = static_cast<uint16_t>(found);
        setMenuCheck(menu, comMenuId(found), 1);
        saveSettings(window);
        return;
    }
    if (appSettings.comPort < PORT_NOT_OPEN && !openChosenPort())
        appSettings.comPort += PORT_NOT_OPEN;
    langMessage(window, TXT_DEVICE_NOT_FOUND, TXT_TITLE_COMMUNICATION, 0);
}

void showAbout(HWND window) {
    // A Unicode dialog, so that its caption is not squeezed through the ANSI
    // code page.
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT), window, aboutDialogProc, 0);
}

}  // namespace

void saveSettings(HWND owner) {
    int result = writeSettings(&appSettings);
    if (result != 0) langMessage(owner, TXT_SETTINGS_FILE_ERROR, TXT_TITLE_ERROR, result);
}

UINT comMenuId(int port) { return port == OTHER_PORT ? IDM_CHOSEN_OTHER_PORT : IDM_COM1 + port - 1; }

int plainComPort() {
    int port = appSettings.comPort;
    return port >= PORT_NOT_OPEN ? port - PORT_NOT_OPEN : port;
}

int openChosenPort() {
    int port = plainComPort();
    if (port != OTHER_PORT) return openLink(port, BAUD_RATE);
    if (otherPortName[0] == '\0') {
        SetLastError(ERROR_FILE_NOT_FOUND);  // the side file has gone
        return 0;
    }
    return openLinkByName(otherPortName, BAUD_RATE);
}

// Message 85; for the other port with the system's code, since a network
// port fails for more reasons than a COM port (refused, no answer, no such
// host).
void reportPortNotOpen(HWND window) {
    DWORD error = GetLastError();
    langMessage(window, TXT_PORT_NOT_OPEN, TXT_TITLE_COMMUNICATION,
                plainComPort() == OTHER_PORT ? static_cast<int>(error) : 0);
}

void setMenuCheck(HMENU menu, UINT id, int checked) {
    CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void checkSettingItems(HMENU menu) {
    showOtherPortItem(menu);
    setMenuCheck(menu, comMenuId(plainComPort()), 1);
    setMenuCheck(menu, IDM_ENGLISH + appSettings.languageOffset, 1);
    setMenuCheck(menu, IDM_ROLL_10S + appSettings.rollIndex, 1);
    if (appSettings.stopAtAlarm) setMenuCheck(menu, IDM_STOP_AT_ALARM, 1);
}

LRESULT menuCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    switch (id) {
    case IDC_RESET_MAX_PEAK: resetPeak(window, CMD_RESET_MAX_PEAK); return 0;
    case IDC_RESET_MIN_PEAK: resetPeak(window, CMD_RESET_MIN_PEAK); return 0;
    case IDM_ABOUT: showAbout(window); return 0;
    case IDM_EXIT: DestroyWindow(window); return 0;
    case CMD_AFTER_PORT_CHANGE: afterPortChange(); return 0;
    case IDM_ROLL_10S: case IDM_ROLL_30S: case IDM_ROLL_60S:
        selectRollPeriod(window, id - IDM_ROLL_10S);
        return 0;
    case IDM_STOP_AT_ALARM: toggleStopAtAlarm(window); return 0;
    case IDM_ENGLISH: case IDM_GERMAN: case IDM_DANISH:
        selectLanguage(window, id - IDM_ENGLISH);
        return 0;
    case IDM_AUTO_CONNECT: autoConnect(window); return 0;
    case IDM_OTHER_PORT: otherPortCommand(window); return 0;
    case IDM_CHOSEN_OTHER_PORT: selectPort(window, OTHER_PORT); return 0;
    case IDM_PARAMETERS: parametersCommand(window); return 0;
    case IDM_SAVE_PARAMETERS: saveParametersCommand(window); return 0;
    case IDM_LOAD_PARAMETERS: loadParametersCommand(window); return 0;
    case IDM_PRINTER: printCommand(window); return 0;
    case IDM_SCREEN_DUMP: screenDump(window); return 0;
    default:
        if (id >= IDM_COM1 && id <= IDM_COM8) {
            selectPort(window, id - IDM_COM1 + 1);
            return 0;
        }
        return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
    }
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        char caption[LANGUAGE_TEXT_SIZE];
        langText(caption, TXT_ABOUT);
        SetWindowTextW(dialog, WideText<LANGUAGE_TEXT_SIZE>(caption).get());
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}
