// The modal three-page parameter property sheet. Window thread only.
#pragma once

#include <windows.h>

// Fills editedParameters from deviceParameters and runs the sheet modally.
// 1 when the user closed it with OK, 0 when cancelled or closed otherwise,
// -1 when the sheet could not be created (GetLastError tells why).
int runParameterSheet(HWND owner);
