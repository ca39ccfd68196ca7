// Laying out and inspecting installation folders on the real Windows file system, for tests.
#pragma once

#include <windows.h>

#include <string>

#include "installed_files.h"

// A new, empty folder under the temporary folder.
std::string MakeTestFolder(const char *tag);

// Creates a small file, and the folders above it.
void PutFile(const std::string &path);
bool Exists(const std::string &path);

// Deletes a folder and everything in it, read-only files included.
void RemoveTree(const std::string &path);

// The chosen rows, an unrelated "Readme.txt" in the install folder and, optionally, the Save
// folder with or without a savegame.
void LayOutInstallation(const std::string &root, unsigned rows, bool saveFolder, bool savegame);

std::string DesktopShortcut();

// A file or folder that the build put beside this test program.
std::string BesideThisProgram(const char *relative);
