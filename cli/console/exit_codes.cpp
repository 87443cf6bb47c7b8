#include "cli/console/exit_codes.h"

std::string exitCodesText() {
    std::string text = "Exit codes:";
    for (const ExitCodeMeaning& exit : EXIT_CODE_MEANINGS)
        text += "\n  " + std::to_string(exit.code) + "  " + exit.meaning;
    return text;
}
