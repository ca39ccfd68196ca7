// Laying out and inspecting installation folders on the real Windows file system, for tests.
#pragma once

#include <windows.h>

#include <string>

const int kRowCount = 15;
const unsigned kEveryRow = (1u << kRowCount) - 1;

// The add-on's files relative to the install folder, as the installer lays them out.
extern const char *const kInstalledFiles[kRowCount];
extern const char *const kAddOnFolders[5]; // System, Music, Textures, Maps, Save

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
