// The engine's platform operations on the real Win32 API.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>

#include "platform.h"

bool PlatformDesktopFolder(char (&path)[kPathSize])
{
    LPITEMIDLIST desktop = NULL;
    path[0] = '\0';
    if (SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOP, &desktop) != S_OK) {
        return false;
    }
    // A failed conversion leaves no usable folder; never probe relative to a drive root.
    BOOL converted = SHGetPathFromIDListA(desktop, path);
    ILFree(desktop);
    if (!converted) {
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
    return RemoveDirectoryA(path) != 0;
}
