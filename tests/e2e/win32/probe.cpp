// probe.exe: looks at and pokes the windows of another program in the same
// Wine prefix (and virtual desktop), one verb per run, for the end-to-end
// tests. Results go to stdout as the ANSI API returns them (code page 1252),
// in binary mode (no CR added). Exit code 0 on success, 1 on a usage error,
// 2 when the window was not found or a wait timed out, 3 when an operation
// failed.
//
// TARGET names a window: "0x1A2B" (a handle printed earlier), "title=TEXT"
// (a visible top-level window with exactly that title), or a window class
// name (FindWindowA). CONTROL_ID is a control id anywhere below TARGET.
//
//   version                          "probe 1"
//   wait-window TARGET TIMEOUT_MS    waits until it exists and is visible; "HWND TITLE"
//   wait-gone TARGET TIMEOUT_MS      waits until no such window exists
//   title TARGET                     its title
//   list-windows                     per top-level window: "HWND CLASS visible=0|1 pid=N TITLE"
//   children TARGET                  per descendant: "HWND CLASS id=N visible=0|1 TEXT"
//   post-command TARGET ID           PostMessage WM_COMMAND(ID)
//   post-key TARGET VK down|up|press|repeat
//                                    WM_KEYDOWN / WM_KEYUP with the lParam a keyboard
//                                    gives: repeat count 1, scan code, extended bit; up
//                                    has bits 30 and 31; "repeat" is one auto-repeat
//                                    WM_KEYDOWN (bit 30 set); "press" is down then up.
//                                    VK: SPACE PAUSE RETURN ESCAPE TAB LEFT RIGHT UP DOWN
//                                    F1..F12, a letter or digit, or a number (0x.. too).
//   click-button TARGET CONTROL_ID   posts BM_CLICK to that control
//   focus-of TARGET                  the focus of TARGET's thread: "HWND CLASS ID" or "none"
//   close TARGET                     posts WM_CLOSE
//   wait-msgbox TITLE TIMEOUT_MS     a visible #32770 dialog with that title; prints
//                                    "HWND icon=information|stop|warning|question|none|unknown"
//                                    and then its text (Static 65535, or the first
//                                    Static with text)
//   close-msgbox TITLE [BUTTON]      posts WM_COMMAND BUTTON (IDOK, IDCANCEL, IDYES, IDNO
//                                    or a number; IDOK by default) and waits until it is gone
//   get-text TARGET [CONTROL_ID]     WM_GETTEXT (works across processes, unlike GetWindowText)
//   set-text TARGET CONTROL_ID TEXT  WM_SETTEXT; CONTROL_ID "." is TARGET itself
//   send TARGET CONTROL_ID MSG WPARAM LPARAM   SendMessageTimeout of numbers; prints the result
//   post TARGET CONTROL_ID MSG WPARAM LPARAM   PostMessage of numbers
//   notify TARGET CONTROL_ID CODE    posts WM_COMMAND(id, CODE) from the control to its parent
//   client-origin TARGET             "X Y": ClientToScreen of (0,0)
//   client-size TARGET               "W H"
//   window-rect TARGET               "LEFT TOP RIGHT BOTTOM": the whole window on the screen
//   pixel X Y                        "R G B" of the screen
//   capture-client TARGET OUT.bmp    the client area from the screen, 24-bit BMP
//   open-com N                       opens COMn as the program does and reads its line
//                                    settings; "open" (exit 0) or "error CODE" (exit 3)
//   get-text-w TARGET [CONTROL_ID]   WM_GETTEXT through the W function (a title too),
//                                    printed as UTF-8
//                                    (what a user sees, whatever the ANSI code page)
//   hold-file PATH MS                opens PATH without sharing, prints "held", keeps it
//                                    MS milliseconds (a backup tool holding the file)
//   text-fit MODULE DIALOG_ID        creates the dialog from MODULE's resources, hidden,
//                                    and per static text: "id=N text=W room=R TEXT" (its
//                                    extent in the control's font and the control's
//                                    width, pixels); then "fits=1" or "fits=0"
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_USAGE = 1;
constexpr int EXIT_NOT_FOUND = 2;
constexpr int EXIT_FAILED = 3;
constexpr UINT SEND_TIMEOUT_MS = 3000;

using Args = std::vector<std::string>;

long parseNumber(const std::string& text) { return std::strtol(text.c_str(), nullptr, 0); }

std::string hexHandle(HWND hwnd) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)));
    return text;
}

std::string classOf(HWND hwnd) {
    char name[256] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string titleOf(HWND hwnd) {
    char text[1024] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// WM_GETTEXT reaches controls of other processes; GetWindowText does not.
std::string textOf(HWND hwnd) {
    std::vector<char> text(65536, '\0');
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             SEND_TIMEOUT_MS, &length))
        return titleOf(hwnd);
    return std::string(text.data(), length);
}

struct TitleSearch {
    std::string title;
    std::string className;  // "" = any
    HWND found;
};

BOOL CALLBACK matchTitle(HWND hwnd, LPARAM data) {
    TitleSearch* search = reinterpret_cast<TitleSearch*>(data);
    if (!IsWindowVisible(hwnd) || titleOf(hwnd) != search->title) return TRUE;
    if (!search->className.empty() && classOf(hwnd) != search->className) return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND findByTitle(const std::string& title, const std::string& className) {
    TitleSearch search{title, className, nullptr};
    EnumWindows(matchTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND findTarget(const std::string& target) {
    if (target.rfind("0x", 0) == 0) {
        HWND hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(target.c_str(), nullptr, 16)));
        return IsWindow(hwnd) ? hwnd : nullptr;
    }
    if (target.rfind("title=", 0) == 0) return findByTitle(target.substr(6), "");
    return FindWindowA(target.c_str(), nullptr);
}

struct ControlSearch {
    int id;
    HWND found;
    HWND hidden;
};

BOOL CALLBACK matchControl(HWND hwnd, LPARAM data) {
    ControlSearch* search = reinterpret_cast<ControlSearch*>(data);
    if (GetDlgCtrlID(hwnd) != search->id) return TRUE;
    if (!IsWindowVisible(hwnd)) {
        if (!search->hidden) search->hidden = hwnd;
        return TRUE;
    }
    search->found = hwnd;
    return FALSE;
}

// Property-sheet pages nest controls two levels deep, and hidden pages reuse
// ids: a visible control wins.
HWND findControl(HWND parent, const std::string& id) {
    if (id == ".") return parent;
    ControlSearch search{static_cast<int>(parseNumber(id)), nullptr, nullptr};
    EnumChildWindows(parent, matchControl, reinterpret_cast<LPARAM>(&search));
    return search.found ? search.found : search.hidden;
}

template <typename Ready>
bool pollUntil(int timeoutMs, Ready ready) {
    DWORD start = GetTickCount();
    for (;;) {
        if (ready()) return true;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs) return false;
        Sleep(10);
    }
}

// ---------------------------------------------------------------- windows

int waitWindow(const Args& a) {
    HWND hwnd = nullptr;
    bool found = pollUntil(static_cast<int>(parseNumber(a[1])), [&] {
        hwnd = findTarget(a[0]);
        return hwnd && IsWindowVisible(hwnd);
    });
    if (!found) return EXIT_NOT_FOUND;
    std::printf("%s %s\n", hexHandle(hwnd).c_str(), titleOf(hwnd).c_str());
    return 0;
}

int waitGone(const Args& a) {
    return pollUntil(static_cast<int>(parseNumber(a[1])), [&] { return findTarget(a[0]) == nullptr; })
               ? 0
               : EXIT_NOT_FOUND;
}

int title(HWND hwnd, const Args&) {
    std::printf("%s\n", titleOf(hwnd).c_str());
    return 0;
}

BOOL CALLBACK printTopLevel(HWND hwnd, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    std::printf("%s %s visible=%d pid=%lu %s\n", hexHandle(hwnd).c_str(), classOf(hwnd).c_str(),
                IsWindowVisible(hwnd) ? 1 : 0, static_cast<unsigned long>(pid), titleOf(hwnd).c_str());
    return TRUE;
}

int listWindows(const Args&) {
    EnumWindows(printTopLevel, 0);
    return 0;
}

BOOL CALLBACK printChild(HWND hwnd, LPARAM) {
    std::printf("%s %s id=%d visible=%d %s\n", hexHandle(hwnd).c_str(), classOf(hwnd).c_str(), GetDlgCtrlID(hwnd),
                IsWindowVisible(hwnd) ? 1 : 0, textOf(hwnd).c_str());
    return TRUE;
}

int children(HWND hwnd, const Args&) {
    EnumChildWindows(hwnd, printChild, 0);
    return 0;
}

int postCommand(HWND hwnd, const Args& a) {
    return PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(parseNumber(a[1]), 0), 0) ? 0 : EXIT_FAILED;
}

int closeWindow(HWND hwnd, const Args&) { return PostMessageA(hwnd, WM_CLOSE, 0, 0) ? 0 : EXIT_FAILED; }

int clickButton(HWND hwnd, const Args& a) {
    HWND button = findControl(hwnd, a[1]);
    if (!button) return EXIT_NOT_FOUND;
    return PostMessageA(button, BM_CLICK, 0, 0) ? 0 : EXIT_FAILED;
}

int focusOf(HWND hwnd, const Args&) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info)) return EXIT_FAILED;
    if (!info.hwndFocus) {
        std::printf("none\n");
        return 0;
    }
    std::printf("%s %s %d\n", hexHandle(info.hwndFocus).c_str(), classOf(info.hwndFocus).c_str(),
                GetDlgCtrlID(info.hwndFocus));
    return 0;
}

// ---------------------------------------------------------------- keys

struct KeyName {
    const char* name;
    UINT vk;
};

const KeyName KEY_NAMES[] = {{"SPACE", VK_SPACE},   {"PAUSE", VK_PAUSE}, {"RETURN", VK_RETURN}, {"ENTER", VK_RETURN},
                             {"ESCAPE", VK_ESCAPE}, {"ESC", VK_ESCAPE},  {"TAB", VK_TAB},       {"LEFT", VK_LEFT},
                             {"RIGHT", VK_RIGHT},   {"UP", VK_UP},       {"DOWN", VK_DOWN},     {"BACK", VK_BACK},
                             {"DELETE", VK_DELETE}, {"HOME", VK_HOME},   {"END", VK_END}};

UINT virtualKey(const std::string& name) {
    for (const KeyName& key : KEY_NAMES)
        if (name == key.name) return key.vk;
    if (name.size() >= 2 && name[0] == 'F' && name[1] >= '1' && name[1] <= '9')
        return VK_F1 + static_cast<UINT>(std::atoi(name.c_str() + 1)) - 1;
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return static_cast<UINT>(std::toupper(static_cast<unsigned char>(name[0])));
    return static_cast<UINT>(parseNumber(name));
}

bool extendedKey(UINT vk) {
    switch (vk) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_INSERT: case VK_DELETE:
    case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT: case VK_DIVIDE: case VK_NUMLOCK:
        return true;
    default:
        return false;
    }
}

// lParam as the keyboard driver builds it: repeat count 1 (bits 0-15), scan
// code (16-23), extended (24), previous key state (30), transition (31).
LPARAM keyLParam(UINT vk, bool previousDown, bool releasing) {
    UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    if (vk == VK_PAUSE) scan = 0x45;
    DWORD bits = 1 | (scan & 0xFF) << 16 | (extendedKey(vk) ? 1u << 24 : 0);
    if (previousDown) bits |= 1u << 30;
    if (releasing) bits |= 1u << 31;
    return static_cast<LPARAM>(bits);
}

int postKey(HWND hwnd, const Args& a) {
    UINT vk = virtualKey(a[1]);
    const std::string& how = a[2];
    if (vk == 0 || (how != "down" && how != "up" && how != "press" && how != "repeat")) return EXIT_USAGE;
    bool ok = true;
    if (how == "down" || how == "press") ok = ok && PostMessageA(hwnd, WM_KEYDOWN, vk, keyLParam(vk, false, false));
    if (how == "repeat") ok = ok && PostMessageA(hwnd, WM_KEYDOWN, vk, keyLParam(vk, true, false));
    if (how == "up" || how == "press") ok = ok && PostMessageA(hwnd, WM_KEYUP, vk, keyLParam(vk, true, true));
    return ok ? 0 : EXIT_FAILED;
}

// ---------------------------------------------------------------- text and raw messages

int getText(HWND hwnd, const Args& a) {
    HWND control = a.size() > 1 ? findControl(hwnd, a[1]) : hwnd;
    if (!control) return EXIT_NOT_FOUND;
    std::printf("%s\n", textOf(control).c_str());
    return 0;
}

int setText(HWND hwnd, const Args& a) {
    HWND control = findControl(hwnd, a[1]);
    if (!control) return EXIT_NOT_FOUND;
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2].c_str()), SMTO_ABORTIFHUNG,
                               SEND_TIMEOUT_MS, &result)
               ? 0
               : EXIT_FAILED;
}

// As set-text, with the text taken from the wide command line: a path such
// as "Łódź" does not survive the ANSI arguments.
int setTextW(HWND hwnd, const Args& a) {
    HWND control = findControl(hwnd, a[1]);
    if (!control) return EXIT_NOT_FOUND;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return EXIT_FAILED;
    DWORD_PTR result = 0;
    BOOL sent = count > 0 && SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide[count - 1]),
                                                 SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &result);
    LocalFree(wide);
    return sent ? 0 : EXIT_FAILED;
}

int sendRaw(HWND hwnd, const Args& a) {
    HWND control = findControl(hwnd, a[1]);
    if (!control) return EXIT_NOT_FOUND;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, static_cast<UINT>(parseNumber(a[2])), static_cast<WPARAM>(parseNumber(a[3])),
                             static_cast<LPARAM>(parseNumber(a[4])), SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &result))
        return EXIT_FAILED;
    std::printf("%lld\n", static_cast<long long>(result));
    return 0;
}

// The notification a control sends its dialog (EN_KILLFOCUS 0x200,
// CBN_SELCHANGE 1, ...), posted as the control would send it.
int notifyParent(HWND hwnd, const Args& a) {
    HWND control = findControl(hwnd, a[1]);
    if (!control) return EXIT_NOT_FOUND;
    WPARAM wParam = MAKEWPARAM(GetDlgCtrlID(control), static_cast<WORD>(parseNumber(a[2])));
    return PostMessageA(GetParent(control), WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control)) ? 0 : EXIT_FAILED;
}

int postRaw(HWND hwnd, const Args& a) {
    HWND control = findControl(hwnd, a[1]);
    if (!control) return EXIT_NOT_FOUND;
    return PostMessageA(control, static_cast<UINT>(parseNumber(a[2])), static_cast<WPARAM>(parseNumber(a[3])),
                        static_cast<LPARAM>(parseNumber(a[4])))
               ? 0
               : EXIT_FAILED;
}

// ---------------------------------------------------------------- screen

struct ScreenGrab {
    int width = 0, height = 0;
    std::vector<unsigned char> bgr;  // bottom-up rows, 24 bits, 4-byte aligned
    int stride() const { return (width * 3 + 3) & ~3; }
    COLORREF at(int x, int y) const {
        const unsigned char* p = &bgr[static_cast<size_t>(height - 1 - y) * stride() + x * 3];
        return RGB(p[2], p[1], p[0]);
    }
};

BITMAPINFO bitmapInfo(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// Copies a bitmap into a 24-bit DIB image.
void readBits(HDC dc, HBITMAP bitmap, ScreenGrab& grab) {
    BITMAPINFO info = bitmapInfo(grab.width, grab.height);
    grab.bgr.assign(static_cast<size_t>(grab.stride()) * grab.height, 0);
    GetDIBits(dc, bitmap, 0, grab.height, grab.bgr.data(), &info, DIB_RGB_COLORS);
}

bool grabScreen(const RECT& area, ScreenGrab& grab) {
    grab.width = area.right - area.left;
    grab.height = area.bottom - area.top;
    if (grab.width <= 0 || grab.height <= 0) return false;
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, grab.width, grab.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL ok = BitBlt(memory, 0, 0, grab.width, grab.height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    readBits(memory, bitmap, grab);
    DeleteObject(bitmap);
    DeleteDC(memory);
    DeleteDC(screen);
    return ok != 0;
}

bool clientArea(HWND hwnd, RECT& area) {
    RECT client;
    POINT origin = {0, 0};
    if (!GetClientRect(hwnd, &client) || !ClientToScreen(hwnd, &origin)) return false;
    area = {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
    return true;
}

int clientOrigin(HWND hwnd, const Args&) {
    POINT origin = {0, 0};
    if (!ClientToScreen(hwnd, &origin)) return EXIT_FAILED;
    std::printf("%ld %ld\n", origin.x, origin.y);
    return 0;
}

int clientSize(HWND hwnd, const Args&) {
    RECT client;
    if (!GetClientRect(hwnd, &client)) return EXIT_FAILED;
    std::printf("%ld %ld\n", client.right, client.bottom);
    return 0;
}

int windowRect(HWND hwnd, const Args&) {
    RECT area;
    if (!GetWindowRect(hwnd, &area)) return EXIT_FAILED;
    std::printf("%ld %ld %ld %ld\n", area.left, area.top, area.right, area.bottom);
    return 0;
}

int pixel(const Args& a) {
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    COLORREF color = GetPixel(screen, static_cast<int>(parseNumber(a[0])), static_cast<int>(parseNumber(a[1])));
    DeleteDC(screen);
    if (color == CLR_INVALID) return EXIT_FAILED;
    std::printf("%d %d %d\n", GetRValue(color), GetGValue(color), GetBValue(color));
    return 0;
}

bool writeBmp(const std::string& path, const ScreenGrab& grab) {
    BITMAPINFO info = bitmapInfo(grab.width, grab.height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + grab.bgr.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
              std::fwrite(grab.bgr.data(), 1, grab.bgr.size(), out) == grab.bgr.size();
    return std::fclose(out) == 0 && ok;
}

int captureClient(HWND hwnd, const Args& a) {
    RECT area;
    ScreenGrab grab;
    if (!clientArea(hwnd, area) || !grabScreen(area, grab)) return EXIT_FAILED;
    return writeBmp(a[1], grab) ? 0 : EXIT_FAILED;
}

// ---------------------------------------------------------------- message boxes

BOOL CALLBACK findIconStatic(HWND hwnd, LPARAM data) {
    if (classOf(hwnd) == "Static" && (GetWindowLongA(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND*>(data) = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Pixels that differ between the screen and a system icon drawn on the same
// background.
int iconDifference(const ScreenGrab& shown, LPCSTR iconId) {
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, shown.width, shown.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all = {0, 0, shown.width, shown.height};
    HBRUSH background = CreateSolidBrush(shown.at(0, 0));
    FillRect(memory, &all, background);
    DeleteObject(background);
    DrawIconEx(memory, 0, 0, LoadIconA(nullptr, iconId), shown.width, shown.height, 0, nullptr, DI_NORMAL);
    SelectObject(memory, old);
    ScreenGrab drawn;
    drawn.width = shown.width;
    drawn.height = shown.height;
    readBits(memory, bitmap, drawn);
    DeleteObject(bitmap);
    DeleteDC(memory);
    DeleteDC(screen);
    int differing = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x) differing += shown.at(x, y) != drawn.at(x, y);
    return differing;
}

// Icons of another process cannot be read back, so the icon on the screen is
// compared with each system icon the box can show.
std::string iconName(HWND box) {
    HWND iconStatic = nullptr;
    EnumChildWindows(box, findIconStatic, reinterpret_cast<LPARAM>(&iconStatic));
    RECT area;
    ScreenGrab shown;
    if (!iconStatic || !GetWindowRect(iconStatic, &area) || !grabScreen(area, shown)) return "none";
    struct Candidate {
        const char* name;
        LPCSTR id;
    };
    const Candidate candidates[] = {{"information", IDI_ASTERISK}, {"stop", IDI_HAND},
                                    {"warning", IDI_EXCLAMATION},  {"question", IDI_QUESTION}};
    std::string best = "unknown";
    int bestDifference = shown.width * shown.height / 4;  // more than a quarter off: none of them
    for (const Candidate& candidate : candidates) {
        int difference = iconDifference(shown, candidate.id);
        if (difference < bestDifference) {
            bestDifference = difference;
            best = candidate.name;
        }
    }
    return best;
}

BOOL CALLBACK findTextStatic(HWND hwnd, LPARAM data) {
    if (classOf(hwnd) == "Static" && (GetWindowLongA(hwnd, GWL_STYLE) & SS_TYPEMASK) != SS_ICON &&
        !textOf(hwnd).empty()) {
        *reinterpret_cast<HWND*>(data) = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::string messageText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    if (!text) EnumChildWindows(box, findTextStatic, reinterpret_cast<LPARAM>(&text));
    return text ? textOf(text) : "";
}

int waitMsgbox(const Args& a) {
    HWND box = nullptr;
    if (!pollUntil(static_cast<int>(parseNumber(a[1])), [&] { return (box = findByTitle(a[0], "#32770")) != nullptr; }))
        return EXIT_NOT_FOUND;
    // A box is visible a moment before its icon is on the screen.
    constexpr int ICON_PAINT_WAIT_MS = 2000;
    std::string icon;
    pollUntil(ICON_PAINT_WAIT_MS, [&] { return (icon = iconName(box)) != "unknown"; });
    std::printf("%s icon=%s\n%s\n", hexHandle(box).c_str(), icon.c_str(), messageText(box).c_str());
    return 0;
}

int buttonId(const std::string& name) {
    if (name == "IDOK") return IDOK;
    if (name == "IDCANCEL") return IDCANCEL;
    if (name == "IDYES") return IDYES;
    if (name == "IDNO") return IDNO;
    if (name == "IDABORT") return IDABORT;
    if (name == "IDRETRY") return IDRETRY;
    if (name == "IDIGNORE") return IDIGNORE;
    return static_cast<int>(parseNumber(name));
}

int closeMsgbox(const Args& a) {
    HWND box = findByTitle(a[0], "#32770");
    if (!box) return EXIT_NOT_FOUND;
    int id = buttonId(a.size() > 1 ? a[1] : "IDOK");
    if (id <= 0 || !PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0)) return EXIT_FAILED;
    return pollUntil(3000, [&] { return !IsWindow(box); }) ? 0 : EXIT_FAILED;
}

// ---------------------------------------------------------------- serial ports

int openCom(const Args& a) {
    std::string name = "\\\\.\\COM" + a[0];
    HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
        return EXIT_FAILED;
    }
    // The prefix reserves COM1 to COM8: without a link such a name still
    // opens, as a device that is no serial port, so its settings cannot be read.
    DCB settings = {};
    settings.DCBlength = sizeof settings;
    BOOL serial = GetCommState(port, &settings);
    DWORD error = GetLastError();
    CloseHandle(port);
    if (!serial) {
        std::printf("error %lu\n", static_cast<unsigned long>(error));
        return EXIT_FAILED;
    }
    std::printf("open\n");
    return 0;
}

// ---------------------------------------------------------------- UTF-16 texts

std::string utf8Of(const wchar_t* text, int length) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), size, nullptr, nullptr);
    return result;
}

int getTextW(HWND hwnd, const Args& a) {
    HWND control = a.size() > 1 ? findControl(hwnd, a[1]) : hwnd;
    if (!control) return EXIT_NOT_FOUND;
    std::vector<wchar_t> text(32768, L'\0');
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &length))
        return EXIT_FAILED;
    std::printf("%s\n", utf8Of(text.data(), static_cast<int>(length)).c_str());
    return 0;
}

int holdFile(const Args& a) {
    HANDLE file = CreateFileA(a[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
        return EXIT_FAILED;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(parseNumber(a[1])));
    CloseHandle(file);
    return 0;
}

INT_PTR CALLBACK quietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct FitCheck {
    bool fits = true;
};

BOOL CALLBACK measureStatic(HWND hwnd, LPARAM data) {
    FitCheck* check = reinterpret_cast<FitCheck*>(data);
    wchar_t text[512] = L"";
    int length = GetWindowTextW(hwnd, text, 512);
    LONG type = GetWindowLongW(hwnd, GWL_STYLE) & SS_TYPEMASK;
    if (classOf(hwnd) != "Static" || length == 0 || type == SS_BITMAP || type == SS_ICON) return TRUE;
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, length, &extent);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    RECT room;
    GetClientRect(hwnd, &room);
    if (extent.cx > room.right) check->fits = false;
    std::printf("id=%d text=%ld room=%ld %s\n", GetDlgCtrlID(hwnd), static_cast<long>(extent.cx),
                static_cast<long>(room.right), utf8Of(text, length).c_str());
    return TRUE;
}

int textFit(const Args& a) {
    // Mapped as an image (not as a data file), so that the dialog's bitmap
    // static can load its bitmap from the same module.
    HMODULE module = LoadLibraryExA(a[0].c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module) return EXIT_NOT_FOUND;
    HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(parseNumber(a[1])), nullptr, quietDialog, 0);
    if (!dialog) {
        std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
        FreeLibrary(module);
        return EXIT_FAILED;
    }
    FitCheck check;
    EnumChildWindows(dialog, measureStatic, reinterpret_cast<LPARAM>(&check));
    std::printf("fits=%d\n", check.fits ? 1 : 0);
    DestroyWindow(dialog);
    FreeLibrary(module);
    return 0;
}

// ---------------------------------------------------------------- dispatch

struct Verb {
    const char* name;
    size_t minArgs;
    int (*onWindow)(HWND, const Args&);  // first argument is a TARGET
    int (*plain)(const Args&);
};

int version(const Args&) {
    std::printf("probe 1\n");
    return 0;
}

const Verb VERBS[] = {
    {"version", 0, nullptr, version},
    {"wait-window", 2, nullptr, waitWindow},
    {"wait-gone", 2, nullptr, waitGone},
    {"title", 1, title, nullptr},
    {"list-windows", 0, nullptr, listWindows},
    {"children", 1, children, nullptr},
    {"post-command", 2, postCommand, nullptr},
    {"post-key", 3, postKey, nullptr},
    {"click-button", 2, clickButton, nullptr},
    {"focus-of", 1, focusOf, nullptr},
    {"close", 1, closeWindow, nullptr},
    {"wait-msgbox", 2, nullptr, waitMsgbox},
    {"close-msgbox", 1, nullptr, closeMsgbox},
    {"get-text", 1, getText, nullptr},
    {"set-text", 3, setText, nullptr},
    {"set-text-w", 3, setTextW, nullptr},
    {"send", 5, sendRaw, nullptr},
    {"post", 5, postRaw, nullptr},
    {"notify", 3, notifyParent, nullptr},
    {"client-origin", 1, clientOrigin, nullptr},
    {"client-size", 1, clientSize, nullptr},
    {"window-rect", 1, windowRect, nullptr},
    {"pixel", 2, nullptr, pixel},
    {"capture-client", 2, captureClient, nullptr},
    {"open-com", 1, nullptr, openCom},
    {"get-text-w", 1, getTextW, nullptr},
    {"hold-file", 2, nullptr, holdFile},
    {"text-fit", 2, nullptr, textFit},
};

int run(const std::string& name, const Args& args) {
    for (const Verb& verb : VERBS) {
        if (name != verb.name) continue;
        if (args.size() < verb.minArgs) return EXIT_USAGE;
        if (verb.plain) return verb.plain(args);
        HWND hwnd = findTarget(args[0]);
        if (!hwnd) {
            std::fprintf(stderr, "probe: no window %s\n", args[0].c_str());
            return EXIT_NOT_FOUND;
        }
        return verb.onWindow(hwnd, args);
    }
    std::fprintf(stderr, "probe: unknown verb %s\n", name.c_str());
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) {
        std::fprintf(stderr, "usage: probe VERB ARGS...\n");
        return EXIT_USAGE;
    }
    int rc = run(argv[1], Args(argv + 2, argv + argc));
    std::fflush(stdout);
    return rc;
}
