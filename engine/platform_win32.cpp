// The engine's platform operations, and the shell's install folder, on the real Win32 API.
//
// An elevated program that deletes in a folder standard users can write to. What it stands
// against, and the rule that answers each:
// - Links and junctions on the way: below a held folder nothing is opened by a path; each name is
//   opened inside the open folder above it, not following a link, and checked through its handle
//   before the next (a folder must not be a link; its final path is its folder's plus its name).
// - A folder renamed or relinked meanwhile: the install folder (by the handle Windows opened when
//   the process started) and the desktop are held from the start without delete sharing, and a
//   path stands for one only if it opens that very folder.
// - Names the code page reads by best fit: a path for the "A" calls is used only where it reads
//   back exactly; final paths are compared in UTF-16. Where Win32 parsing would change a path (a
//   trailing dot or space), its verbatim form is used.
// - Volumes that answer differently: FAT and exFAT have no reparse tags and no POSIX deletion,
//   shares may refuse normalised names, RAM disks have no DOS name, and WebDAV or a user-mode file
//   system may remove a folder that is not empty or list it short: a folder goes only when seen
//   empty, as far as its listing was written, through the handle that removes it.
// - Oplocks: no open waits for another program to give one up; that file or folder stays.
// - A removal accepted and not made (a Samba share, Wine): it counts only when the name is gone
//   from its folder once the handle is closed.
// - Files planted beside the exe: this file loads no library; it looks up only ntdll's calls,
//   which every process has loaded (the exe's own manifest and WinMain's library search do the
//   rest).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>
#include <string.h>
#include <wchar.h>

#include "nt_calls.h"
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
    // ntdll's, looked up when a folder is held, for holding it and for the walks below it
    NtCreateFileCall ntCreateFile;
    NtQueryInformationFileCall ntQueryInformationFile;
} g_pinned;

// The "A" calls see a name through the ANSI code page, which converts characters it lacks by
// best fit: a full-width "\" or "." in a folder's name would read as a real "\" or ".", and the
// name would point somewhere else. An ANSI name is used only when it reads back as exactly the
// wide name, which is what the "A" calls then see. UTF-8, which Windows 10 and later can have as
// the ANSI code page, has no best fit, and WideCharToMultiByte refuses WC_NO_BEST_FIT_CHARS for it
// (ERROR_INVALID_FLAGS).
static bool ToExactAnsi(const WCHAR *wide, char (&ansi)[kPathSize])
{
    WCHAR readBack[kPathSize];
    DWORD flags = GetACP() == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int length = WideCharToMultiByte(CP_ACP, flags, wide, -1, ansi, kPathSize, NULL, NULL);
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

// Wine names a handle by the path it was opened by: one opened inside another takes that one's
// path, which a rename made from the Linux side (Windows refuses it while the folder is held) may
// have pointed at another folder, whose final path the handle then reads as its own. The file
// index, read with no access at all, is the folder's own. A file system may give none: it answers
// 0 (which must be ignored, MS-FSCC 2.4.22) or -1, refuses, or writes nothing; then the final path
// alone decides, as it does on Windows.
static bool AreOtherFiles(HANDLE handle, HANDLE other)
{
    NtQueryInformationFileCall query = g_pinned.ntQueryInformationFile;
    HANDLE handles[] = {handle, other};
    alignas(8) LONGLONG index[2] = {0, 0}; // the record's own alignment
    IO_STATUS_BLOCK status;
    for (int i = 0; i < 2; ++i) {
        if (query == NULL ||
            query(handles[i], &status, &index[i], sizeof index[i], FileInternalInformation) < 0 ||
            index[i] == 0 || index[i] == -1) {
            return false;
        }
    }
    return index[0] != index[1];
}

// True when the path, links followed, opens the held folder itself.
static bool LeadsTo(const WCHAR *path, const PinnedFolder &pinned)
{
    WCHAR finalPath[kFinalPathSize];
    HANDLE handle = OpenFolder(path);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool same = ReadFinalPath(handle, pinned.form, finalPath) &&
                wcscmp(finalPath, pinned.finalPath) == 0 && !AreOtherFiles(handle, pinned.handle);
    CloseHandle(handle);
    return same;
}

// Takes a path of that length for the held folder if it opens the folder, reads the same through
// the code page and, unless it is verbatim, Win32 path parsing leaves it as it is: parsing drops
// a trailing dot or space, and reads "C:" as that drive's current folder. A volume root's "\" is
// dropped: the engine puts its own separator before each name.
static bool TakePath(PinnedFolder &pinned, WCHAR (&path)[kPathSize], int length, bool verbatim)
{
    WCHAR parsed[kPathSize];
    if (length <= 0 || length >= kPathSize || !LeadsTo(path, pinned)) {
        return false;
    }
    if (path[length - 1] == L'\\') {
        path[length - 1] = L'\0';
    }
    DWORD parsedLength = verbatim ? 0 : GetFullPathNameW(path, kPathSize, parsed, NULL);
    return (verbatim ||
            (parsedLength > 0 && parsedLength < (DWORD)kPathSize && wcscmp(parsed, path) == 0)) &&
           ToExactAnsi(path, pinned.path);
}

// The path for the "A" calls, the first of these that will do, so that the user's own path
// keeps the whole MAX_PATH: the folder's plain final path ("C:\Games", "\\server\share");
// where parsing would change that, the verbatim one ("\\?\C:\Games."), which Windows takes as
// it is; where its volume has no DOS name, the same through the NT namespace
// ("\\?\GLOBALROOT\Device\..."), which Wine lacks; else the full path it was opened by,
// whose links every step's check then guards.
static bool ChoosePath(PinnedFolder &pinned, const WCHAR *folder)
{
    WCHAR verbatim[kPathSize];
    WCHAR path[kPathSize];
    WCHAR ntPath[kFinalPathSize];
    int length = (int)GetFinalPathNameByHandleW(pinned.handle, verbatim, kPathSize,
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    bool dos = length > 4 && length < kPathSize;
    bool unc = dos && wcsncmp(verbatim, L"\\\\?\\UNC\\", 8) == 0;
    return (dos && TakePath(pinned, path,
                            _snwprintf(path, kPathSize, L"%ls%ls", unc ? L"\\" : L"",
                                       verbatim + (unc ? 7 : 4)),
                            false)) ||
           (dos && TakePath(pinned, path, _snwprintf(path, kPathSize, L"%ls", verbatim), true)) ||
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

// NtCreateFile, which opens a name inside an open folder, and NtQueryInformationFile are ntdll's:
// every process has it loaded, so they are looked up rather than imported.
static void LookUpNtCalls()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    g_pinned.ntCreateFile = (NtCreateFileCall)(void (*)(void))GetProcAddress(ntdll, "NtCreateFile");
    g_pinned.ntQueryInformationFile =
        (NtQueryInformationFileCall)(void (*)(void))GetProcAddress(ntdll, "NtQueryInformationFile");
}

// Holds the folder that handle is open on, named folder where it was opened, and writes the path
// its contents are reached by. Its final path is kept in the first form it has.
static bool Pin(PinnedFolder &pinned, HANDLE handle, const WCHAR *folder, char (&path)[kPathSize])
{
    Unpin(pinned);
    path[0] = '\0';
    pinned.handle = handle;
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
    LookUpNtCalls();
    bool pinned = SHGetPathFromIDListW(desktop, folder) &&
                  Pin(g_pinned.desktop, OpenFolder(folder), folder, path);
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
// Wine do not know the class or the flag, and a filter driver may refuse it with any answer: as
// Windows' own DeleteFile does, the old disposition follows every refusal but "cannot delete"
// (read-only, which comes as access denied) and "not empty".
static bool RemoveThrough(HANDLE handle)
{
    DWORD flags = kDispositionDelete | kDispositionPosixSemantics;
    if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &flags, sizeof flags)) {
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_DIR_NOT_EMPTY) {
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

const NTSTATUS kOplockBreakInProgress = 0x00000108;        // STATUS_OPLOCK_BREAK_IN_PROGRESS
const NTSTATUS kObjectNameNotFound = (NTSTATUS)0xC0000034; // STATUS_OBJECT_NAME_NOT_FOUND
const NTSTATUS kDeletePending = (NTSTATUS)0xC0000056;      // STATUS_DELETE_PENDING

// What an open inside a folder asks for besides the access: a folder, a file, or either.
const ULONG kAFolder = FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT;
const ULONG kAFile = FILE_NON_DIRECTORY_FILE;
const ULONG kEither = 0;

// Opens one name inside an open folder ("" for the folder itself), not following a link, so that
// nothing above the folder, renamed or relinked meanwhile, plays any part: Win32 opens only whole
// paths, ntdll opens relative to a handle. An open that breaks another program's oplock would
// wait until that program acknowledges the break, which a standard user's program can withhold
// from this elevated one for ever: it completes at once instead, and that name is left alone.
// Returns the open's answer; the handle only where it succeeded without an oplock in the way.
static NTSTATUS OpenInside(HANDLE folder, const WCHAR *name, int nameLength, ACCESS_MASK access,
                           ULONG kind, HANDLE &handle)
{
    NtCreateFileCall ntCreateFile = g_pinned.ntCreateFile;
    UNICODE_STRING unicodeName = {(USHORT)(nameLength * sizeof(WCHAR)),
                                  (USHORT)(nameLength * sizeof(WCHAR)), (PWSTR)name};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, folder, NULL);
    IO_STATUS_BLOCK status;
    handle = INVALID_HANDLE_VALUE;
    ULONG options =
        FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED | kind;
    NTSTATUS opened = ntCreateFile != NULL
                          ? ntCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status, NULL,
                                         0, kHeldSharing, FILE_OPEN, options, NULL, 0)
                          : STATUS_INVALID_PARAMETER;
    if (opened == kOplockBreakInProgress) {
        CloseHandle(handle);
    }
    if (opened < 0 || opened == kOplockBreakInProgress) {
        handle = INVALID_HANDLE_VALUE;
    }
    return opened;
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

// The handles a walk below a held root holds, and the final path it ended at.
struct Walk {
    HANDLE held[kMostSteps];
    int heldCount;
    WCHAR finalPaths[2][kFinalPathSize]; // a step's and its folder's
    const WCHAR *finalPath;              // the object's, in its root's form
    DWORD form;
    WCHAR names[kFinalPathSize]; // the path below the root
    HANDLE folder;               // the object's folder, held
    const WCHAR *name;           // the object's name in it
    int nameLength;
};

// Opens each name below a held root, one separator before each, inside the folder above it,
// without following links, and checks each before the next. Returns the object's handle, opened
// for that access, with every folder above it still held until EndWalk. The check that a step's
// final path is its folder's plus its own name is what stops a link where the system follows one
// anyway (Wine does).
static HANDLE WalkInsideRoot(const char *path, size_t rootLength, bool folder, ACCESS_MASK access,
                             Walk &walk)
{
    walk.heldCount = 0;
    const PinnedFolder *root = PinnedRootOf(path, rootLength);
    WCHAR(&names)[kFinalPathSize] = walk.names;
    int length = root != NULL ? ToWide(path + rootLength, names) : -1;
    if (length <= 0) {
        return INVALID_HANDLE_VALUE;
    }

    HANDLE folderHandle = root->handle;
    const WCHAR *folderFinalPath = root->finalPath;
    walk.form = root->form;
    for (int start = 1, end; names[start - 1] == L'\\' && walk.heldCount < kMostSteps;
         start = end + 1) {
        for (end = start; end < length && names[end] != L'\\';) {
            ++end;
        }
        bool last = end == length;
        if (!IsPlainName(names + start, end - start)) {
            break;
        }
        HANDLE step;
        OpenInside(folderHandle, names + start, end - start, last ? access : kHeldFolderAccess,
                   folder || !last ? kAFolder : kAFile, step);
        if (step == INVALID_HANDLE_VALUE) {
            break;
        }
        walk.held[walk.heldCount++] = step;
        WCHAR(&finalPath)[kFinalPathSize] = walk.finalPaths[walk.heldCount % 2];
        if (!IsOwnStep(step, folder || !last, root->form, folderFinalPath, names + start,
                       end - start, finalPath)) {
            break;
        }
        if (last) {
            walk.finalPath = finalPath;
            walk.folder = folderHandle, walk.name = names + start, walk.nameLength = end - start;
            return step;
        }
        folderHandle = step;
        folderFinalPath = finalPath;
    }
    return INVALID_HANDLE_VALUE;
}

static void EndWalk(Walk &walk)
{
    while (walk.heldCount > 0) {
        CloseHandle(walk.held[--walk.heldCount]);
    }
}

// A folder goes only when it is seen empty through the handle that removes it: not every file
// system refuses to remove one that holds anything. A WebDAV folder goes with all it holds (an
// HTTP DELETE of a collection is recursive), and a user-mode file system need not refuse. Any
// entry but "." and "..", an entry off the 8-byte alignment every entry has, and any answer but
// the end of the listing, keep it. The call says not how much it wrote: the page is cleared first.
static bool IsEmptyFolder(HANDLE folder)
{
    const DWORD kDotsEnd = offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + 2 * sizeof(WCHAR);
    union {
        FILE_ID_BOTH_DIR_INFO first; // for its alignment
        BYTE bytes[1024];
    } entries;
    for (;;) {
        memset(&entries, 0, sizeof entries); // so that a short answer never reads an earlier page
        if (!GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, &entries,
                                          sizeof entries)) {
            return GetLastError() == ERROR_NO_MORE_FILES;
        }
        for (DWORD offset = 0, next = 1; next != 0; offset += next) {
            const FILE_ID_BOTH_DIR_INFO *entry = (FILE_ID_BOTH_DIR_INFO *)(entries.bytes + offset);
            if (offset + kDotsEnd > sizeof entries) {
                return false;
            }
            DWORD length = entry->FileNameLength / sizeof(WCHAR);
            next = entry->NextEntryOffset;
            if (length < 1 || length > 2 || entry->FileName[0] != L'.' ||
                entry->FileName[length - 1] != L'.' || next > sizeof entries || next % 8 != 0) {
                return false;
            }
        }
    }
}

// A removal counts by what the disk holds afterwards, not by the answer to the request: a file
// system may accept one and not make it. A Samba share (by default) and Wine let a file be
// created in a folder whose deletion is pending, and the folder then stays at the close without
// a word; Wine deletes at the close by the path a handle was opened by, which a rename from the
// Linux side may have pointed elsewhere. So the name is opened again inside its folder, still
// held: only "no such name" counts, and for a file "delete pending" too: another program still
// holds it open, and it goes when that program lets go. A folder in that state counts as left: on
// a Samba share the program that holds it may still write into it, and it then stays.
static bool IsGone(const Walk &walk, bool folder)
{
    HANDLE handle;
    NTSTATUS opened =
        OpenInside(walk.folder, walk.name, walk.nameLength, FILE_READ_ATTRIBUTES, kEither, handle);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return opened == kObjectNameNotFound || (opened == kDeletePending && !folder);
}

// The object is removed through the handle it was checked by, which goes once that handle is
// closed, with every folder above it held; then its name is looked for again.
static bool RemoveInsideRoot(const char *path, size_t rootLength, bool folder)
{
    Walk walk;
    ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES | (folder ? FILE_LIST_DIRECTORY : 0);
    HANDLE object = WalkInsideRoot(path, rootLength, folder, access, walk);
    bool asked = object != INVALID_HANDLE_VALUE && (!folder || IsEmptyFolder(object)) &&
                 RemoveThrough(object);
    if (object != INVALID_HANDLE_VALUE) { // the object's is the last handle the walk holds
        CloseHandle(walk.held[--walk.heldCount]);
    }
    bool removed = asked && IsGone(walk, folder);
    EndWalk(walk);
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

// Each file is opened as the removal opens it, inside its held folder, and compared by final
// path, not by volume and file index: two hard links to one file are two names, and deleting one
// leaves the other. Attribute access alone records no sharing, so these opens stand in nobody's
// way.
bool PlatformSameFile(const char *path, size_t rootLength, const char *otherPath,
                      size_t otherRootLength)
{
    Walk walk;
    Walk otherWalk;
    otherWalk.heldCount = 0; // when the first walk fails, the second is never started
    bool same = WalkInsideRoot(path, rootLength, false, FILE_READ_ATTRIBUTES, walk) !=
                    INVALID_HANDLE_VALUE &&
                WalkInsideRoot(otherPath, otherRootLength, false, FILE_READ_ATTRIBUTES,
                               otherWalk) != INVALID_HANDLE_VALUE &&
                walk.form == otherWalk.form && wcscmp(walk.finalPath, otherWalk.finalPath) == 0;
    EndWalk(walk);
    EndWalk(otherWalk);
    return same;
}

// The process parameters' current folder: its path, and the handle Windows opened it by when the
// process started, before any library the program imports was loaded. winternl.h leaves this
// part of the record opaque; it lies at the same place from NT 4 to Windows 11.
struct CurrentFolder {
    UNICODE_STRING path;
    HANDLE handle;
};

bool PlatformPinCurrentFolder(char (&path)[kPathSize])
{
    const PEB *process; // a 32-bit thread's block keeps it at fs:[0x30]
    __asm__("movl %%fs:0x30, %0" : "=r"(process));
    const CurrentFolder &current =
        *(const CurrentFolder *)&process->ProcessParameters->Reserved2[5];
    WCHAR startPath[kFinalPathSize];
    int length = current.path.Length / sizeof(WCHAR);
    path[0] = '\0';
    if (current.handle == NULL || length >= kFinalPathSize) {
        return false;
    }
    memcpy(startPath, current.path.Buffer, length * sizeof(WCHAR));
    startPath[length] = L'\0';
    LookUpNtCalls();
    HANDLE folder;
    OpenInside(current.handle, L"", 0, kHeldFolderAccess, kAFolder, folder);
    return Pin(g_pinned.install, folder, startPath, path);
}

void PlatformUnpinFolders()
{
    Unpin(g_pinned.install);
    Unpin(g_pinned.desktop);
}
