// The four platform operations the engine needs; Win32 in the product, a fake in host tests.
#pragma once

#include "engine.h"

// Writes the desktop folder's path; false when it cannot be had as an exact ANSI path.
bool PlatformDesktopFolder(char (&path)[kPathSize]);

// True for any existing file or folder of that name.
bool PlatformExists(const char *path);

bool PlatformDeleteFile(const char *path);

// Removes a folder only when it is empty and is a folder of its own: a linked folder (a junction
// or symbolic link, which reads as a reparse point) is never removed, because Windows would
// remove the link and Wine the folder it points to. Files inside it are the engine's to delete.
bool PlatformRemoveFolder(const char *path);

// Not the engine's: the shell reads the install folder through this. Writes the current folder;
// false, leaving the path empty, when it has no exact ANSI name that fits.
bool PlatformCurrentFolder(char (&path)[kPathSize]);
