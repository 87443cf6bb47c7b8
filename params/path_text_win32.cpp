#include "params/path_text_win32.h"

namespace {

int conversionError() {
    DWORD error = GetLastError();
    return error == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE : static_cast<int>(error);
}

}  // namespace

int widePath(const char* utf8, wchar_t* wide, int size) {
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, size) == 0)
        return conversionError();
    return 0;
}

int utf8Path(const wchar_t* wide, char* utf8, int size) {
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, utf8, size, nullptr, nullptr) == 0)
        return conversionError();
    return 0;
}
