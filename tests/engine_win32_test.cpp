// Engine tests on Wine's real file system, through the real Win32 calls.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <winternl.h>
#include <stdio.h>
#include <string.h>

#include <tuple>
#include <vector>

#include "engine.h"
#include "engine_reset.h"
#include "gui_driver.h"
#include "platform.h"
#include "wine_files.h"

namespace {

const char kNoSavegames[] = "Savegame folder deleted, there were no savegames.";
const char kFoldersLeft[] = "Not all folders have been deleted";

// Points this program's import of a KERNEL32 function at a stand-in for one test, so that the
// engine's own code meets an answer that only Windows gives; the stand-in calls the real one
// through the pointer given.
struct ImportPatch {
    template <typename Call> ImportPatch(const char *function, Call standIn, Call &real)
    {
        BYTE *base = (BYTE *)GetModuleHandleA(NULL);
        IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
        DWORD imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto *dll = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports); dll->Name && !slot; ++dll) {
            auto *name = (IMAGE_THUNK_DATA *)(base + dll->OriginalFirstThunk);
            for (int i = 0; name[i].u1.AddressOfData && !slot; ++i) {
                if (!IMAGE_SNAP_BY_ORDINAL(name[i].u1.Ordinal) &&
                    !strcmp(
                        (char *)((IMAGE_IMPORT_BY_NAME *)(base + name[i].u1.AddressOfData))->Name,
                        function)) {
                    slot = &((IMAGE_THUNK_DATA *)(base + dll->FirstThunk))[i].u1.Function;
                }
            }
        }
        original = slot ? (void *)*slot : nullptr;
        real = (Call)original;
        Write((DWORD)standIn);
    }
    ~ImportPatch() { Write((DWORD)original); }
    void Write(DWORD target)
    {
        DWORD protection;
        if (slot && VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
            *slot = target;
            VirtualProtect(slot, sizeof *slot, protection, &protection);
        }
    }
    DWORD *slot = nullptr;
    void *original;
};

class EngineOnDisk : public InstallFolderTest {
  protected:
    void SetUp() override
    {
        InstallFolderTest::SetUp();
        Pin(folder);
    }
    void TearDown() override
    {
        PlatformUnpinFolders();
        SetCurrentDirectoryA(BesideThisProgram("").c_str());
        InstallFolderTest::TearDown();
    }
    // A new run of the engine in the folder, started there and held as the program holds it.
    void Pin(const std::string &install)
    {
        ResetUninstallState();
        ASSERT_TRUE(SetCurrentDirectoryA(install.c_str()));
        ASSERT_TRUE(PlatformPinCurrentFolder(g_uninstall.installFolder));
    }

    // A full installation with a Save folder there, uninstalled without the desktop.
    UninstallReport UninstallAt(const std::string &install, bool savegame = false)
    {
        LayOutInstallation(install, kEveryRow, true, savegame);
        Pin(install);
        ScanInstallation();
        return RunUninstall(false);
    }
};

TEST_F(EngineOnDisk, FullInstallationGoesAndTheSavegameStays)
{
    LayOutInstallation(folder, kEveryRow, true, true);
    PutFile(DesktopShortcut());

    ScanInstallation();
    EXPECT_EQ(g_uninstall.foundCount, 15);
    EXPECT_TRUE(g_uninstall.desktopShortcutFound);
    EXPECT_EQ(g_uninstall.desktopShortcutPath, DesktopShortcut());

    UninstallReport report = RunUninstall(true);
    EXPECT_STREQ(report.statusText, "Uninstallation complete. 16 files deleted");
    EXPECT_STREQ(report.folderText, "Savegame folder was not deleted");
    for (const char *file : kInstalledFiles) {
        EXPECT_FALSE(Exists(At(file))) << file;
    }
    for (int content = 0; content < 4; ++content) {
        EXPECT_FALSE(Exists(At(kAddOnFolders[content]))) << kAddOnFolders[content];
    }
    EXPECT_FALSE(Exists(DesktopShortcut()));
    EXPECT_TRUE(Exists(At("Save\\Slot1.ksav")));
    EXPECT_TRUE(Exists(At("Readme.txt")));
}

TEST_F(EngineOnDisk, ReadOnlyRowAndFolderNamedLikeARowAreFailedDeletions)
{
    LayOutInstallation(folder, kEveryRow & ~(1u << 8), false, false);
    CreateDirectoryA(At("Maps\\KSMenu.kx").c_str(), NULL); // a folder where row 9 belongs
    SetFileAttributesA(At("System\\KessamarAudioKS.u").c_str(), FILE_ATTRIBUTE_READONLY);

    ScanInstallation();
    EXPECT_EQ(g_uninstall.foundCount, 15) << "a folder of a row's name counts as present";
    EXPECT_FALSE(g_uninstall.desktopShortcutFound);

    UninstallReport report = RunUninstall(false);
    EXPECT_STREQ(report.statusText, "Uninstallation incomplete: 13 of 15 found files deleted");
    EXPECT_STREQ(report.folderText, "Not all folders have been deleted");
    EXPECT_TRUE(Exists(At("System\\KessamarAudioKS.u")));
    EXPECT_FALSE(Exists(At("System\\Kessamar.u")));
    EXPECT_TRUE(Exists(At("Maps\\KSMenu.kx")));
    EXPECT_FALSE(Exists(At("Music")));
    EXPECT_FALSE(Exists(At("Textures")));
}

TEST_F(EngineOnDisk, LookAlikeFilesSurviveBesideEveryRow)
{
    LayOutInstallation(folder, kEveryRow, true, false);
    for (const char *file : kInstalledFiles) {
        std::string row = At(file);
        PutFile(row + ".bak");
        PutFile(row.substr(0, row.size() - 1));
    }

    ScanInstallation();
    UninstallReport report = RunUninstall(false);
    EXPECT_STREQ(report.statusText, "Uninstallation complete. 15 files deleted");
    EXPECT_STREQ(report.folderText, "Not all folders have been deleted");
    for (const char *file : kInstalledFiles) {
        std::string row = At(file);
        EXPECT_FALSE(Exists(row)) << file;
        EXPECT_TRUE(Exists(row + ".bak")) << file;
        EXPECT_TRUE(Exists(row.substr(0, row.size() - 1))) << file;
    }
    EXPECT_FALSE(Exists(At("Save"))) << "an empty Save folder goes";
}

// Below its root the platform removes only a plain name after each single separator.
TEST_F(EngineOnDisk, NothingButPlainNamesBelowTheRoot)
{
    PutFile(At("Readme.txt"));
    PutFile(At("System\\Kessamar.u"));
    std::string root = g_uninstall.installFolder;
    for (const char *tail : {"Readme.txt", "\\\\Readme.txt", "\\System\\..\\Readme.txt",
                             "\\.\\Readme.txt", "\\Readme.txt:x", "\\System\\"}) {
        EXPECT_FALSE(PlatformDeleteFile((root + tail).c_str(), root.size())) << tail;
    }
    EXPECT_TRUE(Exists(At("Readme.txt")) && Exists(At("System\\Kessamar.u")));
}

// Near the path limit only the three shortest rows fit, the longest of them in exactly 259
// characters; the rest are missing, not probed cut short.
TEST_F(EngineOnDisk, RowsBeyondThePathLimitAreMissing)
{
    std::string deep = folder + "\\" + std::string(240 - folder.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL));
    Pin(deep);
    EXPECT_EQ(g_uninstall.installFolder, deep) << "the folder's own path, all 241 characters";
    const int shortRows[] = {0, 8, 14}; // System\Kessamar.u, Maps\KSMenu.kx, Kessamar.lnk
    for (int row : shortRows) {
        PutFile(deep + "\\" + kInstalledFiles[row]);
    }

    ScanInstallation();
    EXPECT_EQ(g_uninstall.foundCount, 3);
    for (int row : shortRows) {
        EXPECT_TRUE(g_uninstall.found[row]) << kInstalledFiles[row];
    }
    UninstallReport report = RunUninstall(false);
    EXPECT_STREQ(report.statusText, "Uninstallation complete. 3 files deleted");
    EXPECT_FALSE(Exists(deep + "\\Maps"));
}

// Maps and Save are links to folders elsewhere, and Textures\KSMenuTex.utx to a file elsewhere,
// laid out from the Linux side before this test runs; the installation is reached through a
// linked library folder. Nothing behind a link goes, and the links stay: Wine opens what a link
// points to, so the linked file cannot be deleted as a link and is counted as not deleted.
TEST_F(EngineOnDisk, LinkedFoldersAndTheirTargetsStay)
{
    std::string linked = BesideThisProgram("linked");
    std::string install = linked + "\\library";
    ASSERT_TRUE(IsLinkedFolder(install + "\\Maps") && IsLinkedFolder(install + "\\Save"))
        << "no linked layout in " << linked << ": run through ctest";
    Pin(install);

    ScanInstallation();
    EXPECT_EQ(g_uninstall.foundCount, 15);
    UninstallReport report = RunUninstall(false);
    EXPECT_STREQ(report.statusText, "Uninstallation incomplete: 8 of 15 found files deleted");
    EXPECT_STREQ(report.folderText, "Not all folders have been deleted");
    for (const char *name : {"Maps", "Save"}) {
        EXPECT_TRUE(IsLinkedFolder(install + "\\" + name)) << name;
    }
    for (int row = 8; row < 14; ++row) {
        EXPECT_TRUE(Exists(linked + "\\elsewhere\\" + kInstalledFiles[row])) << row;
    }
    EXPECT_TRUE(Exists(linked + "\\elsewhere\\Save"));
    EXPECT_TRUE(Exists(linked + "\\elsewhere\\KSMenuTex.utx"));
    EXPECT_TRUE(Exists(install + "\\Textures\\KSMenuTex.utx")) << "the link stays";
    EXPECT_FALSE(Exists(install + "\\Textures\\kessamar.utx"));
    EXPECT_FALSE(Exists(install + "\\System")) << "a root reached through a link still works";
}

// System is a link to the sibling folder "X＼System" (a full-width reverse solidus), whose name
// reads as "X\System" through code page 1252's best fit: the sibling keeps its files.
TEST_F(EngineOnDisk, LinkToAFolderNamedAlikeIsNotFollowed)
{
    std::string install = At("X");
    LayOutInstallation(install, kEveryRow & ~0x1Fu, true, false);
    wchar_t wideInstall[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, install.c_str(), -1, wideInstall, MAX_PATH);
    std::wstring sibling = std::wstring(wideInstall) + L"\uFF3CSystem\\";
    auto siblingFile = [&](int row) {
        std::string name = kInstalledFiles[row] + 7; // after "System\\"
        return sibling + std::wstring(name.begin(), name.end());
    };
    ASSERT_TRUE(CreateDirectoryW(sibling.c_str(), NULL));
    for (int row = 0; row < 5; ++row) {
        CloseHandle(
            CreateFileW(siblingFile(row).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL));
    }
    ASSERT_TRUE(StartOnLinux(install, "ln -s ../X*System System"));
    ASSERT_TRUE(WaitFor([&] { return IsLinkedFolder(install + "\\System"); }));
    Pin(install);

    ScanInstallation();
    EXPECT_EQ(g_uninstall.foundCount, 15);
    UninstallReport report = RunUninstall(false);
    EXPECT_STREQ(report.statusText, "Uninstallation incomplete: 10 of 15 found files deleted");
    EXPECT_STREQ(report.folderText, kFoldersLeft);
    for (int row = 0; row < 5; ++row) {
        EXPECT_NE(GetFileAttributesW(siblingFile(row).c_str()), INVALID_FILE_ATTRIBUTES) << row;
    }
    PlatformUnpinFolders();
    ASSERT_TRUE(StartOnLinux(folder, "rm X/System && rm -r X*System"));
    EXPECT_TRUE(
        WaitFor([&] { return GetFileAttributesW(sibling.c_str()) == INVALID_FILE_ATTRIBUTES; }));
}

// A folder above the held one renamed while the question is open, as Wine allows (Windows' own
// file systems refuse while anything below is open), and a copy of the add-on laid out under its
// old name: the copy was not scanned, and stays. (Wine then accepts deletions in the folder that
// was scanned but makes none: it deletes by the old path when the handle closes.)
TEST_F(EngineOnDisk, FolderAboveRenamedWhileAskingLeavesTheCopyThere)
{
    std::string install = At("p\\install");
    LayOutInstallation(install, kEveryRow, true, false);
    Pin(install);
    ScanInstallation();
    ASSERT_TRUE(MoveFileA(At("p").c_str(), At("p.moved").c_str()));
    LayOutInstallation(install, kEveryRow, true, false);
    RunUninstall(false);
    for (const char *file : kInstalledFiles) {
        EXPECT_TRUE(Exists(install + "\\" + file)) << file;
    }
}

// Started through a link to the folder "a", which is pointed at "b" before the program holds its
// folder: it holds "a", the folder the process was started in.
TEST_F(EngineOnDisk, FolderStartedInIsHeldWhereverItsLinkPointsLater)
{
    for (const char *copy : {"a", "b"}) {
        LayOutInstallation(At(copy), kEveryRow, true, false);
    }
    ASSERT_TRUE(StartOnLinux(folder, "ln -s a library"));
    ASSERT_TRUE(WaitFor([&] { return IsLinkedFolder(At("library")); }));
    ASSERT_TRUE(SetCurrentDirectoryA(At("library").c_str()));
    PutFile(At("b\\Repointed.txt"));
    ASSERT_TRUE(StartOnLinux(folder, "ln -sfn b library"));
    ASSERT_TRUE(WaitFor([&] { return Exists(At("library\\Repointed.txt")); }));
    ResetUninstallState();
    ASSERT_TRUE(PlatformPinCurrentFolder(g_uninstall.installFolder));

    ScanInstallation();
    EXPECT_STREQ(RunUninstall(false).statusText, "Uninstallation complete. 15 files deleted");
    for (const char *added : kAddOnFolders) {
        EXPECT_FALSE(Exists(At("a\\") + added)) << added;
        EXPECT_TRUE(Exists(At("b\\") + added)) << added;
    }
    SetCurrentDirectoryA(folder.c_str());
    ASSERT_TRUE(StartOnLinux(folder, "rm library"));
    EXPECT_TRUE(WaitFor([&] { return !Exists(At("library")); }));
}

// FAT32 and exFAT fail the reparse tag query with ERROR_INVALID_PARAMETER, as this stand-in does;
// for the folder named here it also says "reparse point", so that the tag would be needed.
decltype(&GetFileInformationByHandleEx) g_realInformation;
const char *g_taggedFolder = "";
BOOL WINAPI InformationAsOnFat(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    char path[1024];
    if (kind == FileAttributeTagInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL answered = g_realInformation(file, kind, info, size);
    if (answered && kind == FileBasicInfo && *g_taggedFolder &&
        GetFinalPathNameByHandleA(file, path, sizeof path, 0) < sizeof path &&
        strcmp(strrchr(path, '\\') + 1, g_taggedFolder) == 0) {
        ((FILE_BASIC_INFO *)info)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return answered;
}

TEST_F(EngineOnDisk, EverythingGoesOnFatButAFolderWithAnUnreadableTag)
{
    ImportPatch patch("GetFileInformationByHandleEx", &InformationAsOnFat, g_realInformation);
    ASSERT_TRUE(patch.slot);
    const struct {
        const char *tagged, *status, *folders;
    } cases[] = {{"", "Uninstallation complete. 15 files deleted", kNoSavegames},
                 {"Maps", "Uninstallation incomplete: 9 of 15 found files deleted", kFoldersLeft}};
    for (const auto &fat : cases) {
        std::string install = At(*fat.tagged ? "tagged" : "plain");
        g_taggedFolder = fat.tagged;
        UninstallReport report = UninstallAt(install);
        g_taggedFolder = "";
        EXPECT_STREQ(report.statusText, fat.status) << fat.tagged;
        EXPECT_STREQ(report.folderText, fat.folders) << fat.tagged;
        EXPECT_EQ(Exists(install + "\\Maps\\KSMenu.kx"), *fat.tagged != 0);
    }
}

// Windows 10 and later delete with POSIX semantics, which this stand-in answers as Windows does:
// it deletes (Wine has only the old disposition to do it with), or fails with the error given. A
// folder goes with all it holds once the handle is closed, as on a WebDAV drive.
decltype(&SetFileInformationByHandle) g_realSetInformation;
DWORD g_posixError;
int g_posixCalls, g_otherFlags, g_oldCalls;
std::vector<std::string> g_foldersGoingWhole;
BOOL WINAPI DispositionAsOnWindows10(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                     DWORD size)
{
    char path[MAX_PATH];
    DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, 0);
    if (length < sizeof path && GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY) {
        g_foldersGoingWhole.push_back(path);
    }
    if (kind != 21) { // FileDispositionInfoEx
        ++g_oldCalls;
        return g_realSetInformation(file, kind, info, size);
    }
    ++g_posixCalls;
    g_otherFlags |= *(DWORD *)info ^ 0x3; // FILE_DISPOSITION_FLAG_DELETE | _POSIX_SEMANTICS
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetLastError(g_posixError);
    return !g_posixError &&
           g_realSetInformation(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// The old disposition follows any refusal of the new one (a filter driver may answer anything)
// but "cannot delete" (read-only) and "not empty", as Windows' own DeleteFile does.
TEST_F(EngineOnDisk, PosixDeletionFirstAndTheOldOneAfterAnyButAnAccessError)
{
    ImportPatch patch("SetFileInformationByHandle", &DispositionAsOnWindows10,
                      g_realSetInformation);
    ASSERT_TRUE(patch.slot);
    for (DWORD error :
         {DWORD(ERROR_SUCCESS), DWORD(ERROR_ACCESS_DENIED), DWORD(ERROR_GEN_FAILURE)}) {
        std::string install = At(std::to_string(error).c_str());
        g_posixError = error;
        g_posixCalls = g_otherFlags = g_oldCalls = 0;
        UninstallReport report = UninstallAt(install, true);
        for (const std::string &whole : g_foldersGoingWhole) {
            RemoveTree(whole.substr(4)); // past "\\?\", as an HTTP DELETE of a collection
        }
        g_foldersGoingWhole.clear();
        bool denied = error == ERROR_ACCESS_DENIED;
        EXPECT_STREQ(report.statusText,
                     denied ? "No files deleted" : "Uninstallation complete. 15 files deleted");
        EXPECT_EQ(Exists(install + "\\System"), denied)
            << "no folder is asked while it holds files";
        EXPECT_TRUE(Exists(install + "\\Save\\Slot1.ksav"));
        EXPECT_EQ(g_posixCalls, denied ? 15 : 19) << "15 files and the folders seen empty";
        EXPECT_EQ(g_otherFlags, 0) << "a read-only file must still refuse";
        EXPECT_EQ(g_oldCalls, error == ERROR_GEN_FAILURE ? 19 : 0) << error;
    }
}

// Windows with UTF-8 as its ANSI code page, as these stand-ins answer: the "A" calls read UTF-8,
// and WideCharToMultiByte refuses every flag but WC_ERR_INVALID_CHARS for it.
decltype(&WideCharToMultiByte) g_realToAnsi;
decltype(&MultiByteToWideChar) g_realFromAnsi;
decltype(&GetFileAttributesA) g_realAttributes;
decltype(&GetACP) g_realCodePage;
int WINAPI ToUtf8(UINT page, DWORD flags, LPCWCH wide, int wideLength, LPSTR ansi, int size,
                  LPCCH defaultChar, LPBOOL usedDefault)
{
    if (page == CP_ACP && (flags & ~WC_ERR_INVALID_CHARS) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    return g_realToAnsi(page == CP_ACP ? CP_UTF8 : page, flags, wide, wideLength, ansi, size,
                        defaultChar, usedDefault);
}
int WINAPI FromUtf8(UINT page, DWORD flags, LPCCH ansi, int length, LPWSTR wide, int size)
{
    return g_realFromAnsi(page == CP_ACP ? CP_UTF8 : page, flags, ansi, length, wide, size);
}
DWORD WINAPI AttributesOfUtf8(LPCSTR path)
{
    WCHAR wide[MAX_PATH];
    return FromUtf8(CP_ACP, 0, path, -1, wide, MAX_PATH) ? GetFileAttributesW(wide)
                                                         : INVALID_FILE_ATTRIBUTES;
}
UINT WINAPI Utf8CodePage()
{
    return CP_UTF8;
}

TEST_F(EngineOnDisk, EverythingGoesWithUtf8AsTheAnsiCodePage)
{
    UninstallReport report;
    {
        ImportPatch toAnsi("WideCharToMultiByte", &ToUtf8, g_realToAnsi);
        ImportPatch fromAnsi("MultiByteToWideChar", &FromUtf8, g_realFromAnsi);
        ImportPatch attributes("GetFileAttributesA", &AttributesOfUtf8, g_realAttributes);
        ImportPatch codePage("GetACP", &Utf8CodePage, g_realCodePage);
        ASSERT_TRUE(toAnsi.slot && fromAnsi.slot && attributes.slot);
        report = UninstallAt(folder); // its name holds letters beyond ASCII
    }
    EXPECT_STREQ(report.statusText, "Uninstallation complete. 15 files deleted");
    EXPECT_STREQ(report.folderText, kNoSavegames);
}

// A volume that the Mount Manager gives no DOS name (a RAM disk, a mounted image) fails the DOS
// form of a final path with ERROR_INVALID_FUNCTION, as this stand-in does.
decltype(&GetFinalPathNameByHandleW) g_realFinalPath;
DWORD WINAPI FinalPathWithoutDosName(HANDLE file, LPWSTR path, DWORD size, DWORD flags)
{
    if ((flags & (VOLUME_NAME_NT | VOLUME_NAME_NONE | VOLUME_NAME_GUID)) == 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return 0;
    }
    return g_realFinalPath(file, path, size, flags);
}

TEST_F(EngineOnDisk, EverythingGoesOnAVolumeWithoutADosName)
{
    ImportPatch patch("GetFinalPathNameByHandleW", &FinalPathWithoutDosName, g_realFinalPath);
    ASSERT_TRUE(patch.slot);
    UninstallReport report = UninstallAt(folder);
    EXPECT_STREQ(report.statusText, "Uninstallation complete. 15 files deleted");
    EXPECT_STREQ(report.folderText, kNoSavegames);
}

// Windows' NtCreateFile, which the platform looks up in ntdll rather than imports: these tests
// hand it a stand-in through the lookup.
typedef NTSTATUS(NTAPI *NtCreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
decltype(&GetProcAddress) g_realLookUp;
NtCreateFileCall g_openStandIn;
template <typename Call> struct Swept { // a call that the sweep below fails in turn
    const char *name;
    intptr_t failure; // its answer when it fails
    Call real = nullptr;
};
Swept<NtCreateFileCall> g_open = {"NtCreateFile", (LONG)0xC0000043}; // STATUS_SHARING_VIOLATION
FARPROC WINAPI LookUpOpenStandIn(HMODULE module, LPCSTR name)
{
    FARPROC found = g_realLookUp(module, name);
    if (found == NULL || strcmp(name, "NtCreateFile") != 0) {
        return found;
    }
    g_open.real = (NtCreateFileCall)(void (*)(void))found;
    return (FARPROC)(void (*)(void))g_openStandIn;
}

// Another program's oplock on one row, which Wine cannot show: the open answers as Windows does
// when it was asked not to wait for the break, STATUS_OPLOCK_BREAK_IN_PROGRESS with a handle.
int g_waitingOpens;
NTSTATUS NTAPI OpenUnderAnOplock(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                 PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG attributes,
                                 ULONG sharing, ULONG disposition, ULONG options, PVOID ea,
                                 ULONG eaLength)
{
    g_waitingOpens += (options & FILE_COMPLETE_IF_OPLOCKED) == 0;
    NTSTATUS opened = g_open.real(handle, access, object, status, size, attributes, sharing,
                                  disposition, options, ea, eaLength);
    const UNICODE_STRING *name = object->ObjectName;
    return opened == 0 && name->Length == 18 && wcsncmp(name->Buffer, L"KSMenu.kx", 9) == 0
               ? 0x108 // STATUS_OPLOCK_BREAK_IN_PROGRESS, a success
               : opened;
}

TEST_F(EngineOnDisk, RowUnderAnOplockIsNotWaitedForAndStays)
{
    UninstallReport report;
    {
        g_openStandIn = &OpenUnderAnOplock;
        ImportPatch lookUp("GetProcAddress", &LookUpOpenStandIn, g_realLookUp);
        report = UninstallAt(folder);
    }
    EXPECT_STREQ(report.statusText, "Uninstallation incomplete: 14 of 15 found files deleted");
    EXPECT_EQ(g_waitingOpens, 0);
    HANDLE row =
        CreateFileA(At("Maps\\KSMenu.kx").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(row, INVALID_HANDLE_VALUE) << "a handle is left on the row";
    CloseHandle(row);
}

// Every call the platform makes to Windows fails in turn, answering as Windows does (access
// denied, sharing violation or invalid parameter, by turns), while all the others go through.
int g_callsMade, g_failingCall;
const char *g_failedCall;
bool g_counting;
template <auto &swept, typename = decltype(swept.real)> struct InTurn;
template <auto &swept, typename Result, typename... Arguments>
struct InTurn<swept, Result(WINAPI *)(Arguments...)> {
    static Result WINAPI Call(Arguments... arguments)
    {
        if (!g_counting || ++g_callsMade != g_failingCall) {
            return swept.real(arguments...);
        }
        const DWORD answers[] = {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                                 ERROR_INVALID_PARAMETER};
        g_failedCall = swept.name;
        SetLastError(answers[g_failingCall % 3]);
        return (Result)swept.failure;
    }
    ImportPatch patch{swept.name, &Call, swept.real};
};
Swept<decltype(&CreateFileW)> g_createFile = {"CreateFileW", -1};
Swept<decltype(&GetFinalPathNameByHandleW)> g_finalPath = {"GetFinalPathNameByHandleW", 0};
Swept<decltype(&GetFileInformationByHandleEx)> g_information = {"GetFileInformationByHandleEx", 0};
Swept<decltype(&SetFileInformationByHandle)> g_disposition = {"SetFileInformationByHandle", 0};
Swept<decltype(&CompareStringOrdinal)> g_compare = {"CompareStringOrdinal", 0};
Swept<decltype(&WideCharToMultiByte)> g_toAnsi = {"WideCharToMultiByte", 0};
Swept<decltype(&MultiByteToWideChar)> g_fromAnsi = {"MultiByteToWideChar", 0};
Swept<decltype(&GetFullPathNameW)> g_fullPath = {"GetFullPathNameW", 0};
Swept<decltype(&GetFileAttributesA)> g_exists = {"GetFileAttributesA", -1};
Swept<decltype(&SHGetSpecialFolderLocation)> g_desktop = {"SHGetSpecialFolderLocation", E_FAIL};
Swept<decltype(&SHGetPathFromIDListW)> g_desktopPath = {"SHGetPathFromIDListW", 0};
Swept<decltype(&GetModuleHandleA)> g_module = {"GetModuleHandleA", 0};
Swept<decltype(&GetProcAddress)> g_lookUp = {"GetProcAddress", 0};

// What a run must keep to, whatever failed; "" when it did.
std::string BrokenPromise(const std::string &install, const std::string &sibling,
                          const UninstallReport &report)
{
    int gone = !Exists(DesktopShortcut()), deleted = 0, found = 0;
    std::vector<std::string> layout = {install, DesktopShortcut()};
    for (int row = 0; row < kRowCount; ++row) {
        layout.push_back(install + "\\" + kInstalledFiles[row]);
        gone += !Exists(layout.back());
        if (g_uninstall.found[row] && Exists(layout.back()) && strstr(report.statusText, "e.")) {
            return std::string("\"complete\" with ") + kInstalledFiles[row] + " there";
        }
    }
    sscanf(report.statusText, "Uninstallation complete. %d", &deleted);
    sscanf(report.statusText, "Uninstallation incomplete: %d of %d", &deleted, &found);
    if (deleted != gone) {
        return std::string(report.statusText) + ", " + std::to_string(gone) + " gone from disk";
    }
    bool foldersLeft = false;
    for (const char *added : kAddOnFolders) {
        layout.push_back(install + "\\" + added);
        foldersLeft = foldersLeft || (Exists(layout.back()) && strcmp(added, "Save") != 0);
    }
    const char *folderText = foldersLeft                  ? kFoldersLeft
                             : Exists(install + "\\Save") ? "Savegame folder was not deleted"
                                                          : kNoSavegames;
    if (strcmp(report.folderText, folderText) != 0) {
        return std::string(report.folderText) + ", but on disk: " + folderText;
    }
    for (const std::string &kept : {install + "\\Save\\Slot1.ksav", install + "\\Maps\\Game.kx",
                                    install + "\\Readme.txt", sibling + "\\Maps\\KSMenu.kx"}) {
        if (!Exists(kept)) {
            return kept + " is gone";
        }
    }
    for (const std::string &path : layout) { // any handle left would refuse sharing
        HANDLE alone = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, NULL);
        if (alone == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
            return "a handle is left on " + path;
        }
        CloseHandle(alone);
    }
    return "";
}

// A typical installation, with a savegame, a map of the game's own and a sibling folder holding
// files of the rows' names, held, scanned and removed again and again, each call failing in turn.
TEST_F(EngineOnDisk, EveryCallFailingInTurnKeepsEveryPromise)
{
    std::string sibling = At("sibling");
    LayOutInstallation(sibling, kEveryRow, true, true);
    std::tuple<InTurn<g_createFile>, InTurn<g_finalPath>, InTurn<g_information>,
               InTurn<g_disposition>, InTurn<g_compare>, InTurn<g_toAnsi>, InTurn<g_fromAnsi>,
               InTurn<g_fullPath>, InTurn<g_exists>, InTurn<g_desktop>, InTurn<g_desktopPath>,
               InTurn<g_module>, InTurn<g_lookUp>>
        everyCall;
    g_openStandIn = &InTurn<g_open>::Call;
    ImportPatch lookUp("GetProcAddress", &LookUpOpenStandIn, g_realLookUp);
    int calls = 0, held = 0;
    std::string broken;
    for (int k = 0; k <= calls && broken.empty(); ++k) { // nothing fails the first time
        std::string install = At(("install" + std::to_string(k)).c_str());
        LayOutInstallation(install, kEveryRow, true, true);
        PutFile(install + "\\Maps\\Game.kx");
        PutFile(DesktopShortcut());
        ResetUninstallState();
        SetCurrentDirectoryA(install.c_str());
        g_callsMade = 0, g_failingCall = k, g_failedCall = "none", g_counting = true;
        PlatformPinCurrentFolder(g_uninstall.installFolder);
        ScanInstallation();
        UninstallReport report = RunUninstall(g_uninstall.desktopShortcutFound);
        g_counting = false;
        PlatformUnpinFolders();
        SetCurrentDirectoryA(folder.c_str());
        calls = k == 0 ? g_callsMade : calls;
        broken = BrokenPromise(install, sibling, report);
        if (k == 0 && strcmp(report.statusText, "Uninstallation complete. 16 files deleted")) {
            broken = std::string("with no call failing: ") + report.statusText;
        }
        held += k > 0 && broken.empty();
        RemoveTree(install);
    }
    printf("%d calls failed in turn: %d held\n", calls, held);
    EXPECT_GT(calls, 100);
    EXPECT_EQ(broken, "") << "call " << g_failingCall << " (" << g_failedCall << ")";
}

} // namespace
