// Names for the language table's entries that the code shows by index. The
// numbers are the table's.
#pragma once

// Words, headings and titles.
constexpr int TXT_ABOUT = 0;
constexpr int TXT_OFF = 3;
constexpr int TXT_ON = 4;
constexpr int TXT_TITLE_COMMUNICATION = 5;
constexpr int TXT_LIMIT = 6;
constexpr int TXT_SETPOINT = 7;
constexpr int TXT_CURRENT_RANGE = 8;
constexpr int TXT_NOMINAL_VOLTAGE = 9;
constexpr int TXT_ANALOGUE_OUTPUT = 11;
constexpr int TXT_IOUT = 12;
constexpr int TXT_POLARITY = 13;
constexpr int TXT_ZOOM = 15;
constexpr int TXT_OUTPUTS = 16;
constexpr int TXT_CONTROL_FUNCTIONS = 17;
constexpr int TXT_AUTO_SHUT_DOWN = 18;
constexpr int TXT_LIMIT1 = 20;
constexpr int TXT_LIMIT2 = 21;
constexpr int TXT_SETUP = 23;
constexpr int TXT_SHEET_CAPTION = 24;
constexpr int TXT_MAX_PEAK = 25;
constexpr int TXT_MIN_PEAK = 26;
constexpr int TXT_DATE = 30;
constexpr int TXT_PEAK_VALUES = 31;
constexpr int TXT_PARAMETERS = 32;
constexpr int TXT_TITLE_ERROR = 33;
constexpr int TXT_TITLE_PROGRAM = 34;
constexpr int TXT_TITLE_SCREEN_DUMP = 35;
// The "Other port..." dialog.
constexpr int TXT_OTHER_PORT = 36;
constexpr int TXT_PORTS_PRESENT = 37;
constexpr int TXT_PORT_NAME = 38;
constexpr int TXT_CANCEL = 39;

// The parameter list's fixed-width labels.
constexpr int LBL_AUTO_SHUT_DOWN = 50;
constexpr int LBL_CURRENT_RANGE = 51;
constexpr int LBL_VOLTAGE = 52;
constexpr int LBL_OUTPUTS = 53;
constexpr int LBL_IOUT = 54;
constexpr int LBL_LIMIT = 55;
constexpr int LBL_P1_MAX = 56;
constexpr int LBL_ACTIVE_LIMIT = 57;
constexpr int LBL_POLARITY = 58;
constexpr int LBL_SETPOINT = 59;
constexpr int LBL_TR = 61;
constexpr int LBL_TS = 62;

// Questions and messages.
constexpr int TXT_NOT_CONNECTED_CONTINUE = 70;
constexpr int TXT_NO_CONNECTION = 71;
constexpr int TXT_NOT_A_PORT_NAME = 72;
constexpr int TXT_EVENT_NOT_CREATED = 80;
constexpr int TXT_PARAMETERS_NOT_TRANSFERRED = 81;
constexpr int TXT_CONFIRMATION_TIMEOUT = 82;
constexpr int TXT_SETTINGS_FILE_ERROR = 83;
constexpr int TXT_NOT_PARAMETER_FILE = 84;
constexpr int TXT_PORT_NOT_OPEN = 85;
constexpr int TXT_CANNOT_OPEN_PRINTER = 86;
constexpr int TXT_PARAMETERS_NOT_READ = 87;
constexpr int TXT_PARAMETERS_NOT_SAVED = 88;
constexpr int TXT_PRINT_FAILED = 89;
constexpr int TXT_SHEET_NOT_CREATED = 90;
constexpr int TXT_DEVICE_NOT_FOUND = 92;
constexpr int TXT_DUMP_NO_MEMORY = 93;
constexpr int TXT_DUMP_NO_COLOUR_FORMAT = 94;
constexpr int TXT_DUMP_PIXEL_READ_FAILED = 95;
constexpr int TXT_DUMP_CLOSE_FAILED = 96;
constexpr int TXT_DUMP_CREATE_FAILED = 97;
constexpr int TXT_DUMP_WRITE_FAILED = 98;
