// Under Windows the code suffix must read exactly as the system formatter
// writes ": %ld", which is what the message boxes have always shown.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>

#include "lang/lang_message.h"

TEST(CodeSuffixWin32, MatchesTheSystemFormatter) {
    for (int code : {1, -1, 32, 183, 30003, 0x7FFF, INT_MAX, INT_MIN}) {
        char expected[CODE_SUFFIX_SIZE];
        wsprintfA(expected, ": %ld", static_cast<long>(code));
        char text[MESSAGE_TEXT_SIZE] = "";
        appendCodeSuffix(text, sizeof text, code);
        EXPECT_STREQ(expected, text) << "code " << code;
    }
}

#endif
