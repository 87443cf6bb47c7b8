// Saving deviceParameters to a parameter file the user names, and loading
// one into it, through the system's file dialogs. Window thread only.
// Results: 0, ERR_CANCELLED (load only), ERR_SHORT_TRANSFER (load only),
// ERR_NOT_PARAMETER_FILE, a common-dialog error code or a system error code.
#pragma once

#include <windows.h>

#include "params/parameter_set.h"

int saveParameterFile(HWND owner);

// On 0, deviceParameters holds the file's content and loaded its sixteen
// values; showing the new device text and sending the values are the
// caller's.
int loadParameterFile(HWND owner, ParameterSet* loaded);
