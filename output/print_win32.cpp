// Printing on Win32: the printer chosen in the page-setup dialog (or the
// default printer in landscape on the Windows 9x family), then one page laid
// out by print_page.h on a fixed logical grid. Window thread only; the page
// shows the live values of the moment printPage runs, read whole-field from
// what the reader thread writes.
//
// Every printed text goes through the W functions, converted from the
// language table's code page 1252, so that it prints right whatever the
// system's ANSI code page is.
#include <windows.h>
// Left out of <windows.h> by WIN32_LEAN_AND_MEAN.
#include <cderr.h>
#include <commdlg.h>
#include <winspool.h>

#include <cstring>

#include "display/main_paint_win32.h"
#include "lang/lang_message.h"
#include "lang/language_table.h"
#include "lang/text_ids.h"
#include "lang/wide_text_win32.h"
#include "link/live_state.h"
#include "output/output_win32.h"
#include "output/print_page.h"
#include "params/parameter_file.h"
#include "params/parameter_set.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");

namespace {

constexpr int SYSTEM_TEXT_SIZE = 64;

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The printer's DC, or null with the reason in *dcError. CreateDC does not
// promise a last-error code; without one the printer's name is taken as
// the reason.
HDC createPrinterDc(const char* device, const DEVMODEA* mode, int* dcError) {
    SetLastError(0);
    HDC dc = CreateDCA(nullptr, device, nullptr, mode);
    if (dc == nullptr) {
        DWORD error = GetLastError();
        *dcError = error != 0 ? static_cast<int>(error) : ERROR_INVALID_PRINTER_NAME;
    }
    return dc;
}

// The default printer with its page turned to landscape.
int chooseDefaultPrinter9x(HDC* dc, int* dcError) {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersA(PRINTER_ENUM_DEFAULT, nullptr, 2, nullptr, 0, &needed, &count);
    if (needed == 0) return ERROR_INVALID_PRINTER_NAME;  // no default printer
    auto* buffer = static_cast<BYTE*>(LocalAlloc(LPTR, needed));
    if (buffer == nullptr) return static_cast<int>(GetLastError());
    if (!EnumPrintersA(PRINTER_ENUM_DEFAULT, nullptr, 2, buffer, needed, &needed, &count)) {
        int code = static_cast<int>(GetLastError());
        LocalFree(buffer);
        return code;
    }
    int code = 0;
    auto* printer = reinterpret_cast<PRINTER_INFO_2A*>(buffer);
    if (count == 0) {
        code = ERROR_INVALID_PRINTER_NAME;
    } else {
        if (printer->pDevMode != nullptr) printer->pDevMode->dmOrientation = DMORIENT_LANDSCAPE;
        *dc = createPrinterDc(printer->pPrinterName, printer->pDevMode, dcError);
    }
    LocalFree(buffer);
    return code;
}

// The DC of the printer and page the user chose in the dialog's blocks.
int createChosenDc(HGLOBAL devNames, HGLOBAL devMode, HDC* dc, int* dcError) {
    auto* names = static_cast<DEVNAMES*>(GlobalLock(devNames));
    if (names == nullptr) return static_cast<int>(GetLastError());
    char device[CCHDEVICENAME * 4];
    lstrcpynA(device, reinterpret_cast<const char*>(names) + names->wDeviceOffset, sizeof device);
    GlobalUnlock(devNames);
    auto* mode = static_cast<DEVMODEA*>(GlobalLock(devMode));
    *dc = createPrinterDc(device, mode, dcError);
    if (mode != nullptr) GlobalUnlock(devMode);
    return 0;
}

// The dialog starts without blocks and hands back the DEVNAMES and DEVMODE of
// the printer and page chosen: a zero-filled DEVMODE is no valid input (a
// DEVMODE of size 0 and paper 0 x 0), and Wine's dialog divides by its zero
// paper size.
int choosePrinterInDialog(HWND owner, HDC* dc, int* dcError) {
    PAGESETUPDLGA setup{};
    setup.lStructSize = sizeof setup;
    setup.hwndOwner = owner;
    setup.Flags = PSD_NONETWORKBUTTON;
    int code = 0;
    if (!PageSetupDlgA(&setup))
        code = static_cast<int>(CommDlgExtendedError());  // 0: cancelled, no DC
    else if (setup.hDevNames == nullptr)
        code = static_cast<int>(PDERR_NODEVICES);
    else
        code = createChosenDc(setup.hDevNames, setup.hDevMode, dc, dcError);
    if (setup.hDevNames != nullptr) GlobalFree(setup.hDevNames);
    if (setup.hDevMode != nullptr) GlobalFree(setup.hDevMode);
    return code;
}

// Returns 0 or an error code of the dialog or the enumeration. *dc stays
// null when the user cancelled, or when the chosen printer's DC could not be
// made: then *dcError holds the reason, else 0.
int choosePrinter(HWND owner, HDC* dc, int* dcError) {
    *dc = nullptr;
    *dcError = 0;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return chooseDefaultPrinter9x(dc, dcError);
    return choosePrinterInDialog(owner, dc, dcError);
}

HFONT createPrintFont(PrintFont kind) {
    PrintFontHeightWeight spec = printFontHeightWeight(kind);
    LOGFONTA font{};
    font.lfHeight = spec.height;
    font.lfWeight = spec.weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpyA(font.lfFaceName, "CourierNew");
    return CreateFontIndirectA(&font);
}

// Each font is made on first use and deleted at the end.
void printLines(HDC dc, const PrintLine* lines, int count) {
    HFONT fonts[3] = {};
    HGDIOBJ previous = nullptr;
    for (int i = 0; i < count; ++i) {
        HFONT& font = fonts[static_cast<int>(lines[i].font)];
        if (font == nullptr) font = createPrintFont(lines[i].font);
        HGDIOBJ replaced = font != nullptr ? SelectObject(dc, font) : nullptr;
        if (previous == nullptr) previous = replaced;
        TextOutW(dc, lines[i].x, lines[i].y, wide(lines[i].text), printTextLength(lines[i].text));
    }
    if (previous != nullptr) SelectObject(dc, previous);
    for (HFONT font : fonts)
        if (font != nullptr) DeleteObject(font);
}

void printHeader(HDC dc, const ParameterSet& record) {
    char deviceText[sizeof record.deviceText + 1] = {};
    std::memcpy(deviceText, record.deviceText, sizeof record.deviceText);
    wchar_t date[SYSTEM_TEXT_SIZE] = L"";
    wchar_t time[SYSTEM_TEXT_SIZE] = L"";
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, nullptr, nullptr, date, SYSTEM_TEXT_SIZE);
    GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS, nullptr, nullptr, time, SYSTEM_TEXT_SIZE);
    PrintLine lines[HEADER_LINE_COUNT];
    headerLines(lines, deviceText, reinterpret_cast<const char16_t*>(date), reinterpret_cast<const char16_t*>(time),
                liveState.maxPeak.load(std::memory_order_relaxed), liveState.minPeak.load(std::memory_order_relaxed));
    printLines(dc, lines, HEADER_LINE_COUNT);
}

void printParameterList(HDC dc, const ParameterSet& record, int a, int b) {
    PrintLine lines[PARAMETER_LINE_COUNT];
    parameterListLines(lines, record, a, b);
    UINT previousAlign = SetTextAlign(dc, TA_LEFT | TA_BOTTOM);
    printLines(dc, lines, PARAMETER_LINE_COUNT);
    SetTextAlign(dc, previousAlign);
}

// The code shown behind message 89: the system's, else the spooler's
// SP_ERROR.
int failedJob(HDC dc, bool started) {
    int code = static_cast<int>(GetLastError());
    // A job left open would hold the printer; it is withdrawn, not finished.
    if (started) AbortDoc(dc);
    return code != 0 ? code : SP_ERROR;
}

// Returns 0 when the page was printed, else the job's error code.
int printPage(HDC dc) {
    char title[LANGUAGE_TEXT_SIZE];
    langText(title, TXT_TITLE_PROGRAM);
    const WideText<LANGUAGE_TEXT_SIZE> jobTitle(title);
    DOCINFOW job{};
    job.cbSize = sizeof job;
    job.lpszDocName = jobTitle.get();
    SetLastError(0);
    if (StartDocW(dc, &job) <= 0) return failedJob(dc, false);
    if (StartPage(dc) <= 0) return failedJob(dc, true);

    const int width = GetDeviceCaps(dc, HORZRES);
    const int height = GetDeviceCaps(dc, VERTRES);
    const PrintLayout layout = printLayoutFor(width, height);
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowExtEx(dc, layout.windowWidth, layout.windowHeight, nullptr);
    SetViewportExtEx(dc, width, height, nullptr);
    SetViewportOrgEx(dc, 0, 0, nullptr);

    const ParameterSet record = snapshotParameters(deviceParameters);
    printHeader(dc, record);
    drawPrintAxes(dc, layout.graphX, layout.graphY);
    drawPrintTrend(dc, layout.graphX, layout.graphY);
    printParameterList(dc, record, layout.listX, layout.listY);

    if (EndPage(dc) <= 0) return failedJob(dc, true);
    if (EndDoc(dc) <= 0) return failedJob(dc, false);
    return 0;
}

}  // namespace

void printCommand(HWND owner) {
    HDC dc = nullptr;
    int dcError = 0;
    if (choosePrinter(owner, &dc, &dcError) != 0) {
        langMessage(owner, TXT_CANNOT_OPEN_PRINTER, TXT_TITLE_ERROR, 0);
        return;
    }
    if (dcError != 0) {
        // A printer chosen but not reachable must not look like a cancel.
        langMessage(owner, TXT_CANNOT_OPEN_PRINTER, TXT_TITLE_ERROR, dcError);
        return;
    }
    if (dc == nullptr) return;  // cancelled
    int result = printPage(dc);
    // A printer that asks for a file name in StartDoc ("Print to PDF")
    // reports the user's Cancel there: no job was made, nothing to say.
    if (result != 0 && result != ERROR_CANCELLED) langMessage(owner, TXT_PRINT_FAILED, TXT_TITLE_ERROR, result);
    DeleteDC(dc);
}
