// Switches appSettings.languageOffset for one test and restores it after, so
// that tests do not leak a language into each other.
#pragma once

#include <cstdint>

#include "params/settings.h"

class LanguageGuard {
public:
    explicit LanguageGuard(uint16_t offset) : saved_(appSettings.languageOffset) {
        appSettings.languageOffset = offset;
    }
    ~LanguageGuard() { appSettings.languageOffset = saved_; }
    LanguageGuard(const LanguageGuard&) = delete;
    LanguageGuard& operator=(const LanguageGuard&) = delete;

private:
    uint16_t saved_;
};
