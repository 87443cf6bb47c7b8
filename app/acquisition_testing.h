// Test builds only: lets each test case start from a fresh program.
#pragma once

// Puts the acquisition's state (download pending, the readout last painted,
// the link recovery) back to its start values.
void resetAcquisition();
