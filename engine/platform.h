// The engine's platform operations; Win32 in the product, a fake in host tests.
#pragma once

#include "engine.h"

// Writes the desktop folder's path; false when it cannot be had as an exact ANSI path.
bool PlatformDesktopFolder(char (&path)[kPathSize]);

// True for any existing file or folder of that name.
bool PlatformExists(const char *path);

// Removal acts only on the object a path names inside its root: the first rootLength characters
// of path, the install folder or the desktop folder, which may itself be reached through links.
// Below the root nothing is followed: a folder on the way that is a link (a junction or symbolic
// link, which could send the name anywhere on the disk) fails the removal. The object is checked
// and removed through one handle, so nothing can be swapped in between.

// Deletes a file, never a folder. A file that is itself a link goes as the link; where the
// platform cannot open the link itself (Wine opens what it points to), it stays and this fails.
bool PlatformDeleteFile(const char *path, size_t rootLength);

// Removes a folder only when it is empty and a real folder: a linked one always stays.
bool PlatformRemoveFolder(const char *path, size_t rootLength);

// True when both paths name one file on disk, whatever their texts: a program started on the
// desktop finds the desktop shortcut also as the shortcut in its install folder.
bool PlatformSameFile(const char *path, const char *otherPath);

// Not the engine's: the shell reads the install folder through this. Writes the current folder;
// false, leaving the path empty, when it has no exact ANSI name that fits.
bool PlatformCurrentFolder(char (&path)[kPathSize]);
