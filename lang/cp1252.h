// The language table's texts are code page 1252. Windows shows them right
// only through the W functions, converted here, whatever the system's ANSI
// code page is (a Japanese Windows, or one set to UTF-8, would garble them
// through the A functions). Portable, so that the table is checked natively.
#pragma once

#include <cstddef>

// UTF-16 code unit of one code page 1252 byte. The five bytes that code page
// 1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls
// of the same value, as Windows maps them.
char16_t cp1252ToUtf16Unit(unsigned char byte);

// Converts the NUL-terminated text into destination (size units, at least 1),
// cutting it so that it always ends with a NUL inside. Returns the number of
// units written without the NUL.
std::size_t cp1252ToUtf16(const char* text, char16_t* destination, std::size_t size);
