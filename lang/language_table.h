// Every run-time text of the program in English, German and Danish: three
// blocks of 100 slots of 64 bytes, code page 1252, NUL-terminated, zero-filled
// behind the NUL. The language in force is appSettings.languageOffset.
#pragma once

constexpr int LANGUAGE_SLOTS = 300;
constexpr int LANGUAGE_TEXT_SIZE = 64;
constexpr int LANGUAGE_BLOCK = 100;

struct LanguageTable {
    char slots[LANGUAGE_SLOTS][LANGUAGE_TEXT_SIZE];
};

extern const LanguageTable languageTable;

// Copies the text of slot languageOffset + index, with its NUL, into
// destination (at least LANGUAGE_TEXT_SIZE bytes). An index outside 0..99
// yields the empty text.
void langText(char* destination, int index);
