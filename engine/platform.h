// The engine's platform operations; Win32 in the product, a fake in host tests.
#pragma once

#include "engine.h"

// Resolves the desktop folder, following links, and holds it to the end of the process; writes
// the path it is reached by from then on. False when it cannot be had as an exact ANSI path.
bool PlatformDesktopFolder(char (&path)[kPathSize]);

// True for any existing file or folder of that name.
bool PlatformExists(const char *path);

// Removal acts only on the object a path names inside its root: the first rootLength characters of
// path, which must be the path of the held install folder or desktop folder. Each name below the
// root is opened inside the open folder above it, never by a path from the top, without following
// a link, and checked through its handle before the next: it must be what was asked for (a folder
// or a file), a folder must not be a link (a junction or symbolic link, which could send the name
// anywhere on the disk), and its final path must be its folder's final path plus its own name. The
// object is removed through the handle it was checked by, with every folder above it held, so
// nothing can be swapped in between, and counts as removed only when its name is gone from its
// folder once that handle is closed. An open that would have to wait for another program to give
// up an oplock is not waited for: that object stays.

// Deletes a file, never a folder. A file that is itself a link goes as the link; where the
// platform cannot open the link itself (Wine opens what it points to), it stays and this fails.
bool PlatformDeleteFile(const char *path, size_t rootLength);

// Removes a folder only when it is a real folder, a linked one always stays, and is seen empty
// through the handle that removes it: the file system's refusal is not relied on.
bool PlatformRemoveFolder(const char *path, size_t rootLength);

// True when both paths name one file on disk, whatever their texts: a program started on the
// desktop finds the desktop shortcut also as the shortcut in its install folder. Each path is
// opened as the removal opens it, inside its root, so a link never makes two files one.
bool PlatformSameFile(const char *path, size_t rootLength, const char *otherPath,
                      size_t otherRootLength);

// Not the engine's: whoever drives it hands it the install folder through this. Holds the
// process's current folder to the end of the process, by the handle Windows opened it with when
// the process started, so that it is the folder the process was started in whatever a link on the
// way points at by now, and cannot be renamed or deleted. Writes the path the folder is reached by
// (its plain path where that fits and Win32 parsing keeps it as it is), which the scan and the
// removal then use; false, leaving the path empty, when the folder cannot be held or no exact ANSI
// path that fits leads to it.
bool PlatformPinCurrentFolder(char (&path)[kPathSize]);

// The program holds its folders to the end; tests let go of them between cases.
void PlatformUnpinFolders();
