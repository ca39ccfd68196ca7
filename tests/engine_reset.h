// Puts the engine's state record back to its start-up values between test cases.
#pragma once

#include "engine.h"

inline void ResetUninstallState()
{
    g_uninstall = UninstallState();
    g_uninstall.foundCount = kExpectedFiles;
}
