#include "params/utf8_win32.h"

#include <windows.h>

#include <climits>

bool utf8ToWide(const std::string& text, std::wstring* out) {
    out->clear();
    if (text.empty()) return true;  // the conversion calls refuse a length of 0
    if (text.size() > INT_MAX) return false;
    int length = static_cast<int>(text.size());
    int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), needed) != needed)
        return false;
    *out = std::move(wide);
    return true;
}

bool wideToUtf8(const std::wstring& text, std::string* out) {
    out->clear();
    if (text.empty()) return true;
    if (text.size() > INT_MAX) return false;
    int length = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return false;
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, narrow.data(), needed, nullptr,
                            nullptr) != needed)
        return false;
    *out = std::move(narrow);
    return true;
}
