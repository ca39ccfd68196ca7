// The engine's platform operations, and the shell's current folder, on the real Win32 API.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>
#include <string.h>
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

const int kFinalPathSize = 1024; // a root reached through links may resolve to a longer path
const int kMostSteps = 4;        // the root, the folders below it and the object itself

// Folders on the way are held with a data access and without FILE_SHARE_DELETE: only then does
// Windows record the sharing, and refuse to rename or delete them until the removal is done.
const DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
const DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// One step of a walk. A file is opened without backup semantics, which never opens a folder.
static HANDLE OpenStep(const char *path, DWORD access, bool folder, bool followLink)
{
    DWORD flags =
        (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0) | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileA(path, access, kHeldSharing, NULL, OPEN_EXISTING, flags, NULL);
}

static bool ReadFinalPath(HANDLE handle, char (&finalPath)[kFinalPathSize])
{
    DWORD length = GetFinalPathNameByHandleA(handle, finalPath, kFinalPathSize,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length > 0 && length < (DWORD)kFinalPathSize;
}

static char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

// The final path is the folder's final path plus the name: the disk may hold the name in
// another case, but nothing on the way resolved elsewhere.
static bool IsNamedChild(const char *finalPath, const char *folderFinalPath, const char *name,
                         size_t nameLength)
{
    size_t folderLength = strlen(folderFinalPath);
    if (strncmp(finalPath, folderFinalPath, folderLength) != 0) {
        return false;
    }
    const char *child = finalPath + folderLength;
    if (folderLength == 0 || folderFinalPath[folderLength - 1] != '\\') {
        if (*child++ != '\\') {
            return false;
        }
    }
    if (strlen(child) != nameLength) {
        return false;
    }
    for (size_t i = 0; i < nameLength; ++i) {
        if (AsciiLower(child[i]) != AsciiLower(name[i])) {
            return false;
        }
    }
    return true;
}

// Windows opens a link itself and reports its tag; Wine opens what a link points to, whose
// final path then lies elsewhere. A folder must not be a link of either kind; a file may be a
// link, which Windows then deletes as the link. Other reparse points (cloud placeholders,
// deduplicated files) are ordinary files and folders.
static bool IsOwnStep(HANDLE handle, bool folder, const char *folderFinalPath, const char *name,
                      size_t nameLength, char (&finalPath)[kFinalPathSize])
{
    FILE_ATTRIBUTE_TAG_INFO info;
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
        return false;
    }
    bool isFolder = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool isLink = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                  IsReparseTagNameSurrogate(info.ReparseTag);
    return isFolder == folder && !(folder && isLink) && ReadFinalPath(handle, finalPath) &&
           IsNamedChild(finalPath, folderFinalPath, name, nameLength);
}

// Finds the next name in path from start on: [start, end). Separators may be doubled, as after
// a root that ends in one ("K:\\").
static void NextName(const char *path, size_t length, size_t &start, size_t &end)
{
    while (start < length && path[start] == '\\') {
        ++start;
    }
    end = start;
    while (end < length && path[end] != '\\') {
        ++end;
    }
}

// Opens the root, following links, then each name below it without following any, checking each
// before the next; removes the last through its own handle while every folder above it is held.
static bool RemoveInsideRoot(const char *path, size_t rootLength, bool folder)
{
    char walked[kPathSize];
    size_t length = strlen(path);
    if (rootLength == 0 || rootLength >= length || length >= sizeof walked) {
        return false;
    }
    memcpy(walked, path, length + 1);
    walked[rootLength] = '\0';
    HANDLE root = OpenStep(walked, kHeldFolderAccess, true, true);
    walked[rootLength] = path[rootLength];
    if (root == INVALID_HANDLE_VALUE) {
        return false;
    }

    HANDLE held[kMostSteps] = {root};
    int heldCount = 1;
    char finalPaths[2][kFinalPathSize];
    int folderFinal = 0;
    bool removed = false;
    bool onTrack = ReadFinalPath(root, finalPaths[folderFinal]);
    for (size_t start = rootLength, end; onTrack && heldCount < kMostSteps; start = end) {
        NextName(path, length, start, end);
        bool last = end == length;
        if (start == end) {
            break;
        }
        walked[end] = '\0';
        HANDLE step = last ? OpenStep(walked, DELETE | FILE_READ_ATTRIBUTES, folder, false)
                           : OpenStep(walked, kHeldFolderAccess, true, false);
        walked[end] = path[end];
        if (step == INVALID_HANDLE_VALUE) {
            break;
        }
        held[heldCount++] = step;
        onTrack = IsOwnStep(step, folder || !last, finalPaths[folderFinal], path + start,
                            end - start, finalPaths[1 - folderFinal]);
        if (onTrack && last) {
            // The object goes once its handles are closed: ours is closed below.
            FILE_DISPOSITION_INFO disposition = {TRUE};
            removed = SetFileInformationByHandle(step, FileDispositionInfo, &disposition,
                                                 sizeof disposition) != 0;
            break;
        }
        folderFinal = 1 - folderFinal;
    }
    while (heldCount > 0) {
        CloseHandle(held[--heldCount]);
    }
    return removed;
}

bool PlatformDeleteFile(const char *path, size_t rootLength)
{
    return RemoveInsideRoot(path, rootLength, false);
}

bool PlatformRemoveFolder(const char *path, size_t rootLength)
{
    return RemoveInsideRoot(path, rootLength, true);
}

// Attribute access alone records no sharing, so this open stands in nobody's way.
static bool ReadFinalPathOf(const char *path, char (&finalPath)[kFinalPathSize])
{
    HANDLE handle = OpenStep(path, FILE_READ_ATTRIBUTES, true, false);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool read = ReadFinalPath(handle, finalPath);
    CloseHandle(handle);
    return read;
}

// By final path, not by volume and file index: two hard links to one file are two names, and
// deleting one leaves the other.
bool PlatformSameFile(const char *path, const char *otherPath)
{
    char finalPath[kFinalPathSize];
    char otherFinalPath[kFinalPathSize];
    return ReadFinalPathOf(path, finalPath) && ReadFinalPathOf(otherPath, otherFinalPath) &&
           strcmp(finalPath, otherFinalPath) == 0;
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
