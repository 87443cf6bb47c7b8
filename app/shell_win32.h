// The shell's process-wide state and operations, shared by the entry point,
// the window procedure, the menu commands and the timers. Window thread only;
// ReplyEvent is also set by the reader thread through the parser's reply hook.
#pragma once

#include <windows.h>

#include "resources/resource_ids.h"

extern HINSTANCE appInstance;
extern HWND MainWindow;
extern char titleText[64];
extern HANDLE ReplyEvent;
extern HWND resetButtons[2];
extern RECT graphRect;
extern int keyLatch;

constexpr UINT_PTR TIMER_GRAPH = 20;
constexpr UINT_PTR TIMER_PUMP = 50;
constexpr UINT_PTR TIMER_READOUTS = 300;
constexpr UINT_PTR TIMER_IDENTIFICATION = 1000;
constexpr WORD CMD_AFTER_PORT_CHANGE = 500;

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT menuCommand(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT timerTick(HWND window, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Creates ReplyEvent and binds the parser's reply hook to it.
int createReplyEvent();
void closeReplyEvent();

// Resets ReplyEvent, waits for it up to timeout, resets it again.
// Returns 1 when the device answered in time.
int waitForReply(DWORD timeoutMs);

// writeSettings, reporting a failure with message 83 and its code.
void saveSettings(HWND owner);

// The menu item of COM port 1 to 8, or of the other port (OTHER_PORT).
UINT comMenuId(int port);

// Opens the chosen port: COM1 to COM8 by number, the other port by its
// name. 1, or 0 with GetLastError telling why.
int openChosenPort();

// Message 85 after openChosenPort failed.
void reportPortNotOpen(HWND window);

// Closes the link on the current port, opens the chosen one and checks its
// menu item (port 1 to 8 or OTHER_PORT); the checked port chosen again is
// left alone while its link carries data.
void selectPort(HWND window, int port);

// Communication -> "Other port…" (other_port_win32.cpp): the dialog, and
// the port chosen in it.
void otherPortCommand(HWND window);

// Shows the remembered other port's name as its own item of the
// Communication menu, above "Other port…"; nothing when none is remembered.
void showOtherPortItem(HMENU menu);

// The port number the menu shows for comPort (the mark taken off).
int plainComPort();

// Checks the items of menu that mirror the settings.
void checkSettingItems(HMENU menu);
void setMenuCheck(HMENU menu, UINT id, int checked);

// Loads the title of the current language into titleText and the caption.
void refreshTitle(HWND window);

// Menu commands 2000, 2009 and 2010.
void parametersCommand(HWND owner);
void saveParametersCommand(HWND owner);
void loadParametersCommand(HWND owner);
