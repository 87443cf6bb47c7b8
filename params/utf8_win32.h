// UTF-8 <-> UTF-16 on Win32: file paths cross the portable core as UTF-8
// and reach the W functions as UTF-16, so that a folder such as "Łódź"
// works whatever the system's ANSI code page is; the command-line tool's
// arguments come in as UTF-16 the same way. The rules are strict: input
// that is not well-formed (a broken UTF-8 sequence, an unpaired surrogate)
// is refused with false and an empty *out, never replaced by U+FFFD or
// dropped, so a name is either carried exactly or not at all.
#pragma once

#include <string>

bool utf8ToWide(const std::string& text, std::wstring* out);
bool wideToUtf8(const std::wstring& text, std::string* out);
