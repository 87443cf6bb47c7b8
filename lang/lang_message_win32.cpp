#include <windows.h>

#include "lang/lang_message.h"
#include "lang/language_table.h"
#include "lang/wide_text_win32.h"

void langMessage(HWND owner, int messageIndex, int titleIndex, int code) {
    char text[MESSAGE_TEXT_SIZE];
    char title[LANGUAGE_TEXT_SIZE];
    composeMessageText(text, messageIndex, code);
    langText(title, titleIndex);
    UINT icon = isStopMessage(messageIndex) ? MB_ICONHAND : MB_ICONINFORMATION;
    MessageBoxW(owner, WideText<MESSAGE_TEXT_SIZE>(text).get(),
                WideText<LANGUAGE_TEXT_SIZE>(title).get(), MB_OK | icon);
}
