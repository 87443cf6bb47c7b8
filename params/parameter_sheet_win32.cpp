// The parameter property sheet on Win32: three page procedures that bind the
// controls of templates 200, 203 and 202 to editedParameters through the
// rules in parameter_sheet.cpp. The sheet, its caption, tab titles, labels
// and list texts go through the W functions, so that the code page 1252
// texts show right on any Windows.
//
// Threads: window thread only; the sheet runs its own modal loop while the
// shell's timers go on.
#include "params/parameter_sheet_win32.h"

#include <commctrl.h>
#include <prsht.h>

#include "lang/language_table.h"
#include "lang/text_ids.h"
#include "lang/wide_text_win32.h"
#include "params/parameter_sheet.h"
#include "params/parameter_values.h"

namespace {

constexpr int TENTHS_TEXT_SIZE = 6;  // at most five characters are read

HWND sheetWindow = nullptr;
int sheetApplied = 0;
ParameterWords* sheetWords = nullptr;  // the running sheet's OK collects here
RefusedBoxes refusedBoxes[SHEET_PAGE_COUNT];  // per page, since it became active

using SheetText = WideText<LANGUAGE_TEXT_SIZE>;

SheetText languageText(int index) {
    char text[LANGUAGE_TEXT_SIZE];
    langText(text, index);
    return SheetText(text);
}

void setMessageResult(HWND page, LONG_PTR result) { SetWindowLongPtrW(page, DWLP_MSGRESULT, result); }

void replaceLabels(HWND page, const SheetPage& sheetPage) {
    for (int i = 0; i < sheetPage.labelCount; ++i) {
        SetDlgItemTextW(page, sheetPage.labels[i].controlId,
                        languageText(sheetPage.labels[i].textIndex).get());
    }
}

// Items go in at explicit positions: CB_INSERTSTRING never sorts, so the
// lists keep their order although the boxes have CBS_SORT.
void fillList(HWND page, const ComboList& list) {
    for (int position = 0; position < list.count; ++position) {
        SheetText item = list.items != nullptr ? SheetText(list.items[position])
                                               : languageText(list.firstTextIndex + position);
        SendDlgItemMessageW(page, list.controlId, CB_INSERTSTRING, position,
                            reinterpret_cast<LPARAM>(item.get()));
    }
}

void initPage(HWND page, const SheetPage& sheetPage) {
    sheetWindow = GetParent(page);
    replaceLabels(page, sheetPage);
    for (int i = 0; i < sheetPage.listCount; ++i) fillList(page, sheetPage.lists[i]);
}

void showBinding(HWND page, const ControlBinding& binding) {
    uint16_t value = editedParameters.*binding.field;
    char text[16];
    switch (binding.kind) {
    case BIND_NUMBER:
        SetDlgItemInt(page, binding.controlId, value, FALSE);
        break;
    case BIND_TENTHS:
        formatTenths(text, sizeof text, value);
        SetDlgItemTextA(page, binding.controlId, text);
        break;
    default:
        SendDlgItemMessageW(page, binding.controlId, CB_SETCURSEL, listPositionOf(binding, value), 0);
        break;
    }
}

RefusedBoxes& refusedOn(const SheetPage& sheetPage) { return refusedBoxes[&sheetPage - SHEET_PAGES]; }

void showPage(HWND page, const SheetPage& sheetPage) {
    refusedOn(sheetPage) = RefusedBoxes{};
    for (int i = 0; i < sheetPage.bindingCount; ++i) showBinding(page, sheetPage.bindings[i]);
    PostMessageW(sheetWindow, PSM_UNCHANGED, reinterpret_cast<WPARAM>(page), 0);
}

// What the box holds now: GetDlgItemInt's unsigned number, or the tenths of
// up to five characters; ENTRY_NOT_A_NUMBER for text that is no number.
uint32_t readEntry(HWND page, const ControlBinding& binding) {
    if (binding.kind == BIND_NUMBER) {
        BOOL translated = FALSE;
        UINT number = GetDlgItemInt(page, binding.controlId, &translated, FALSE);
        return translated ? number : ENTRY_NOT_A_NUMBER;
    }
    char text[TENTHS_TEXT_SIZE];
    int length = static_cast<int>(GetDlgItemTextA(page, binding.controlId, text, sizeof text));
    return tenthsEntry(text, length);
}

// A refused entry must not stay in its box looking as if it had been taken:
// the value that stands goes back, with a warning sound.
void refuseEntry(HWND page, const ControlBinding& binding) {
    MessageBeep(MB_ICONWARNING);
    showBinding(page, binding);
}

// What every box of the page holds now (combo boxes: 0, unread).
void readEntries(HWND page, const SheetPage& sheetPage, uint32_t entries[PARAMETER_COUNT]) {
    for (int i = 0; i < sheetPage.bindingCount; ++i)
        entries[i] = isEditBinding(sheetPage.bindings[i]) ? readEntry(page, sheetPage.bindings[i]) : 0;
}

// The page may be left (OK, Enter, another page) only when no entry was
// refused since it became active, whether the box still holds it (Enter) or
// already shows its standing value again (the focus moved to OK or to a tab
// first). Otherwise the standing value stands in the box, which gets the
// focus with its text selected, and the page stays.
BOOL pageMayBeLeft(HWND page, const SheetPage& sheetPage) {
    uint32_t entries[PARAMETER_COUNT];
    readEntries(page, sheetPage, entries);
    PageHold hold = holdPage(sheetPage, entries, &refusedOn(sheetPage));
    if (hold.index < 0) return TRUE;
    const ControlBinding& binding = sheetPage.bindings[hold.index];
    if (hold.refusedNow)
        refuseEntry(page, binding);
    else
        showBinding(page, binding);
    HWND box = GetDlgItem(page, binding.controlId);
    SendMessageW(page, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
    SendMessageW(box, EM_SETSEL, 0, -1);
    return FALSE;
}

void applyPageControls(HWND page, const SheetPage& sheetPage) {
    uint32_t entries[PARAMETER_COUNT];
    readEntries(page, sheetPage, entries);
    applyPage(sheetPage, entries, sheetWords);
    sheetApplied = 1;
}

INT_PTR onNotify(HWND page, const SheetPage& sheetPage, const NMHDR* header) {
    switch (header->code) {
    case PSN_SETACTIVE:
        showPage(page, sheetPage);
        return TRUE;
    case PSN_KILLACTIVE:
        if (!pageMayBeLeft(page, sheetPage)) {
            setMessageResult(page, TRUE);  // this page is not valid: the sheet stays on it
            return TRUE;
        }
        PostMessageW(sheetWindow, PSM_UNCHANGED, reinterpret_cast<WPARAM>(page), 0);
        setMessageResult(page, FALSE);
        return TRUE;
    case PSN_APPLY:
        applyPageControls(page, sheetPage);
        setMessageResult(page, PSNRET_NOERROR);
        return TRUE;
    case PSN_RESET:
        setMessageResult(page, 0);
        return TRUE;
    default:
        return TRUE;
    }
}

void onCommand(HWND page, const SheetPage& sheetPage, WPARAM wParam) {
    const ControlBinding* binding = findBinding(sheetPage, LOWORD(wParam));
    if (binding == nullptr) return;
    if (!isEditBinding(*binding)) {
        LRESULT position = SendDlgItemMessageW(page, binding->controlId, CB_GETCURSEL, 0, 0);
        if (position != CB_ERR) takeListPosition(*binding, static_cast<int>(position));
        return;
    }
    if (HIWORD(wParam) != EN_KILLFOCUS) return;
    int index = static_cast<int>(binding - sheetPage.bindings);
    if (leaveEditBox(sheetPage, index, readEntry(page, *binding), &refusedOn(sheetPage))) refuseEntry(page, *binding);
}

INT_PTR pageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam, const SheetPage& sheetPage) {
    switch (message) {
    case WM_INITDIALOG:
        initPage(page, sheetPage);
        return TRUE;
    case WM_NOTIFY:
        return onNotify(page, sheetPage, reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
        onCommand(page, sheetPage, wParam);
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK limit1PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return pageProc(page, message, wParam, lParam, SHEET_PAGES[0]);
}

INT_PTR CALLBACK limit2PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return pageProc(page, message, wParam, lParam, SHEET_PAGES[1]);
}

INT_PTR CALLBACK setupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return pageProc(page, message, wParam, lParam, SHEET_PAGES[2]);
}

constexpr DLGPROC PAGE_PROCS[SHEET_PAGE_COUNT] = {limit1PageProc, limit2PageProc, setupPageProc};

}  // namespace

int runParameterSheet(HWND owner, ParameterWords* words) {
    copyDeviceToEdited();
    words->count = 0;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE));
    const SheetText titles[SHEET_PAGE_COUNT] = {languageText(SHEET_PAGES[0].titleIndex),
                                                languageText(SHEET_PAGES[1].titleIndex),
                                                languageText(SHEET_PAGES[2].titleIndex)};
    PROPSHEETPAGEW pages[SHEET_PAGE_COUNT] = {};
    for (int i = 0; i < SHEET_PAGE_COUNT; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].dwFlags = PSP_USETITLE;
        pages[i].hInstance = instance;
        pages[i].pszTemplate = MAKEINTRESOURCEW(SHEET_PAGES[i].templateId);
        pages[i].pfnDlgProc = PAGE_PROCS[i];
        pages[i].pszTitle = titles[i].get();
    }
    const SheetText caption = languageText(TXT_SHEET_CAPTION);
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP;  // no help to show
    header.hwndParent = owner;
    header.hInstance = instance;
    header.pszCaption = caption.get();
    header.nPages = SHEET_PAGE_COUNT;
    header.nStartPage = 0;
    header.ppsp = pages;
    sheetApplied = 0;
    sheetWords = words;
    INT_PTR result = PropertySheetW(&header);
    sheetWindow = nullptr;
    sheetWords = nullptr;
    if (result < 0 || !sheetApplied) words->count = 0;
    if (result < 0) return -1;
    // OK is known by its PSN_APPLY: the documented return value only tells
    // whether pages reported changes, which these pages never do.
    return sheetApplied;
}
