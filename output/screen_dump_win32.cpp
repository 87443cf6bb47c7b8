// The screen dump on Win32: the window's area of the screen into a memory
// bitmap, its pixels into a buffer, then the file the user names. Window
// thread only. The pixels are read before the file dialog, so a failed
// allocation or read never leaves an empty file. The picture is written to a
// new file beside the chosen one and takes its name only once it is whole:
// a write that fails removes the partial file and leaves the file the user
// agreed to replace as it was.
#include <windows.h>
#include <commdlg.h>  // left out by WIN32_LEAN_AND_MEAN
#include <dwmapi.h>   // names and constants only: dwmapi.dll is loaded at run time

#include "display/gdi_surface_win32.h"
#include "lang/lang_message.h"
#include "lang/text_ids.h"
#include "output/bitmap_file.h"
#include "output/output_win32.h"
#include "output/screen_dump.h"
#include "output/screen_dump_testing.h"
#include "params/file_access.h"

namespace {

constexpr DWORD FILE_NAME_SIZE = 256;
// Names tried for the new file before giving up: others would only be taken
// by leftovers of earlier dumps or by a program making such names itself.
constexpr int TEMP_NAME_TRIES = 100;

int injectedFault = DUMP_FAULT_NONE;

// The calling thread in a per-monitor-aware DPI context for its lifetime
// (or until restore). SetThreadDpiAwarenessContext is looked up, since
// systems before Windows 10 version 1607 lack it; there nothing changes.
class DpiContextSwitch {
public:
    DpiContextSwitch() {
        using SetContext = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
        HMODULE user = GetModuleHandleW(L"user32.dll");
        set_ = user != nullptr ? reinterpret_cast<SetContext>(
                                     reinterpret_cast<void*>(GetProcAddress(user, "SetThreadDpiAwarenessContext")))
                               : nullptr;
        if (set_ == nullptr) return;
        // Version 2 from Windows 10 version 1703, version 1 before it.
        previous_ = set_(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
        if (previous_ == nullptr) previous_ = set_(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
    }
    ~DpiContextSwitch() { restore(); }
    DpiContextSwitch(const DpiContextSwitch&) = delete;
    DpiContextSwitch& operator=(const DpiContextSwitch&) = delete;
    void restore() {
        if (previous_ != nullptr) set_(previous_);
        previous_ = nullptr;
    }

private:
    DPI_AWARENESS_CONTEXT(WINAPI* set_)(DPI_AWARENESS_CONTEXT) = nullptr;
    DPI_AWARENESS_CONTEXT previous_ = nullptr;
};

// The desktop compositor (dwmapi.dll), where there is one and composition is
// on: always from Windows 8, optional on Windows 7. The program does not
// import the DLL, so its start never depends on it; it is loaded by its full
// path in the system folder, where LoadLibrary looks nowhere else, and a
// system without it only makes the load fail.
class DesktopCompositor {
public:
    DesktopCompositor() {
        wchar_t path[MAX_PATH];
        UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (length == 0 || length + sizeof DLL_NAME / sizeof DLL_NAME[0] > MAX_PATH) return;
        lstrcpyW(path + length, DLL_NAME);
        module_ = LoadLibraryW(path);
        if (module_ == nullptr) return;
        auto enabled = reinterpret_cast<HRESULT(WINAPI*)(BOOL*)>(function("DwmIsCompositionEnabled"));
        getAttribute_ = reinterpret_cast<HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD)>(
            function("DwmGetWindowAttribute"));
        flush_ = reinterpret_cast<HRESULT(WINAPI*)()>(function("DwmFlush"));
        BOOL on = FALSE;
        composing_ = enabled != nullptr && SUCCEEDED(enabled(&on)) && on;
    }
    ~DesktopCompositor() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    DesktopCompositor(const DesktopCompositor&) = delete;
    DesktopCompositor& operator=(const DesktopCompositor&) = delete;

    // Waits until what was drawn last is on the screen, which under
    // composition is the compositor's copy of the window.
    void flush() {
        if (composing_ && flush_ != nullptr) flush_();
    }

    // The window's visible frame in physical screen pixels; false where the
    // compositor cannot say (no composition, or an older system).
    bool visibleFrame(HWND window, DumpRect* frame) {
        RECT bounds{};
        if (!composing_ || getAttribute_ == nullptr ||
            FAILED(getAttribute_(window, DWMWA_EXTENDED_FRAME_BOUNDS, &bounds, sizeof bounds)))
            return false;
        *frame = DumpRect{bounds.left, bounds.top, bounds.right, bounds.bottom};
        return true;
    }

private:
    static constexpr wchar_t DLL_NAME[] = L"\\dwmapi.dll";
    void* function(const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(module_, name));
    }
    HMODULE module_ = nullptr;
    bool composing_ = false;
    HRESULT(WINAPI* getAttribute_)(HWND, DWORD, PVOID, DWORD) = nullptr;
    HRESULT(WINAPI* flush_)() = nullptr;
};

void dumpMessage(HWND window, int message, int code = 0) {
    langMessage(window, message, TXT_TITLE_SCREEN_DUMP, code);
}

// The info block for the bitmap, zero-filled with room for its colour
// table; null (and message 94) when the bitmap cannot be described.
BITMAPINFO* makeBitmapInfo(HWND window, HBITMAP bitmap, SIZE_T* blockSize) {
    BITMAP shape{};
    if (bitmap == nullptr || GetObjectA(bitmap, sizeof shape, &shape) == 0) {
        dumpMessage(window, TXT_DUMP_NO_COLOUR_FORMAT);
        return nullptr;
    }
    BitmapInfoHeader header = makeBitmapInfoHeader(shape.bmWidth, shape.bmHeight, shape.bmPlanes, shape.bmBitsPixel);
    *blockSize = bitmapInfoSize(dibDepthOf(shape.bmPlanes, shape.bmBitsPixel));
    auto* info = static_cast<BITMAPINFO*>(LocalAlloc(LPTR, *blockSize));
    if (info == nullptr) {
        dumpMessage(window, TXT_DUMP_NO_MEMORY);
        return nullptr;
    }
    static_assert(sizeof header == sizeof info->bmiHeader, "same header layout");
    CopyMemory(&info->bmiHeader, &header, sizeof header);
    return info;
}

// A new, empty file beside `name`, its path in `temp`: 0 and its handle in
// *file, or the system's error code. Paths are UTF-16 throughout, so any
// folder name works on any ANSI code page. A name another file holds
// already is passed over for the next.
int createFileBeside(const wchar_t* name, wchar_t temp[MAX_PATH], HANDLE* file) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(name, MAX_PATH, full, nullptr);
    if (length == 0) return static_cast<int>(GetLastError());
    if (length >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    DWORD serial = GetTickCount();
    for (int attempt = 0; attempt < TEMP_NAME_TRIES; ++attempt) {
        if (!dumpTempPath(reinterpret_cast<const char16_t*>(full), serial + attempt,
                          reinterpret_cast<char16_t*>(temp), MAX_PATH))
            return ERROR_FILENAME_EXCED_RANGE;
        *file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (*file != INVALID_HANDLE_VALUE) return 0;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return static_cast<int>(error);
    }
    return ERROR_FILE_EXISTS;
}

// The save dialog, then a new file beside the chosen one (`temp`) to write
// the picture into. Returns 0 or the dialog's or the system's error code;
// *file stays INVALID_HANDLE_VALUE when the user cancelled.
int chooseDumpFile(HWND window, HANDLE* file, wchar_t name[FILE_NAME_SIZE], wchar_t temp[MAX_PATH]) {
    *file = INVALID_HANDLE_VALUE;
    name[0] = L'\0';
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = L"Bitmap File (*.bmp)\0*.bmp\0";
    dialog.lpstrFile = name;
    dialog.nMaxFile = FILE_NAME_SIZE;
    dialog.Flags = OFN_OVERWRITEPROMPT;
    dialog.lpstrDefExt = L"bmp";
    if (!GetSaveFileNameW(&dialog)) return static_cast<int>(CommDlgExtendedError());
    return createFileBeside(name, temp, file);
}

// The finished picture takes the chosen name. An antivirus scanner or an
// indexer may hold the just-closed file for a moment: a refusal for access
// or sharing is tried again, as the settings file's open is.
bool renameDump(const wchar_t* temp, const wchar_t* name) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temp, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        int error = static_cast<int>(GetLastError());
        if (!(isAccessDenied(error) || isSharingViolation(error)) || attempt == FILE_BUSY_RETRIES) return false;
        Sleep(FILE_BUSY_RETRY_PAUSE_MS);
    }
}

bool writeBytes(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool writePixels(HANDLE file, const void* pixels, DWORD size) {
    if (injectedFault == DUMP_FAULT_WRITE) {
        writeBytes(file, pixels, size / 2);
        return false;
    }
    return writeBytes(file, pixels, size);
}

// Header, info block and pixels; stops at the first write that fails.
bool writeDumpParts(HANDLE file, const BITMAPINFO* info, const DumpFileLayout& layout, const void* pixels) {
    uint8_t fileHeader[BITMAP_FILE_HEADER_SIZE];
    bitmapFileHeader(fileHeader, layout);
    return writeBytes(file, fileHeader, sizeof fileHeader) && writeBytes(file, info, layout.infoBytes) &&
           writePixels(file, pixels, info->bmiHeader.biSizeImage);
}

void saveDump(HWND window, const BITMAPINFO* info, const DumpFileLayout& layout, const void* pixels) {
    HANDLE file;
    wchar_t name[FILE_NAME_SIZE];
    wchar_t temp[MAX_PATH];
    int code = chooseDumpFile(window, &file, name, temp);
    if (code != 0) {
        dumpMessage(window, TXT_DUMP_CREATE_FAILED, code);
        return;
    }
    if (file == INVALID_HANDLE_VALUE) return;  // cancelled
    // Flushed before the rename, so the name never reaches the disk ahead of
    // the picture.
    bool written = writeDumpParts(file, info, layout, pixels) && FlushFileBuffers(file);
    if (!written) dumpMessage(window, TXT_DUMP_WRITE_FAILED);
    if (!CloseHandle(file)) {
        // What the system still held for the file may never have reached it.
        if (written) dumpMessage(window, TXT_DUMP_CLOSE_FAILED);
        written = false;
    }
    // A bitmap cut short would open as a broken picture: it never takes the
    // user's name, and the file it was to replace stays.
    if (written && !renameDump(temp, name)) {
        dumpMessage(window, TXT_DUMP_CREATE_FAILED, static_cast<int>(GetLastError()));
        written = false;
    }
    if (!written) DeleteFileW(temp);
}

// The pixels first, then the file: nothing is created or replaced unless
// there is a whole picture to write.
void writeDumpFile(HWND window, BITMAPINFO* info, SIZE_T blockSize, HBITMAP bitmap, HDC memory) {
    void* pixels = GlobalAlloc(GMEM_FIXED, info->bmiHeader.biSizeImage);
    if (pixels == nullptr) {
        dumpMessage(window, TXT_DUMP_NO_MEMORY);
        return;
    }
    int lines = injectedFault == DUMP_FAULT_PIXEL_READ
                    ? 0
                    : GetDIBits(memory, bitmap, 0, static_cast<UINT>(info->bmiHeader.biHeight), pixels, info,
                                DIB_RGB_COLORS);
    BitmapInfoHeader header;
    CopyMemory(&header, &info->bmiHeader, sizeof header);
    DumpFileLayout layout;
    if (lines == 0 || !dumpFileLayout(header, blockSize, &layout))
        dumpMessage(window, TXT_DUMP_PIXEL_READ_FAILED);
    else
        saveDump(window, info, layout, pixels);
    GlobalFree(pixels);
}

// The screen area of the window's visible frame, or of its whole rectangle
// where the compositor gives no frame: in the same pixels as the screen
// copied (see screenDump).
bool windowAreaOf(HWND window, DesktopCompositor& compositor, DumpArea* area) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) return false;
    DumpRect frame{};
    bool framed = compositor.visibleFrame(window, &frame);
    return dumpAreaOf(dumpRectOf(DumpRect{rect.left, rect.top, rect.right, rect.bottom}, framed ? &frame : nullptr),
                      area);
}

void refreshHeader(HWND window) {
    HDC dc = GetDC(window);
    if (dc == nullptr) return;
    {
        GdiSurface surface(dc);
        refreshHeaderBand(surface);
    }
    ReleaseDC(window, dc);
}

}  // namespace

void injectDumpFault(int fault) { injectedFault = fault; }

void screenDump(HWND window) {
    refreshHeader(window);
    // On a scaled display a DPI-unaware program is told its window's place
    // in scaled-down coordinates, while the screen holds physical pixels:
    // the copy is made in a per-monitor-aware context, where the rectangle
    // and the screen are in the same pixels, as the compositor's frame
    // always is. Without that context (older systems) the window rectangle
    // and the screen are in the same coordinates already.
    DpiContextSwitch perMonitor;
    DesktopCompositor compositor;
    compositor.flush();  // the header just drawn is on the screen before the copy
    HDC screen = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    HDC memory = CreateCompatibleDC(screen);
    DumpArea area{};
    HBITMAP bitmap = nullptr;
    if (windowAreaOf(window, compositor, &area)) bitmap = CreateCompatibleBitmap(screen, area.width, area.height);
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, area.width, area.height, screen, area.x, area.y, SRCCOPY);
        // GetDIBits wants the bitmap out of every DC.
        SelectObject(memory, previous);
    }
    perMonitor.restore();  // the file dialog and messages keep the program's scaling
    SIZE_T blockSize = 0;
    BITMAPINFO* info = makeBitmapInfo(window, bitmap, &blockSize);
    if (info != nullptr) {
        writeDumpFile(window, info, blockSize, bitmap, memory);
        LocalFree(info);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
    if (screen != nullptr) DeleteDC(screen);
}
