// The two file dialogs around the parameter file. Neither sets
// OFN_NOCHANGEDIR: the dialogs may move the current directory, which the
// settings file no longer follows.
#include "params/parameter_file_win32.h"

#include <commdlg.h>

#include <string>

#include "lang/lang_message.h"
#include "lang/text_ids.h"
#include "params/parameter_file.h"
#include "params/result_codes.h"
#include "params/utf8_win32.h"

namespace {

constexpr DWORD FILE_NAME_SIZE = 256;
// Description and pattern, each NUL-ended, and a final NUL.
constexpr wchar_t PARAMETER_FILE_FILTER[] = L"ELQ770 File (*.770)\0*.770\0";

// The dialogs are the W ones, and the chosen name reaches the file layer as
// UTF-8: a folder outside the ANSI code page ("Łódź" on a Western-European
// Windows) must work.
void prepareDialog(OPENFILENAMEW* dialog, HWND owner, wchar_t* fileName, DWORD flags) {
    *dialog = OPENFILENAMEW{};
    dialog->lStructSize = sizeof *dialog;
    dialog->hwndOwner = owner;
    dialog->lpstrFilter = PARAMETER_FILE_FILTER;
    dialog->lpstrFile = fileName;
    dialog->nMaxFile = FILE_NAME_SIZE;
    dialog->lpstrDefExt = L"770";
    dialog->Flags = flags;
}

}  // namespace

int saveParameterFile(HWND owner) {
    wchar_t fileName[FILE_NAME_SIZE] = L"";
    OPENFILENAMEW dialog;
    prepareDialog(&dialog, owner, fileName, OFN_OVERWRITEPROMPT);
    if (!GetSaveFileNameW(&dialog)) return static_cast<int>(CommDlgExtendedError());
    std::string path;
    if (!wideToUtf8(fileName, &path)) return ERROR_NO_UNICODE_TRANSLATION;
    int result = writeParameterFile(path.c_str(), snapshotParameters(deviceParameters));
    if (result != ERR_SHORT_TRANSFER) return result;
    // A short write is reported here; the file keeps what was written.
    langMessage(owner, TXT_PARAMETERS_NOT_SAVED, TXT_TITLE_PROGRAM, 0);
    return 0;
}

int loadParameterFile(HWND owner, ParameterSet* loaded) {
    wchar_t fileName[FILE_NAME_SIZE] = L"";
    OPENFILENAMEW dialog;
    prepareDialog(&dialog, owner, fileName, OFN_CREATEPROMPT | OFN_HIDEREADONLY);
    if (!GetOpenFileNameW(&dialog)) {
        DWORD error = CommDlgExtendedError();
        return error != 0 ? static_cast<int>(error) : ERR_CANCELLED;
    }
    std::string path;
    if (!wideToUtf8(fileName, &path)) return ERROR_NO_UNICODE_TRANSLATION;
    int result = readParameterFile(path.c_str(), loaded, PARAMETER_FILE_OPEN_ALWAYS);
    if (result != 0) return result;
    replaceParameters(&deviceParameters, *loaded);
    deviceParametersFilled.store(1, std::memory_order_release);
    return 0;
}
