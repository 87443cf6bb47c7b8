// Test builds only: lets a test that changes folders start afresh.
#pragma once

// The next settings access fixes its path again from the current directory.
void forgetSettingsPath();

// While error is not 0, every open of the settings file in the start-up
// folder that asks for write access fails with error, as a folder the user
// may read but not write refuses it. Reads go through.
void refuseSettingsWrites(int error);
