// Engine tests on Wine's real file system, through the real Win32 calls.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <winternl.h>
#include <stdio.h>
#include <string.h>
#include <wctype.h>

#include <algorithm>
#include <iterator>
#include <tuple>
#include <type_traits>
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
    std::string desktop = DesktopShortcut().substr(0, DesktopShortcut().rfind('\\'));
    for (const std::string &held : {folder, desktop}) { // an open to rename or delete it is refused
        HANDLE renaming = CreateFileA(held.c_str(), DELETE, 7, NULL, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, NULL);
        EXPECT_EQ(renaming, INVALID_HANDLE_VALUE) << held << " is not held";
        CloseHandle(renaming);
    }

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
// old name: the copy was not scanned, and stays. Wine accepts the deletions in the folder that was
// scanned and makes none (it deletes by the old path when the handle closes): none is counted.
TEST_F(EngineOnDisk, FolderAboveRenamedWhileAskingLeavesTheCopyThere)
{
    std::string install = At("p\\install");
    LayOutInstallation(install, kEveryRow, true, false);
    Pin(install);
    ScanInstallation();
    ASSERT_TRUE(MoveFileA(At("p").c_str(), At("p.moved").c_str()));
    LayOutInstallation(install, kEveryRow, true, false);
    EXPECT_STREQ(RunUninstall(false).statusText, "No files deleted") << "the report is the disk";
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

// The path a handle is open on, as Win32 reads it; "?" when it cannot be read.
std::string FinalPathOf(HANDLE handle)
{
    char path[MAX_PATH];
    DWORD length = GetFinalPathNameByHandleA(handle, path, sizeof path, 0);
    return length > 0 && length < sizeof path ? path : "?";
}

// FAT32 and exFAT fail the reparse tag query with ERROR_INVALID_PARAMETER, as this stand-in does;
// for the folder named here it also says "reparse point", so that the tag would be needed, and on
// NTFS answers the tag given: a junction's, or a deduplicated folder's, which is no link.
decltype(&GetFileInformationByHandleEx) g_realInformation;
const char *g_taggedFolder = "";
DWORD g_tag;
BOOL WINAPI InformationAsOnFat(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    std::string path =
        kind == FileAttributeTagInfo || kind == FileBasicInfo ? FinalPathOf(file) : "";
    bool tagged = *g_taggedFolder && path.substr(path.rfind('\\') + 1) == g_taggedFolder;
    if (kind == FileAttributeTagInfo) {
        *(FILE_ATTRIBUTE_TAG_INFO *)info = {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT,
                                            g_tag};
        SetLastError(ERROR_INVALID_PARAMETER);
        return tagged && g_tag;
    }
    BOOL answered = g_realInformation(file, kind, info, size);
    if (answered && kind == FileBasicInfo && tagged) {
        ((FILE_BASIC_INFO *)info)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return answered;
}

TEST_F(EngineOnDisk, EverythingGoesButAFolderWhoseTagIsALinkOrUnreadable)
{
    ImportPatch patch("GetFileInformationByHandleEx", &InformationAsOnFat, g_realInformation);
    ASSERT_TRUE(patch.slot);
    const char kNineOfFifteen[] = "Uninstallation incomplete: 9 of 15 found files deleted";
    const struct {
        const char *tagged;
        DWORD tag;
        const char *status, *folders;
    } cases[] = {
        {"", 0, "Uninstallation complete. 15 files deleted", kNoSavegames},
        {"Maps", 0, kNineOfFifteen, kFoldersLeft},
        {"Maps", IO_REPARSE_TAG_MOUNT_POINT, kNineOfFifteen, kFoldersLeft},
        {"Maps", IO_REPARSE_TAG_DEDUP, "Uninstallation complete. 15 files deleted", kNoSavegames}};
    for (const auto &fat : cases) {
        std::string install = At(std::to_string(&fat - cases).c_str());
        g_taggedFolder = fat.tagged, g_tag = fat.tag;
        UninstallReport report = UninstallAt(install);
        g_taggedFolder = "";
        EXPECT_STREQ(report.statusText, fat.status) << fat.tagged << fat.tag;
        EXPECT_STREQ(report.folderText, fat.folders) << fat.tagged << fat.tag;
        EXPECT_EQ(Exists(install + "\\Maps\\KSMenu.kx"), fat.folders == kFoldersLeft);
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
    std::string path = FinalPathOf(file);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
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
template <typename Call> struct Swept { // a call that the sweeps below fail, lie or race in turn
    const char *name;
    intptr_t failure; // its answer when it fails
    Call real = nullptr;
};
typedef NTSTATUS(NTAPI *NtQueryInformationFileCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                    FILE_INFORMATION_CLASS);
NtQueryInformationFileCall g_queryStandIn;
Swept<NtCreateFileCall> g_open = {"NtCreateFile", (LONG)0xC0000043}; // STATUS_SHARING_VIOLATION
Swept<NtQueryInformationFileCall> g_query = {"NtQueryInformationFile", (LONG)0xC0000022};
FARPROC WINAPI LookUpOpenStandIn(HMODULE module, LPCSTR name)
{
    FARPROC found = g_realLookUp(module, name);
    if (found != NULL && strcmp(name, "NtCreateFile") == 0) {
        g_open.real = (NtCreateFileCall)(void (*)(void))found;
        return (FARPROC)(void (*)(void))g_openStandIn;
    }
    if (found != NULL && g_queryStandIn && strcmp(name, "NtQueryInformationFile") == 0) {
        g_query.real = (NtQueryInformationFileCall)(void (*)(void))found;
        return (FARPROC)(void (*)(void))g_queryStandIn;
    }
    return found;
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

// Every call the platform makes to Windows fails, lies or is raced in turn, while all the others
// go through: the k-th call fails as Windows does (access denied, sharing violation or invalid
// parameter, by turns), or answers with a success the program must not take at its word, or goes
// through just after a standard user has moved something from the Linux side.
enum Sweep { kFail, kLie, kRace };
enum Move {
    kMapsRelinked,
    kRowRelinked,
    kInstallRelinked,
    kFilesDropped,
    kShortcutRelinked,
    kFilled
};
Sweep g_sweep;
int g_callsMade, g_turn, g_variant, g_lie = -1, g_lies, g_fileDispositions;
std::vector<int> g_liesAt; // how many lies each call of a run could tell
const char *g_turnCall, *g_told;
bool g_counting;
const char *g_move;
std::string g_movedIn, g_brokenMeanwhile;
std::vector<std::string> g_mustStay; // what a lie was told of, what a move made
std::wstring g_reparsed;             // a plain path that GetFullPathNameW was made to change
std::vector<int>
    g_folderDispositionsAt; // the calls that ask a folder to go, with nothing in the way
bool MoveOnLinux(const char *move, const std::string &install);
template <auto &swept, auto standIn = nullptr, typename = decltype(swept.real)> struct InTurn;
template <auto &swept, auto standIn, typename Result, typename... Arguments>
struct InTurn<swept, standIn, Result(WINAPI *)(Arguments...)> {
    static Result WINAPI Call(Arguments... arguments)
    {
        bool turn = g_counting && ++g_callsMade == g_turn;
        g_turnCall = turn ? swept.name : g_turnCall;
        if (turn && g_sweep == kFail) {
            const DWORD answers[] = {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                                     ERROR_INVALID_PARAMETER};
            SetLastError(answers[g_turn % 3]);
            return (Result)swept.failure;
        }
        if (turn && g_sweep == kRace && g_variant != kFilled && !MoveOnLinux(g_move, g_movedIn)) {
            g_brokenMeanwhile = std::string("the mover did not make the move ") + g_move;
        }
        g_lie = turn && g_sweep == kLie ? g_variant : -1;
        g_lies = 0;
        Result answer;
        if constexpr (std::is_null_pointer_v<decltype(standIn)>) {
            answer = swept.real(arguments...);
        } else {
            answer = standIn(arguments...);
        }
        if (g_counting && g_turn == 0) {
            g_liesAt.push_back(g_lies);
        }
        return answer;
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

// The lies, each told only as the k-th call's answer (g_lie, -1 for the truth); each stand-in
// says how many it could tell there (g_lies) and names the one it told.
NTSTATUS NTAPI OpenInTurn(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                          PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG attributes,
                          ULONG sharing, ULONG disposition, ULONG options, PVOID ea, ULONG eaLength)
{
    NTSTATUS opened = g_open.real(handle, access, object, status, size, attributes, sharing,
                                  disposition, options, ea, eaLength);
    const ULONG kNeverFollowNorWait = FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED;
    if ((options & kNeverFollowNorWait) != kNeverFollowNorWait && g_brokenMeanwhile.empty()) {
        g_brokenMeanwhile =
            "an open that follows a link or waits for an oplock"; // Wine shows neither
    }
    g_lies = 1;
    if (g_lie != 0 || opened != 0) {
        return opened;
    }
    g_told = "an oplock break in progress, with a handle";
    g_mustStay.push_back(access & DELETE ? FinalPathOf(*handle) : "");
    return 0x108; // STATUS_OPLOCK_BREAK_IN_PROGRESS, a success
}

// A folder listing: one entry more than there is; after a good page, an error other than the
// end; a success that writes only the first entry; an entry at an offset not a multiple of 8.
BOOL WINAPI ListingInTurn(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    union {
        FILE_ID_BOTH_DIR_INFO first;
        BYTE bytes[1024];
    } page;
    g_lies = kind == FileIdBothDirectoryInfo ? 4 : 0;
    if (g_lie < 0 || g_lies == 0 || size != sizeof page) {
        return g_information.real(file, kind, info, size);
    }
    BOOL answered = g_information.real(file, kind, page.bytes, size);
    if (g_lie == 1 ? answered || GetLastError() != ERROR_NO_MORE_FILES : !answered) {
        memcpy(info, page.bytes, size); // nothing to lie about
        return answered;
    }
    const char *const lies[] = {"one entry more", "an error after a good page", "a short page",
                                "a misaligned entry"};
    g_told = lies[g_lie];
    g_mustStay.push_back(FinalPathOf(file));
    DWORD first = offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + page.first.FileNameLength;
    DWORD second = page.first.NextEntryOffset;
    if (g_lie == 0) { // the first entry once more, as "~", before itself
        DWORD step = (first + 7) & ~7u;
        memmove(page.bytes + step, page.bytes, sizeof page - step);
        page.first.NextEntryOffset = step;
        page.first.FileName[0] = L'~';
    } else if (g_lie == 3 && second != 0) { // the second entry 4 bytes on, and the last
        memmove(page.bytes + second + 4, page.bytes + second, sizeof page - second - 4);
        memset(page.bytes + second + 4, 0, sizeof(DWORD));
        page.first.NextEntryOffset += 4;
    }
    memcpy(info, page.bytes, g_lie == 2 ? first : size);
    SetLastError(ERROR_UNEXP_NET_ERR);
    return g_lie != 1;
}

// A final path that differs from the true one only by a trailing dot or space, or in case.
DWORD WINAPI FinalPathInTurn(HANDLE file, LPWSTR path, DWORD size, DWORD flags)
{
    DWORD length = g_finalPath.real(file, path, size, flags);
    WCHAR *name = wcsrchr(path, L'\\');
    g_lies = 3;
    if (g_lie < 0 || length == 0 || length + 1 >= size || !name || !iswalpha(name[1])) {
        return length;
    }
    const char *const lies[] = {"a trailing dot", "a trailing space", "another case"};
    g_told = lies[g_lie];
    if (g_lie == 2) {
        name[1] ^= 0x20; // the other case of a letter
        return length;
    }
    path[length++] = g_lie == 0 ? L'.' : L' ';
    path[length] = L'\0';
    return length;
}

// Win32 parsing that would change a path: it answers the path without its last character.
DWORD WINAPI FullPathInTurn(LPCWSTR path, DWORD size, LPWSTR full, LPWSTR *part)
{
    DWORD length = g_fullPath.real(path, size, full, part);
    g_lies = 1;
    if (g_lie == 0 && length > 3 && length < size) {
        g_told = "another path";
        g_reparsed = path;
        full[--length] = L'\0';
    }
    return length;
}

// Whatever a file system would do, no folder is asked to go while it lists anything but "." and
// "..", from the start, through the handle asked. Each file disposition that succeeds is counted.
// The last move is made here: a file created in a folder just after its deletion was accepted, as
// Wine and a Samba share allow (Windows refuses), which keeps the folder at the close.
BOOL WINAPI DispositionWatched(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    union {
        FILE_ID_BOTH_DIR_INFO first;
        BYTE bytes[4096];
    } page;
    BY_HANDLE_FILE_INFORMATION about;
    bool folder = GetFileInformationByHandle(file, &about) &&
                  (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    for (auto listing = FileIdBothDirectoryRestartInfo;
         folder && g_information.real(file, listing, &page, sizeof page);
         listing = FileIdBothDirectoryInfo) {
        for (DWORD at = 0, next = 1; next != 0; at += next) {
            auto *entry = (FILE_ID_BOTH_DIR_INFO *)(page.bytes + at);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
            next = entry->NextEntryOffset;
            if (name != L"." && name != L".." && g_brokenMeanwhile.empty()) {
                g_brokenMeanwhile = FinalPathOf(file) + " asked to go while it lists " +
                                    std::string(name.begin(), name.end());
            }
        }
    }
    BOOL done = g_disposition.real(file, kind, info, size);
    if (done && folder && g_counting && g_turn == 0) {
        g_folderDispositionsAt.push_back(g_callsMade);
    } else if (done && folder && g_sweep == kRace && g_variant == kFilled &&
               g_turn == g_callsMade) {
        g_mustStay.push_back(FinalPathOf(file) + "\\Filled.kx");
        PutFile(g_mustStay.back());
    }
    g_fileDispositions += done && !folder;
    return done;
}

// A standard user's moves, each made from the Linux side just before the k-th call; "@" stands
// for the install folder, "#" for the desktop shortcut. A file or folder is moved or written into
// only while it is there. The last move is DispositionWatched's, after the k-th call.
const char *const kMoves[] = {
    "! test -d @/Maps || (mv @/Maps @/Maps.away && ln -s ../sibling/Maps @/Maps)",
    "! test -f @/System/Kessamar.ini || ln -sf ../../outside.kx @/System/Kessamar.ini",
    "mv @ @.away && ln -s sibling @",
    "(! test -d @/Maps || echo new >@/Maps/Dropped.kx) && (! test -d @/Save || echo "
    ">@/Save/x.ksav)",
    "! test -f # || ln -sf \"$PWD/outside.kx\" #",
    "a file written into the folder asked to go"};
std::string g_moverFolder, g_desktopOnLinux;

// Has the mover make a move in the sweep's folder, and waits until it has.
bool MoveOnLinux(const char *move, const std::string &install)
{
    std::string command = move, request = g_moverFolder + "\\move";
    for (size_t at; (at = command.find_first_of("@#")) != std::string::npos;) {
        command.replace(at, 1, command[at] == '@' ? install : "'" + g_desktopOnLinux + "'");
    }
    bool counting = g_counting;
    g_counting = false;
    PutFile(request + ".new", command);
    MoveFileA((request + ".new").c_str(), request.c_str());
    for (DWORD start = GetTickCount(); Exists(request) && GetTickCount() - start < 10000;) {
        Sleep(1);
    }
    for (const char *made : {"\\Maps\\Dropped.kx", "\\Save\\x.ksav"}) {
        if (move == kMoves[kFilesDropped] && Exists(g_moverFolder + "\\" + install + made)) {
            g_mustStay.push_back(g_moverFolder + "\\" + install + made);
        }
    }
    g_counting = counting;
    return !Exists(request) && !Exists(request + ".failed");
}

// What a run must keep to, whatever failed, lied or moved; "" when it did.
std::string BrokenPromise(const std::string &install, const std::string &sibling,
                          const UninstallReport &report)
{
    bool raced = g_sweep == kRace && g_turn > 0;
    // Where the add-on's files are now: the held folder follows a rename.
    std::string place = install + (raced && g_variant == kInstallRelinked ? ".away" : "");
    auto at = [&](std::string file) {
        if (raced && g_variant == kMapsRelinked && file.compare(0, 4, "Maps") == 0) {
            file.insert(4, ".away");
        }
        return place + "\\" + file;
    };
    if (!g_brokenMeanwhile.empty()) {
        return g_brokenMeanwhile;
    }
    int gone = !Exists(DesktopShortcut()), deleted = 0, found = 0;
    std::vector<std::string> layout = {place, DesktopShortcut()};
    for (int row = 0; row < kRowCount; ++row) {
        layout.push_back(at(kInstalledFiles[row]));
        gone += !Exists(layout.back());
        if (g_uninstall.found[row] && Exists(layout.back()) && strstr(report.statusText, "e.")) {
            return std::string("\"complete\" with ") + kInstalledFiles[row] + " there";
        }
    }
    sscanf(report.statusText, "Uninstallation complete. %d", &deleted);
    found = deleted;
    sscanf(report.statusText, "Uninstallation incomplete: %d of %d", &deleted, &found);
    // A removal whose name could not be looked for again afterwards is not counted.
    bool unseen = g_sweep == kFail && !strcmp(g_turnCall, "NtCreateFile");
    if (deleted > g_fileDispositions || deleted > gone || deleted < gone - unseen) {
        return std::string(report.statusText) + ", " + std::to_string(g_fileDispositions) +
               " deletions succeeded, " + std::to_string(gone) + " gone from disk";
    }
    // Every row is there when scanned, and a lie only ever makes the program hold no folder.
    int scanned = (g_uninstall.installFolder[0] ? kRowCount : 0) + g_uninstall.desktopShortcutFound;
    if (g_sweep == kLie && found > 0 && found != scanned) {
        return std::string(report.statusText) + ", " + std::to_string(scanned) + " found";
    }
    std::string reparsed(g_reparsed.begin(), g_reparsed.end()); // ASCII past the temporary folder
    if (!reparsed.empty() && (g_uninstall.installFolder == reparsed ||
                              g_uninstall.desktopShortcutPath == reparsed + "\\Kessamar.lnk")) {
        return "the path " + reparsed + " is used, which Win32 parsing changes";
    }
    bool foldersLeft = false;
    for (const char *added : kAddOnFolders) {
        layout.push_back(at(added));
        foldersLeft = foldersLeft || (Exists(layout.back()) && strcmp(added, "Save") != 0);
    }
    const char *folderText = foldersLeft          ? kFoldersLeft
                             : Exists(at("Save")) ? "Savegame folder was not deleted"
                                                  : kNoSavegames;
    if (strcmp(report.folderText, folderText) != 0) {
        return std::string(report.folderText) + ", but on disk: " + folderText;
    }
    std::vector<std::string> kept = {place + "\\Readme.txt", sibling + "\\Save\\Slot1.ksav",
                                     sibling + "\\..\\outside.kx"};
    kept.insert(kept.end(), g_mustStay.begin(), g_mustStay.end());
    if (g_sweep != kRace) { // a savegame and a map of the game's own keep Save and Maps
        kept.insert(kept.end(), {at("Save\\Slot1.ksav"), at("Maps\\Game.kx")});
    }
    for (const char *file : kInstalledFiles) {
        kept.push_back(sibling + "\\" + file);
    }
    for (const std::string &file : kept) {
        if (!file.empty() && !Exists(file)) {
            return file + " is gone";
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

// A typical installation, with a savegame, a map of the game's own, a sibling folder holding
// files of the rows' names and a file outside both, held, scanned and removed again and again,
// with each call in turn failing, lying or raced.
void SweepEveryCall(const std::string &folder, Sweep sweep)
{
    std::string sibling = folder + "\\sibling";
    LayOutInstallation(sibling, kEveryRow, true, true);
    PutFile(folder + "\\outside.kx", "outside");
    auto unixName = (char *(CDECL *)(LPCWSTR))(void (*)(void))GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    std::string shortcut = DesktopShortcut();
    std::wstring desktop(shortcut.begin(), shortcut.end());
    g_desktopOnLinux = unixName ? unixName(desktop.c_str()) : "";
    g_moverFolder = folder;
    ASSERT_TRUE(sweep != kRace || StartOnLinux(folder, "exec /usr/bin/python3 '" KESSAMAR_MOVER
                                                       "' . >/dev/null 2>&1"));
    std::tuple<InTurn<g_createFile>, InTurn<g_finalPath, FinalPathInTurn>,
               InTurn<g_information, ListingInTurn>, InTurn<g_disposition, DispositionWatched>,
               InTurn<g_compare>, InTurn<g_toAnsi>, InTurn<g_fromAnsi>,
               InTurn<g_fullPath, FullPathInTurn>, InTurn<g_exists>, InTurn<g_desktop>,
               InTurn<g_desktopPath>, InTurn<g_module>, InTurn<g_lookUp>>
        everyCall;
    g_openStandIn = &InTurn<g_open, OpenInTurn>::Call;
    g_queryStandIn = &InTurn<g_query>::Call;
    ImportPatch lookUp("GetProcAddress", &LookUpOpenStandIn, g_realLookUp);
    g_liesAt.clear(), g_folderDispositionsAt.clear();
    int calls = 0, runs = 0, held = 0;
    std::string broken;
    for (int k = 0; k <= calls && broken.empty(); ++k) { // nothing fails the first time
        int variants = k == 0 || sweep == kFail ? 1
                       : sweep == kLie          ? g_liesAt[k - 1]
                                                : (int)std::size(kMoves);
        bool filled = std::count(g_folderDispositionsAt.begin(), g_folderDispositionsAt.end(), k);
        variants -= sweep == kRace && k > 0 && !filled; // the last move only where a folder goes
        for (g_variant = 0; g_variant < variants && broken.empty(); ++g_variant) {
            char name[8]; // as long as "sibling": only a step's whole final path tells them apart
            snprintf(name, sizeof name, "run%04d", runs);
            std::string install = folder + "\\" + name;
            LayOutInstallation(install, kEveryRow, true, sweep != kRace); // races: all can go
            if (sweep != kRace) {
                PutFile(install + "\\Maps\\Game.kx");
            }
            PutFile(DesktopShortcut());
            ResetUninstallState();
            SetCurrentDirectoryA(install.c_str());
            g_sweep = sweep, g_turn = k, g_callsMade = 0, g_turnCall = g_told = "none";
            g_move = kMoves[sweep == kRace ? g_variant : 0], g_movedIn = name;
            g_brokenMeanwhile.clear(), g_mustStay.clear(), g_reparsed.clear();
            g_fileDispositions = 0, g_counting = true;
            PlatformPinCurrentFolder(g_uninstall.installFolder);
            ScanInstallation();
            UninstallReport report = RunUninstall(g_uninstall.desktopShortcutFound);
            g_counting = false;
            PlatformUnpinFolders();
            SetCurrentDirectoryA(folder.c_str());
            calls = k == 0 ? g_callsMade : calls;
            broken = BrokenPromise(install, sibling, report);
            if (k == 0 && strcmp(report.statusText, "Uninstallation complete. 16 files deleted")) {
                broken = std::string("with nothing in the way: ") + report.statusText;
            }
            runs += k > 0;
            held += k > 0 && broken.empty();
            if (sweep != kRace) {
                RemoveTree(install);
            } else if (!MoveOnLinux("rm -rf @ @.away #", name)) {
                broken = std::string("the mover did not clean up after ") + name;
            }
        }
    }
    g_queryStandIn = nullptr;
    const char *const done[] = {"calls failed", "lies told", "moves raced"};
    printf("%d %s in turn: %d held\n", runs, done[sweep], held);
    if (sweep == kRace) {
        MoveOnLinux("exit", "");
    }
    EXPECT_GT(calls, 100);
    EXPECT_EQ(broken, "") << "call " << g_turn << " (" << g_turnCall << ")"
                          << (sweep == kLie ? std::string(" told ") + g_told : "")
                          << (sweep == kRace ? std::string(" raced by ") + g_move : "");
}

TEST_F(EngineOnDisk, EveryCallFailingInTurnKeepsEveryPromise)
{
    SweepEveryCall(folder, kFail);
}

TEST_F(EngineOnDisk, EveryCallLyingInTurnKeepsEveryPromise)
{
    SweepEveryCall(folder, kLie);
}

TEST_F(EngineOnDisk, EveryCallRacedInTurnKeepsEveryPromise)
{
    SweepEveryCall(folder, kRace);
}

} // namespace
