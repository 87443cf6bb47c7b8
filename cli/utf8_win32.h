// UTF-8 <-> UTF-16 for the tool's Win32 side: the command line comes in as
// UTF-16, the core and the tool's texts are UTF-8, file names go out as
// UTF-16. The rules are strict: input that is not well-formed (a broken
// UTF-8 sequence, an unpaired surrogate) is refused with false and an empty
// *out, never replaced by U+FFFD or dropped, so a name is either carried
// exactly or not at all.
#pragma once

#include <string>

bool utf8ToWide(const std::string& text, std::wstring* out);
bool wideToUtf8(const std::wstring& text, std::string* out);
