// The two output commands of the menu: one printed page and the screen dump.
// Window thread only; both run inside the WM_COMMAND handler and report
// their own failures in message boxes.
#pragma once

#include <windows.h>

// Menu command 2034: the page-setup dialog (or, on the Windows 9x family,
// the default printer in landscape), then one page.
void printCommand(HWND owner);

// Menu command 2033: the whole window as a BMP file the user names.
void screenDump(HWND window);
