// File paths cross the portable core as UTF-8 and reach Windows as UTF-16,
// so that a folder such as "Łódź" works whatever the system's ANSI code
// page is. Both conversions refuse what is not valid text rather than
// passing on a changed name.
#pragma once

#include <windows.h>

// The UTF-8 path as UTF-16 in wide (size units, NUL included). 0, or
// ERROR_NO_UNICODE_TRANSLATION for invalid UTF-8, or
// ERROR_FILENAME_EXCED_RANGE when it does not fit.
int widePath(const char* utf8, wchar_t* wide, int size);

// The UTF-16 path as UTF-8 in utf8 (size bytes, NUL included); the same
// results as widePath.
int utf8Path(const wchar_t* wide, char* utf8, int size);

// A path of MAX_PATH UTF-16 units takes at most three bytes a unit in UTF-8.
constexpr int UTF8_PATH_SIZE = 3 * MAX_PATH + 1;
