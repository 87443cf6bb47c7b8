// Switches the language in force for one test and restores it after, so
// that tests do not leak a language into each other.
#pragma once

#include "lang/language_table.h"

class LanguageGuard {
public:
    explicit LanguageGuard(int offset) : saved_(currentLanguage()) { setLanguage(offset); }
    ~LanguageGuard() { setLanguage(saved_); }
    LanguageGuard(const LanguageGuard&) = delete;
    LanguageGuard& operator=(const LanguageGuard&) = delete;

private:
    int saved_;
};
