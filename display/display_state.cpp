#include "display/display_state.h"

int redrawAll = 0;
int redrawHeader = 0;
int graphFrozen = 0;
