#include "lang/cp1252.h"

namespace {

// 0x80 to 0x9F; every other byte is the code point of the same value.
constexpr char16_t HIGH_CONTROLS[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char16_t cp1252ToUtf16Unit(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) return HIGH_CONTROLS[byte - 0x80];
    return static_cast<char16_t>(byte);
}

std::size_t cp1252ToUtf16(const char* text, char16_t* destination, std::size_t size) {
    std::size_t count = 0;
    while (count + 1 < size && text[count] != '\0') {
        destination[count] = cp1252ToUtf16Unit(static_cast<unsigned char>(text[count]));
        ++count;
    }
    destination[count] = u'\0';
    return count;
}
