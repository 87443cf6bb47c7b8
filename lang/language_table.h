// Every run-time text of the program in English, German and Danish: three
// blocks of 100 slots of 64 bytes, code page 1252, NUL-terminated, zero-filled
// behind the NUL. The language in force is lang's own: the window program
// sets it from its settings, the command-line tool passes a language with
// each text it asks for.
#pragma once

constexpr int LANGUAGE_SLOTS = 300;
constexpr int LANGUAGE_TEXT_SIZE = 64;
constexpr int LANGUAGE_BLOCK = 100;

// A language is the offset of its block in the table.
constexpr int LANGUAGE_ENGLISH = 0;
constexpr int LANGUAGE_GERMAN = 100;
constexpr int LANGUAGE_DANISH = 200;

struct LanguageTable {
    char slots[LANGUAGE_SLOTS][LANGUAGE_TEXT_SIZE];
};

extern const LanguageTable languageTable;

// 1 for the offset of one of the three blocks, else 0.
int validLanguage(int languageOffset);

// The language in force, LANGUAGE_ENGLISH until set. setLanguage takes a
// valid offset; the window thread calls it.
void setLanguage(int languageOffset);
int currentLanguage();

// Copies the text of slot languageOffset + index, with its NUL, into
// destination (at least LANGUAGE_TEXT_SIZE bytes). An index outside 0..99,
// or an offset that is no language, yields the empty text.
void langTextIn(char* destination, int languageOffset, int index);

// langTextIn in the language in force.
void langText(char* destination, int index);
