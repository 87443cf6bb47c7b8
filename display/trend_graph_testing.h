// Test builds only: lets each test case start from a fresh program.
#pragma once

// Puts the graph's history back to its start values.
void resetTrendHistory();
