// The modal three-page parameter property sheet. Window thread only.
#pragma once

#include <windows.h>

#include "params/parameter_set.h"

// Fills editedParameters from deviceParameters and runs the sheet modally.
// 1 when the user closed it with OK, with words holding what OK sends; 0
// when cancelled or closed otherwise; -1 when the sheet could not be created
// (GetLastError tells why). words is empty unless the result is 1.
int runParameterSheet(HWND owner, ParameterWords* words);
