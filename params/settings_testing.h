// Test builds only: lets a test that changes folders start afresh.
#pragma once

// The next settings access fixes its path again from the current directory.
void forgetSettingsPath();
