// Message boxes in the current language: the text and the title are entries
// of the language table, optionally followed by an error code.
//
// The owner is taken as HWND__*, the type <windows.h> declares HWND to be
// (STRICT handles), so Win32 callers pass their HWND unchanged while this
// header stays free of <windows.h>. Only the window thread shows messages.
#pragma once

#include <cstddef>

struct HWND__;

constexpr int MESSAGE_TEXT_SIZE = 80;   // text buffer of one message box
constexpr int CODE_SUFFIX_SIZE = 16;    // ": -2147483648" and its NUL fit
constexpr int FIRST_STOP_MESSAGE = 80;  // messages from here on are errors

// True when the message index is shown with the stop icon, false for the
// information icon.
bool isStopMessage(int messageIndex);

// Appends ": <code>" (signed decimal) to the NUL-terminated text in a buffer
// of size bytes when code is not 0; a zero code appends nothing. The result is
// cut so that it always ends inside the buffer.
void appendCodeSuffix(char* text, std::size_t size, int code);

// The text langMessage shows: entry messageIndex of the current language plus
// the code suffix, in a buffer of MESSAGE_TEXT_SIZE bytes.
void composeMessageText(char* text, int messageIndex, int code);

// Shows a modal message box with an OK button: the composed text under the
// title entry titleIndex, stop icon from FIRST_STOP_MESSAGE on.
void langMessage(HWND__* owner, int messageIndex, int titleIndex, int code);
