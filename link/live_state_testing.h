// Test builds only: lets each test case start from a fresh program.
#pragma once

// Puts liveState back to its start values.
void resetLiveState();
