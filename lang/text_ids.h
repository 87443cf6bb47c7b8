// Names for the language table's entries that the code shows by index. The
// numbers are the table's.
#pragma once

constexpr int TXT_TITLE_ERROR = 33;
constexpr int TXT_TITLE_PROGRAM = 34;
constexpr int TXT_NOT_CONNECTED_CONTINUE = 70;
constexpr int TXT_NOT_PARAMETER_FILE = 84;
constexpr int TXT_PARAMETERS_NOT_READ = 87;
constexpr int TXT_PARAMETERS_NOT_SAVED = 88;
constexpr int TXT_SHEET_NOT_CREATED = 90;
