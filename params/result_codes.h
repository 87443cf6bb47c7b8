// The program's own result codes, beside the operating system's and the
// common dialogs' error codes. 0 is success everywhere.
#pragma once

constexpr int ERR_NOT_PARAMETER_FILE = 30001;
constexpr int ERR_CANCELLED = 30002;
constexpr int ERR_SHORT_TRANSFER = 30003;
