// Menu commands 2000, 2009 and 2010: the parameter sheet with its download,
// and saving and loading parameter files. Window thread only.
#include <windows.h>

#include "app/acquisition.h"
#include "app/shell_win32.h"
#include "display/display_state.h"
#include "lang/lang_message.h"
#include "lang/language_table.h"
#include "lang/text_ids.h"
#include "lang/wide_text_win32.h"
#include "link/command_frames.h"
#include "link/live_state.h"
#include "params/parameter_file_win32.h"
#include "params/parameter_sheet.h"
#include "params/parameter_sheet_win32.h"
#include "params/result_codes.h"

namespace {

constexpr DWORD SHEET_REQUEST_WAIT_MS = 2000;

// Question 70 under the program title: go on without the device's values?
int continueWithoutDevice(HWND owner) {
    char question[LANGUAGE_TEXT_SIZE];
    langText(question, TXT_NOT_CONNECTED_CONTINUE);
    return MessageBoxW(owner, WideText<LANGUAGE_TEXT_SIZE>(question).get(),
                       WideText<LANGUAGE_TEXT_SIZE>(titleText).get(), MB_YESNO | MB_ICONWARNING) == IDYES;
}

// The file's device text now heads the window until the device reports its
// own: refill the header band (a shorter text must not leave the old one's
// tail) and repaint with the next readout tick.
void showLoadedDeviceText() {
    redrawHeader = 1;
    liveState.readoutsChanged.store(1, std::memory_order_relaxed);
}

}  // namespace

void parametersCommand(HWND owner) {
    sendRequest();
    if (!waitForReply(SHEET_REQUEST_WAIT_MS) && !continueWithoutDevice(owner)) return;
    ParameterWords words{};
    int result = runParameterSheet(owner, &words);
    if (result == 1) {
        queueParameterWords(words);
        downloadPending = 1;
    } else if (result == -1) {
        langMessage(owner, TXT_SHEET_NOT_CREATED, TXT_TITLE_ERROR, static_cast<int>(GetLastError()));
    }
}

void saveParametersCommand(HWND owner) {
    // Before the device has answered (or a file was loaded) the record is
    // all zeros: such a file would later download values no sheet allows.
    if (deviceParametersFilled.load(std::memory_order_acquire) == 0) {
        langMessage(owner, TXT_NO_CONNECTION, TXT_TITLE_PROGRAM, 0);
        return;
    }
    if (saveParameterFile(owner) != 0)
        langMessage(owner, TXT_PARAMETERS_NOT_SAVED, TXT_TITLE_ERROR, 0);
}

void loadParametersCommand(HWND owner) {
    ParameterSet loaded;
    int result = loadParameterFile(owner, &loaded);
    switch (result) {
    case 0:
        showLoadedDeviceText();
        queueLoadedRecord(loaded);
        downloadPending = 1;
        break;
    case ERR_NOT_PARAMETER_FILE:
        langMessage(owner, TXT_NOT_PARAMETER_FILE, TXT_TITLE_ERROR, 0);
        break;
    case ERR_CANCELLED:
        break;
    default:
        langMessage(owner, TXT_PARAMETERS_NOT_READ, TXT_TITLE_ERROR, result);
        break;
    }
}
