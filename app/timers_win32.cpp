// WM_TIMER: the four periodic timers of the window thread. The decisions are
// made by the acquisition cycle; this file carries them out.
#include <windows.h>

#include "app/acquisition.h"
#include "app/shell_win32.h"
#include "lang/lang_message.h"
#include "lang/text_ids.h"
#include "link/serial_link.h"
#include "params/settings.h"

namespace {

constexpr DWORD CONFIRMATION_WAIT_MS = 2000;

void graphTick(HWND window) {
    alarmHoldTick();
    InvalidateRect(window, &graphRect, FALSE);
}

void confirmDownload(HWND window) {
    int message = confirmationMessage(waitForReply(CONFIRMATION_WAIT_MS));
    if (message != 0) langMessage(window, message, TXT_TITLE_PROGRAM, 0);
}

// Carries out the recovery of a lost link: no message either way, the
// readouts already show the lost link.
void recoverLink() {
    switch (linkRecoveryTick(linkIsOpen(), linkDeviceGone(), GetTickCount())) {
    case RECOVERY_CLOSE_AND_REOPEN:
        closeLink();
        linkReopened(openChosenPort());
        break;
    case RECOVERY_REOPEN:
        linkReopened(openChosenPort());
        break;
    default:
        break;
    }
}

void pumpTickOnWindow(HWND window) {
    switch (pumpTick()) {
    case PUMP_CONFIRM:
        confirmDownload(window);
        break;
    case PUMP_LINK_LOST:
        InvalidateRect(window, nullptr, FALSE);
        break;
    default:
        break;
    }
}

}  // namespace

LRESULT timerTick(HWND window, WPARAM wParam, LPARAM lParam) {
    switch (wParam) {
    case TIMER_GRAPH:
        graphTick(window);
        return 0;
    case TIMER_PUMP:
        pumpTickOnWindow(window);
        recoverLink();
        return 0;
    case TIMER_READOUTS:
        if (readoutsTick()) InvalidateRect(window, nullptr, FALSE);
        return 0;
    case TIMER_IDENTIFICATION:
        identificationTick();
        return 0;
    default:
        return DefWindowProcW(window, WM_TIMER, wParam, lParam);
    }
}
