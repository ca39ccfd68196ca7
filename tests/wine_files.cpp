// Test helpers that lay out and inspect installation folders with the Win32 file API.
#include "wine_files.h"

#include <shlobj.h>
#include <stdio.h>

void PutFile(const std::string &path, const std::string &contents)
{
    SHCreateDirectoryExA(NULL, path.substr(0, path.rfind('\\')).c_str(), NULL);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, contents.data(), (DWORD)contents.size(), &written, NULL);
        CloseHandle(file);
    }
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsLinkedFolder(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string child = path + "\\" + name;
            if (IsLinkedFolder(child)) {
                continue;
            }
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

bool StartOnLinux(const std::string &folder, const std::string &command)
{
    std::string line = "/bin/sh -c \"" + command + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup,
                        &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void LayOutInstallation(const std::string &root, unsigned rows, bool saveFolder, bool savegame)
{
    for (int row = 0; row < kRowCount; ++row) {
        if (rows >> row & 1) {
            PutFile(root + "\\" + kInstalledFiles[row]);
        }
    }
    PutFile(root + "\\Readme.txt");
    if (saveFolder) {
        CreateDirectoryA((root + "\\Save").c_str(), NULL);
    }
    if (savegame) {
        PutFile(root + "\\Save\\Slot1.ksav");
    }
}

std::string DesktopShortcut()
{
    char desktop[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY, NULL, 0, desktop);
    return std::string(desktop) + "\\Kessamar.lnk";
}

std::string BesideThisProgram(const char *relative)
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string path = self;
    return path.substr(0, path.rfind('\\') + 1) + relative;
}

std::string NewTestFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%sks \xE9\xFC %%-%lu-%lu", temp, GetCurrentProcessId(),
             GetTickCount());
    RemoveTree(name);
    CreateDirectoryA(name, NULL);
    return name;
}

void InstallFolderTest::SetUp()
{
    folder = NewTestFolder();
    DeleteFileA(DesktopShortcut().c_str());
}

void InstallFolderTest::TearDown()
{
    RemoveTree(folder);
    DeleteFileA(DesktopShortcut().c_str());
}
