// UTF-8 encoding of Unicode text: the command-line tool writes the language
// table's texts and the device text as UTF-8, and the tests compare the
// programs' texts in it. Portable.
#pragma once

#include <string>
#include <string_view>

// Appends the UTF-8 bytes of one code point. A value that is no Unicode
// scalar value (a surrogate, or above U+10FFFF) is written as U+FFFD, the
// replacement character, so the output is always valid UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

// UTF-16 text as UTF-8: a surrogate pair becomes its one code point, a lone
// surrogate U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);
