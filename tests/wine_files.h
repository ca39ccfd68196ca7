// Laying out and inspecting installation folders on the real Windows file system, for tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "installed_files.h"

// Creates a small file ("KS" unless told otherwise), and the folders above it.
void PutFile(const std::string &path, const std::string &contents = "KS");
bool Exists(const std::string &path);
// A folder that is a link: a junction, or on Wine a Unix symbolic link.
bool IsLinkedFolder(const std::string &path);

// Deletes a folder and everything in it, read-only files included, but never enters a linked
// folder: that would empty the folder it points to. Whoever made a link removes it.
void RemoveTree(const std::string &path);

// Starts a shell command on the Linux side in that folder, for what Wine cannot do itself, such
// as making or removing links. Its process cannot be waited for: wait for what it does.
bool StartOnLinux(const std::string &folder, const std::string &command);

// The chosen rows, an unrelated "Readme.txt" in the install folder and, optionally, the Save
// folder with or without a savegame.
void LayOutInstallation(const std::string &root, unsigned rows, bool saveFolder, bool savegame);

std::string DesktopShortcut();

// A file or folder that the build put beside this test program.
std::string BesideThisProgram(const char *relative);

// A new, empty folder under the temporary folder, whose name holds letters the ANSI code page
// (1252) has, a space and a "%".
std::string NewTestFolder();

// Each test gets a new test folder, and no desktop shortcut before or after it.
class InstallFolderTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string At(const char *relative) const { return folder + "\\" + relative; }
    std::string folder;
};
