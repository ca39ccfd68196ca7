// The engine's platform operations, and the shell's current folder, on the real Win32 API.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>
#include <wchar.h>

#include "platform.h"

// The "A" calls see a name through the ANSI code page, which converts characters it lacks by
// best fit: a full-width "\" or "." in a folder's name would read as a real "\" or ".", and the
// name would point somewhere else. An ANSI name is used only when it reads back as exactly the
// wide name, which is what the "A" calls then see.
static bool IsExactAnsiName(const char *ansi, const WCHAR *wide)
{
    WCHAR readBack[kPathSize];
    int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, readBack, kPathSize);
    return length > 0 && wcscmp(readBack, wide) == 0;
}

bool PlatformDesktopFolder(char (&path)[kPathSize])
{
    LPITEMIDLIST desktop = NULL;
    path[0] = '\0';
    if (SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOP, &desktop) != S_OK) {
        return false;
    }
    // A failed conversion leaves no usable folder; never probe relative to a drive root.
    WCHAR wide[kPathSize];
    bool exact = SHGetPathFromIDListA(desktop, path) && SHGetPathFromIDListW(desktop, wide) &&
                 IsExactAnsiName(path, wide);
    ILFree(desktop);
    if (!exact) {
        path[0] = '\0';
        return false;
    }
    return path[0] != '\0';
}

bool PlatformExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool PlatformDeleteFile(const char *path)
{
    return DeleteFileA(path) != 0;
}

bool PlatformRemoveFolder(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return false;
    }
    return RemoveDirectoryA(path) != 0;
}

bool PlatformCurrentFolder(char (&path)[kPathSize])
{
    WCHAR wide[kPathSize];
    DWORD length = GetCurrentDirectoryA(kPathSize, path);
    DWORD wideLength = GetCurrentDirectoryW(kPathSize, wide);
    if (length == 0 || length >= (DWORD)kPathSize || wideLength == 0 ||
        wideLength >= (DWORD)kPathSize || !IsExactAnsiName(path, wide)) {
        path[0] = '\0';
        return false;
    }
    return true;
}
