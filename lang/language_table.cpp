#include "lang/language_table.h"

// Filled in full by the language data; only the title for now.
const LanguageTable languageTable = {{
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "ELQ770 Configuration tool",
}};
