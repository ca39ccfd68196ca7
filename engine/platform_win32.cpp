// The engine's platform operations, and the shell's install folder, on the real Win32 API.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>
#include <winternl.h>
#include <string.h>
#include <wchar.h>

#include "platform.h"

const int kFinalPathSize = 1024; // wide characters: a folder reached through links may lie deeper

// Folders are held with a data access and without FILE_SHARE_DELETE: only then does Windows
// record the sharing, and refuse to rename or delete them while they are held. Traverse access is
// what opening a name inside one asks of it.
const DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
const DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Final paths are compared in the NT form, which volumes without a DOS name (RAM disks, image
// mounters, user-mode file systems) have too; Wine lacks it for a drive letter added while it
// runs, whose DOS form it has. Normalised names need every folder on the way to be readable,
// which a share may refuse (ERROR_ACCESS_DENIED); there the names as opened are compared.
const DWORD kFinalPathForms[] = {FILE_NAME_NORMALIZED | VOLUME_NAME_NT,
                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS,
                                 FILE_NAME_OPENED | VOLUME_NAME_NT};
const int kNormalisedForms = 2; // the first ones

typedef NTSTATUS(NTAPI *NtCreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);

// The install folder and the desktop folder, each resolved once and held until the process ends,
// so that every later path names the folder that was scanned, whatever a link on the way to it
// points at by then.
struct PinnedFolder {
    HANDLE handle;
    DWORD form;                      // of final paths, one for a whole walk: NT form where it can
    WCHAR finalPath[kFinalPathSize]; // in that form
    char path[kPathSize];            // the path the engine composes with, which leads to it
};

static struct {
    PinnedFolder install;
    PinnedFolder desktop;
    NtCreateFileCall ntCreateFile; // looked up when a folder is held, for the walks below it
} g_pinned;

// The "A" calls see a name through the ANSI code page, which converts characters it lacks by
// best fit: a full-width "\" or "." in a folder's name would read as a real "\" or ".", and the
// name would point somewhere else. An ANSI name is used only when it reads back as exactly the
// wide name, which is what the "A" calls then see.
static bool ToExactAnsi(const WCHAR *wide, char (&ansi)[kPathSize])
{
    WCHAR readBack[kPathSize];
    int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, kPathSize, NULL, NULL);
    if (length == 0 ||
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, readBack, kPathSize) == 0 ||
        wcscmp(readBack, wide) != 0) {
        ansi[0] = '\0';
        return false;
    }
    return true;
}

static int ToWide(const char *ansi, WCHAR (&wide)[kFinalPathSize])
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, wide, kFinalPathSize) - 1;
}

static bool ReadFinalPath(HANDLE handle, DWORD form, WCHAR (&finalPath)[kFinalPathSize])
{
    DWORD length = GetFinalPathNameByHandleW(handle, finalPath, kFinalPathSize, form);
    return length > 0 && length < (DWORD)kFinalPathSize;
}

static HANDLE OpenFolder(const WCHAR *path)
{
    return CreateFileW(path, kHeldFolderAccess, kHeldSharing, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

// True when the path, links followed, opens the held folder itself.
static bool LeadsTo(const WCHAR *path, const PinnedFolder &pinned)
{
    WCHAR finalPath[kFinalPathSize];
    HANDLE handle = OpenFolder(path);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool same =
        ReadFinalPath(handle, pinned.form, finalPath) && wcscmp(finalPath, pinned.finalPath) == 0;
    CloseHandle(handle);
    return same;
}

// Takes a path of that length for the held folder if it opens the folder and reads the same
// through the code page. A verbatim path is not normalised: the engine's own separator after a
// volume root would make an empty name.
static bool TakePath(PinnedFolder &pinned, WCHAR (&path)[kPathSize], int length, bool verbatim)
{
    if (length <= 0 || length >= kPathSize || !LeadsTo(path, pinned)) {
        return false;
    }
    if (verbatim && path[length - 1] == L'\\') {
        path[length - 1] = L'\0';
    }
    return ToExactAnsi(path, pinned.path);
}

// The path for the "A" calls, the first of these that will do: the folder's verbatim final path
// ("\\?\C:\Games"), which Windows takes as it is, without dropping trailing dots or spaces; where
// its volume has no DOS name, the same through the NT namespace ("\\?\GLOBALROOT\Device\..."),
// which Wine lacks; else the full path it was opened by, whose links every step's check then
// guards.
static bool ChoosePath(PinnedFolder &pinned, const WCHAR *folder)
{
    WCHAR path[kPathSize];
    WCHAR ntPath[kFinalPathSize];
    return TakePath(pinned, path,
                    (int)GetFinalPathNameByHandleW(pinned.handle, path, kPathSize,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS),
                    true) ||
           (ReadFinalPath(pinned.handle, FILE_NAME_NORMALIZED | VOLUME_NAME_NT, ntPath) &&
            TakePath(pinned, path, _snwprintf(path, kPathSize, L"\\\\?\\GLOBALROOT%ls", ntPath),
                     true)) ||
           TakePath(pinned, path, (int)GetFullPathNameW(folder, kPathSize, path, NULL), false);
}

static void Unpin(PinnedFolder &pinned)
{
    if (pinned.handle != NULL && pinned.handle != INVALID_HANDLE_VALUE) {
        CloseHandle(pinned.handle);
    }
    memset(&pinned, 0, sizeof pinned);
}

// Opens the folder, following links, holds it, and writes the path its contents are reached by.
// Its final path is kept in the first form it has. NtCreateFile, which opens a name inside an
// open folder, is ntdll's: every process has it loaded, so it is looked up rather than imported.
static bool Pin(PinnedFolder &pinned, const WCHAR *folder, char (&path)[kPathSize])
{
    Unpin(pinned);
    path[0] = '\0';
    g_pinned.ntCreateFile = (NtCreateFileCall)(void (*)(void))GetProcAddress(
        GetModuleHandleA("ntdll.dll"), "NtCreateFile");
    pinned.handle = OpenFolder(folder);
    bool resolved = false;
    for (DWORD form : kFinalPathForms) {
        if (pinned.handle != INVALID_HANDLE_VALUE && !resolved) {
            pinned.form = form;
            resolved = ReadFinalPath(pinned.handle, form, pinned.finalPath);
        }
    }
    if (!resolved || !ChoosePath(pinned, folder)) {
        Unpin(pinned);
        return false;
    }
    memcpy(path, pinned.path, sizeof path);
    return true;
}

bool PlatformDesktopFolder(char (&path)[kPathSize])
{
    LPITEMIDLIST desktop = NULL;
    path[0] = '\0';
    if (SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOP, &desktop) != S_OK) {
        return false;
    }
    WCHAR folder[MAX_PATH];
    bool pinned = SHGetPathFromIDListW(desktop, folder) && Pin(g_pinned.desktop, folder, path);
    ILFree(desktop);
    return pinned;
}

bool PlatformExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The final path is the folder's final path plus the name: the disk may hold the name in another
// case, but nothing on the way resolved elsewhere. Only a volume root's final path ends in "\".
static bool IsNamedChild(const WCHAR *finalPath, const WCHAR *folderFinalPath, const WCHAR *name,
                         int nameLength)
{
    size_t folderLength = wcslen(folderFinalPath);
    if (folderLength == 0 || wcsncmp(finalPath, folderFinalPath, folderLength) != 0) {
        return false;
    }
    const WCHAR *child = finalPath + folderLength;
    if (folderFinalPath[folderLength - 1] != L'\\' && *child++ != L'\\') {
        return false;
    }
    int childLength = (int)wcslen(child);
    return childLength == nameLength &&
           CompareStringOrdinal(child, childLength, name, nameLength, TRUE) == CSTR_EQUAL;
}

// Windows opens a link itself and reports its tag; Wine opens what a link points to, whose final
// path then lies elsewhere. A folder must not be a link of either kind; a file may be a link,
// which Windows then deletes as the link. Other reparse points (cloud placeholders, deduplicated
// files) are ordinary files and folders. FAT32 and exFAT have no reparse points and fail the tag
// query with ERROR_INVALID_PARAMETER, so the tag is asked for only where the attributes say there
// is one; a folder whose tag cannot be read is taken for a link.
static bool IsOwnStep(HANDLE handle, bool folder, DWORD form, const WCHAR *folderFinalPath,
                      const WCHAR *name, int nameLength, WCHAR (&finalPath)[kFinalPathSize])
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) {
        return false;
    }
    if (folder && (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        FILE_ATTRIBUTE_TAG_INFO tag;
        if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
            IsReparseTagNameSurrogate(tag.ReparseTag)) {
            return false;
        }
    }
    return ReadFinalPath(handle, form, finalPath) &&
           IsNamedChild(finalPath, folderFinalPath, name, nameLength);
}

// Declared by the headers only for Windows 10 builds; this program still starts on Vista.
const FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = (FILE_INFO_BY_HANDLE_CLASS)21;
const DWORD kDispositionDelete = 0x1;         // FILE_DISPOSITION_FLAG_DELETE
const DWORD kDispositionPosixSemantics = 0x2; // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS

// POSIX semantics take the name away at once, even while another program (a virus scanner, the
// search indexer) still holds the file open with delete sharing, so that its folder can go
// too; a read-only file still refuses. Windows before 10 1709, FAT, exFAT, network shares and
// Wine do not know the class or the flag: only there is the old disposition used, never after an
// access or sharing error.
static bool RemoveThrough(HANDLE handle)
{
    DWORD flags = kDispositionDelete | kDispositionPosixSemantics;
    if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &flags, sizeof flags)) {
        return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION &&
        error != ERROR_NOT_SUPPORTED) {
        return false;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

static const PinnedFolder *PinnedRootOf(const char *path, size_t rootLength)
{
    const PinnedFolder *const roots[] = {&g_pinned.install, &g_pinned.desktop};
    for (const PinnedFolder *pinned : roots) {
        if (pinned->handle != NULL && strlen(pinned->path) == rootLength &&
            memcmp(pinned->path, path, rootLength) == 0) {
            return pinned;
        }
    }
    return NULL;
}

// Opens one name inside an open folder, not following a link, so that nothing above the folder,
// renamed or relinked meanwhile, plays any part: Win32 opens only whole paths, ntdll opens
// relative to a handle.
static HANDLE OpenInside(HANDLE folder, const WCHAR *name, int nameLength, ACCESS_MASK access,
                         bool wantFolder)
{
    NtCreateFileCall ntCreateFile = g_pinned.ntCreateFile;
    UNICODE_STRING unicodeName = {(USHORT)(nameLength * sizeof(WCHAR)),
                                  (USHORT)(nameLength * sizeof(WCHAR)), (PWSTR)name};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, folder, NULL);
    IO_STATUS_BLOCK status;
    HANDLE handle = INVALID_HANDLE_VALUE;
    ULONG options =
        FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
        (wantFolder ? FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT : FILE_NON_DIRECTORY_FILE);
    if (ntCreateFile == NULL ||
        ntCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status, NULL, 0, kHeldSharing,
                     FILE_OPEN, options, NULL, 0) < 0) {
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// One name of a file or folder, never a way to another one: not empty, not "." or "..", and
// without a stream (":").
static bool IsPlainName(const WCHAR *name, int length)
{
    bool dots = length <= 2;
    for (int i = 0; i < length; ++i) {
        dots = dots && name[i] == L'.';
        if (name[i] == L':') {
            return false;
        }
    }
    return length > 0 && !dots;
}

const int kMostSteps = 3; // the folders below the root and the object itself

// Opens each name below a held root, one separator before each, inside the folder above it,
// without following links, checks each before the next, and removes the last through its own
// handle while every folder above it is held. The check that a step's final path is its folder's
// plus its own name is what stops a link where the system follows one anyway (Wine does).
static bool RemoveInsideRoot(const char *path, size_t rootLength, bool folder)
{
    const PinnedFolder *root = PinnedRootOf(path, rootLength);
    WCHAR names[kFinalPathSize];
    int length = root != NULL ? ToWide(path + rootLength, names) : -1;
    if (length <= 0) {
        return false;
    }

    HANDLE held[kMostSteps];
    int heldCount = 0;
    WCHAR finalPaths[2][kFinalPathSize];
    HANDLE folderHandle = root->handle;
    const WCHAR *folderFinalPath = root->finalPath;
    bool removed = false;
    for (int start = 1, end; names[start - 1] == L'\\' && heldCount < kMostSteps; start = end + 1) {
        for (end = start; end < length && names[end] != L'\\';) {
            ++end;
        }
        bool last = end == length;
        if (!IsPlainName(names + start, end - start)) {
            break;
        }
        HANDLE step =
            OpenInside(folderHandle, names + start, end - start,
                       last ? DELETE | FILE_READ_ATTRIBUTES : kHeldFolderAccess, folder || !last);
        if (step == INVALID_HANDLE_VALUE) {
            break;
        }
        held[heldCount++] = step;
        WCHAR(&finalPath)[kFinalPathSize] = finalPaths[heldCount % 2];
        if (!IsOwnStep(step, folder || !last, root->form, folderFinalPath, names + start,
                       end - start, finalPath)) {
            break;
        }
        if (last) {
            removed = RemoveThrough(step); // the object goes once our handle is closed below
            break;
        }
        folderHandle = step;
        folderFinalPath = finalPath;
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
static bool ReadFinalPathOf(const char *path, DWORD form, WCHAR (&finalPath)[kFinalPathSize])
{
    WCHAR wide[kFinalPathSize];
    if (ToWide(path, wide) < 0) {
        return false;
    }
    HANDLE handle = CreateFileW(wide, FILE_READ_ATTRIBUTES, kHeldSharing, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool read = ReadFinalPath(handle, form, finalPath);
    CloseHandle(handle);
    return read;
}

// By final path, not by volume and file index: two hard links to one file are two names, and
// deleting one leaves the other.
bool PlatformSameFile(const char *path, const char *otherPath)
{
    WCHAR finalPath[kFinalPathSize];
    WCHAR otherFinalPath[kFinalPathSize];
    for (int form = 0; form < kNormalisedForms; ++form) {
        if (ReadFinalPathOf(path, kFinalPathForms[form], finalPath) &&
            ReadFinalPathOf(otherPath, kFinalPathForms[form], otherFinalPath)) {
            return wcscmp(finalPath, otherFinalPath) == 0;
        }
    }
    return false;
}

bool PlatformPinInstallFolder(const char *folder, char (&path)[kPathSize])
{
    WCHAR wide[kFinalPathSize];
    if (ToWide(folder, wide) <= 0) {
        path[0] = '\0';
        return false;
    }
    return Pin(g_pinned.install, wide, path);
}

void PlatformUnpinFolders()
{
    Unpin(g_pinned.install);
    Unpin(g_pinned.desktop);
}
