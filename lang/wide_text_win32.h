// Texts of the language table (code page 1252) as UTF-16 for the W
// functions, which show them right whatever the system's ANSI code page is.
// A fixed buffer on the caller's stack; longer texts are cut.
#pragma once

#include <cstddef>

#include "lang/cp1252.h"

template <std::size_t Size>
class WideText {
public:
    // length < 0: the text runs to its NUL.
    explicit WideText(const char* source, int length = -1) {
        std::size_t limit = length < 0 ? Size - 1 : static_cast<std::size_t>(length);
        if (limit > Size - 1) limit = Size - 1;
        std::size_t count = 0;
        while (count < limit && (length >= 0 || source[count] != '\0')) {
            text_[count] = static_cast<wchar_t>(cp1252ToUtf16Unit(static_cast<unsigned char>(source[count])));
            ++count;
        }
        text_[count] = L'\0';
        length_ = static_cast<int>(count);
    }
    const wchar_t* get() const { return text_; }
    int length() const { return length_; }

private:
    wchar_t text_[Size];
    int length_;
};
