#include <windows.h>

#include "lang/lang_message.h"
#include "lang/language_table.h"

void langMessage(HWND owner, int messageIndex, int titleIndex, int code) {
    char text[MESSAGE_TEXT_SIZE];
    char title[LANGUAGE_TEXT_SIZE];
    composeMessageText(text, messageIndex, code);
    langText(title, titleIndex);
    UINT icon = isStopMessage(messageIndex) ? MB_ICONHAND : MB_ICONINFORMATION;
    MessageBoxA(owner, text, title, MB_OK | icon);
}
