// The four platform operations the engine needs; Win32 in the product, a fake in host tests.
#pragma once

#include "engine.h"

// Writes the desktop folder's path; false when it cannot be had.
bool PlatformDesktopFolder(char (&path)[kPathSize]);

// True for any existing file or folder of that name.
bool PlatformExists(const char *path);

bool PlatformDeleteFile(const char *path);

// Removes a folder only when it is empty.
bool PlatformRemoveFolder(const char *path);
