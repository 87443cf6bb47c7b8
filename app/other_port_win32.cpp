// Communication -> "Other port…": a dialog listing the serial ports present
// (the system's HARDWARE\DEVICEMAP\SERIALCOMM, sorted by number) and a box
// that takes any port name the link knows (link/port_name.h). A COM1 to
// COM8 typed there is the menu's own item, so that the settings file stays
// as it has always been for them; any other name is kept in the side file
// (params/port_choice.h) and shown above "Other port…" as its own item.
//
// Threads: the window thread alone.
#include <windows.h>

#include <string>
#include <vector>

#include "app/shell_win32.h"
#include "lang/lang_message.h"
#include "lang/language_table.h"
#include "lang/text_ids.h"
#include "lang/wide_text_win32.h"
#include "link/port_name.h"
#include "link/serial_link.h"
#include "params/port_choice.h"
#include "params/settings.h"
#include "params/utf8_win32.h"

namespace {

// The dialog's texts from the language table (the hint is the same in every
// language).
struct DialogText {
    int control;
    int textIndex;
};
constexpr DialogText OTHER_PORT_TEXTS[] = {
    {IDC_PORTS_PRESENT_LABEL, TXT_PORTS_PRESENT},
    {IDC_PORT_NAME_LABEL, TXT_PORT_NAME},
    {IDCANCEL, TXT_CANCEL},
};

void setLanguageText(HWND window, int textIndex) {
    char text[LANGUAGE_TEXT_SIZE];
    langText(text, textIndex);
    SetWindowTextW(window, WideText<LANGUAGE_TEXT_SIZE>(text).get());
}

// The names of the serial ports the system lists; empty when it lists none.
std::vector<std::string> presentSerialPorts() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        wchar_t data[256];
        DWORD nameLength = 256;
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        LONG result = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';  // a value need not end with its NUL
        std::string name;
        if (wideToUtf8(data, &name) && !name.empty()) names.push_back(name);
    }
    RegCloseKey(key);
    sortPortNames(&names);
    return names;
}

void fillPortList(HWND list) {
    for (const std::string& name : presentSerialPorts()) {
        std::wstring wide;
        if (utf8ToWide(name, &wide)) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
}

void initOtherPortDialog(HWND dialog) {
    setLanguageText(dialog, TXT_OTHER_PORT);
    for (const DialogText& text : OTHER_PORT_TEXTS) setLanguageText(GetDlgItem(dialog, text.control), text.textIndex);
    fillPortList(GetDlgItem(dialog, IDC_PORT_LIST));
    std::wstring remembered;
    if (utf8ToWide(otherPortName, &remembered)) SetDlgItemTextW(dialog, IDC_PORT_NAME, remembered.c_str());
    SendDlgItemMessageW(dialog, IDC_PORT_NAME, EM_LIMITTEXT, PORT_NAME_MAX, 0);
}

// A port picked in the list goes into the box.
void takeListChoice(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
    LRESULT index = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) return;
    wchar_t name[PORT_NAME_MAX + 1];
    if (SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0) > PORT_NAME_MAX) return;
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(name));
    SetDlgItemTextW(dialog, IDC_PORT_NAME, name);
}

// "Not a port name:" and what is wrong with it (the parser's English).
void refuseName(HWND dialog, const std::string& problem) {
    char text[LANGUAGE_TEXT_SIZE];
    char title[LANGUAGE_TEXT_SIZE];
    langText(text, TXT_NOT_A_PORT_NAME);
    langText(title, TXT_OTHER_PORT);
    std::wstring message = WideText<LANGUAGE_TEXT_SIZE>(text).get();
    std::wstring detail;
    if (utf8ToWide(problem, &detail)) message += L"\n" + detail;
    MessageBoxW(dialog, message.c_str(), WideText<LANGUAGE_TEXT_SIZE>(title).get(), MB_OK | MB_ICONSTOP);
    SetFocus(GetDlgItem(dialog, IDC_PORT_NAME));
}

// OK: a good name ends the dialog with it in the dialog's result string; a
// malformed one is refused and the dialog stays.
void finishOtherPortDialog(HWND dialog) {
    wchar_t wide[PORT_NAME_MAX + 2];
    GetDlgItemTextW(dialog, IDC_PORT_NAME, wide, PORT_NAME_MAX + 2);
    std::string name;
    PortName port;
    std::string problem;
    if (!wideToUtf8(wide, &name))
        problem = "the name is not valid text";
    else if (parsePortName(name, &port, &problem)) {
        std::string* chosen = reinterpret_cast<std::string*>(GetWindowLongPtrW(dialog, DWLP_USER));
        *chosen = name;
        EndDialog(dialog, IDOK);
        return;
    }
    refuseName(dialog, problem);
}

INT_PTR CALLBACK otherPortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        initOtherPortDialog(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK: finishOtherPortDialog(dialog); return TRUE;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
    case IDC_PORT_LIST:
        if (HIWORD(wParam) == LBN_SELCHANGE) takeListChoice(dialog);
        if (HIWORD(wParam) == LBN_DBLCLK) finishOtherPortDialog(dialog);
        return TRUE;
    default: return FALSE;
    }
}

// A new name for the other port: remembered (memory, side file, menu). When
// the other port is in use under its old name, its link is closed and the
// port marked not open, so that selectPort opens the new name instead of
// keeping the old link.
void rememberOtherPort(HWND window, const std::string& name) {
    if (name == otherPortName) return;
    int result = writeOtherPortName(name.c_str());
    if (result != 0) langMessage(window, TXT_SETTINGS_FILE_ERROR, TXT_TITLE_ERROR, result);
    showOtherPortItem(GetMenu(window));
    if (appSettings.comPort == OTHER_PORT) {
        closeLink();
        appSettings.comPort = OTHER_PORT + PORT_NOT_OPEN;
    }
}

}  // namespace

void otherPortCommand(HWND window) {
    std::string chosen;
    if (DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_OTHER_PORT), window, otherPortDialogProc,
                        reinterpret_cast<LPARAM>(&chosen)) != IDOK)
        return;
    int number = comPortNumber(chosen);
    if (number >= 1 && number <= 8 && chosen.find('\\') == std::string::npos) {
        selectPort(window, number);
        return;
    }
    rememberOtherPort(window, chosen);
    selectPort(window, OTHER_PORT);
}

// The item sits right above "Other port…"; its text is the name as chosen.
void showOtherPortItem(HMENU menu) {
    std::wstring wide;
    if (otherPortName[0] == '\0' || !utf8ToWide(otherPortName, &wide)) return;
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING | MIIM_ID;
    item.wID = IDM_CHOSEN_OTHER_PORT;
    item.dwTypeData = const_cast<wchar_t*>(wide.c_str());
    if (!SetMenuItemInfoW(menu, IDM_CHOSEN_OTHER_PORT, FALSE, &item))
        InsertMenuItemW(menu, IDM_OTHER_PORT, FALSE, &item);
}
