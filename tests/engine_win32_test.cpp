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
#include <utility>
#include <vector>

#include "engine.h"
#include "engine_reset.h"
#include "gui_driver.h"
#include "nt_calls.h"
#include "platform.h"
#include "report_texts.h"
#include "wine_files.h"

namespace {

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
    EXPECT_EQ(report.statusText, Counted(kComplete, 16));
    EXPECT_STREQ(report.folderText, kSavegamesKept);
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
    EXPECT_EQ(report.statusText, Counted(kIncomplete, 13, 15));
    EXPECT_STREQ(report.folderText, kFoldersLeft);
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
    EXPECT_EQ(report.statusText, Counted(kComplete, 15));
    EXPECT_STREQ(report.folderText, kFoldersLeft);
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
    EXPECT_EQ(report.statusText, Counted(kComplete, 3));
    EXPECT_FALSE(Exists(deep + "\\Maps"));
}

// Maps and Save are links to folders elsewhere, and Textures\KSMenuTex.utx to a file elsewhere,
// laid out from the Linux side; the installation is reached through a linked library folder.
// Nothing behind a link goes, and the links stay: Wine opens what a link points to, so the linked
// file cannot be deleted as a link and is counted as not deleted.
TEST_F(EngineOnDisk, LinkedFoldersAndTheirTargetsStay)
{
    std::string install = At("library"), elsewhere = At("elsewhere\\");
    LayOutInstallation(At("install"), kEveryRow, true, false);
    ASSERT_TRUE(StartOnLinux(folder,
                             "mkdir elsewhere && cd install && mv Maps Save "
                             "Textures/KSMenuTex.utx ../elsewhere && ln -s "
                             "../elsewhere/Maps ../elsewhere/Save . && ln -s "
                             "../../elsewhere/KSMenuTex.utx Textures && ln -s install ../library"));
    ASSERT_TRUE(WaitFor([&] { return IsLinkedFolder(install); }));
    Pin(install);

    ScanInstallation();
    EXPECT_EQ(g_uninstall.foundCount, 15);
    UninstallReport report = RunUninstall(false);
    EXPECT_EQ(report.statusText, Counted(kIncomplete, 8, 15));
    EXPECT_STREQ(report.folderText, kFoldersLeft);
    for (const char *name : {"Maps", "Save"}) {
        EXPECT_TRUE(IsLinkedFolder(install + "\\" + name)) << name;
    }
    for (int row = 8; row < 14; ++row) {
        EXPECT_TRUE(Exists(elsewhere + kInstalledFiles[row])) << row;
    }
    EXPECT_TRUE(Exists(elsewhere + "Save") && Exists(elsewhere + "KSMenuTex.utx"));
    EXPECT_TRUE(Exists(install + "\\Textures\\KSMenuTex.utx")) << "the link stays";
    EXPECT_FALSE(Exists(install + "\\Textures\\kessamar.utx"));
    EXPECT_FALSE(Exists(install + "\\System")) << "a root reached through a link still works";
    PlatformUnpinFolders();
    ASSERT_TRUE(StartOnLinux(folder, "cd install && rm Maps Save Textures/* ../library"));
    EXPECT_TRUE(WaitFor([&] { return !Exists(install); }));
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
    EXPECT_EQ(report.statusText, Counted(kIncomplete, 10, 15));
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
    EXPECT_STREQ(RunUninstall(false).statusText, kNoFilesDeleted)
        << "the report is what the disk holds";
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
    EXPECT_EQ(RunUninstall(false).statusText, Counted(kComplete, 15));
    for (const char *added : kAddOnFolders) {
        EXPECT_FALSE(Exists(At("a\\") + added)) << added;
        EXPECT_TRUE(Exists(At("b\\") + added)) << added;
    }
    SetCurrentDirectoryA(folder.c_str());
    ASSERT_TRUE(StartOnLinux(folder, "rm library"));
    EXPECT_TRUE(WaitFor([&] { return !Exists(At("library")); }));
}

// The path a handle is open on, as Win32 reads it, without its "\\?\"; "?" when it cannot be read.
std::string FinalPathOf(HANDLE handle)
{
    char path[MAX_PATH];
    DWORD length = GetFinalPathNameByHandleA(handle, path, sizeof path, 0);
    return length > 4 && length < sizeof path ? path + 4 : "?";
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
    const std::string kNineOfFifteen = Counted(kIncomplete, 9, 15), kAll = Counted(kComplete, 15);
    const struct {
        const char *tagged;
        DWORD tag;
        std::string status;
        const char *folders;
    } cases[] = {{"", 0, kAll, kAllFoldersGone},
                 {"Maps", 0, kNineOfFifteen, kFoldersLeft},
                 {"Maps", IO_REPARSE_TAG_MOUNT_POINT, kNineOfFifteen, kFoldersLeft},
                 {"Maps", IO_REPARSE_TAG_DEDUP, kAll, kAllFoldersGone}};
    for (const auto &fat : cases) {
        std::string install = At(std::to_string(&fat - cases).c_str());
        g_taggedFolder = fat.tagged, g_tag = fat.tag;
        UninstallReport report = UninstallAt(install);
        g_taggedFolder = "";
        EXPECT_EQ(report.statusText, fat.status) << fat.tagged << fat.tag;
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
            RemoveTree(whole); // as an HTTP DELETE of a collection
        }
        g_foldersGoingWhole.clear();
        bool denied = error == ERROR_ACCESS_DENIED;
        EXPECT_EQ(report.statusText, denied ? kNoFilesDeleted : Counted(kComplete, 15));
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
    EXPECT_EQ(report.statusText, Counted(kComplete, 15));
    EXPECT_STREQ(report.folderText, kAllFoldersGone);
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
    EXPECT_EQ(report.statusText, Counted(kComplete, 15));
    EXPECT_STREQ(report.folderText, kAllFoldersGone);
}

// Every call the platform makes to Windows fails, lies or is raced in turn, while all the others
// go through: the k-th call fails as Windows does (access denied, sharing violation or invalid
// parameter, by turns), or answers with a success the program must not take at its word, or goes
// through just after a standard user has moved something from the Linux side.
enum Sweep { kFail, kLie, kRace };
// A game folder, where a savegame keeps Save and a map of the game's own keeps Maps; or a clean
// installation, where every folder can go, so that each is at stake in the report.
enum Layout { kGameFolder, kClean };

// The lies, each told as the k-th call's answer by the stand-in of that call. The listing lies
// each break one rule of the reading of a listing: but for that rule, it reads as empty.
// clang-format off
const char *const kLies[] = {
    "an oplock break in progress, with a handle", "a trailing dot", "a trailing space",
    "another case", "another path", "an error other than the end",
    "a page written only as far as its first entry", "an entry more", "a name of three dots",
    "a name of no characters", "a name that only starts with a dot",
    "a name that only ends with a dot", "an entry off the 8-byte alignment",
    "an offset past the page", "an entry running off the page"};
// clang-format on
enum { kOplockLie = 0, kFinalPathLies = 1, kFullPathLie = 4, kListingLies = 5 };

// A standard user's moves, made from the Linux side before the k-th call where the truthful run has
// what they need there ($i, $d: the install folder, the desktop shortcut); the last by the
// disposition's stand-in, just after the k-th call asked a folder to go.
struct Move {
    const char *needs, *command, *makes[2] = {};
};
const Move kMoves[] = {
    {"Maps", "mv $i/Maps $i/Maps.away && ln -s ../sibling/Maps $i/Maps"},
    {"System\\Kessamar.ini", "ln -sf ../../outside.kx $i/System/Kessamar.ini"},
    {"", "mv $i $i.away && ln -s sibling $i"},
    {"Save",
     "(! test -d $i/System || echo >$i/System/Dropped.kx) && echo >$i/Save/Slot2.ksav",
     {"System\\Dropped.kx", "Save\\Slot2.ksav"}},
    {"..\\Desktop\\Kessamar.lnk", "ln -sf ../outside.kx $d"},
    {nullptr, "a file written into the folder just asked to go", {"Filled.kx"}}};
enum { kMapsRelinked, kRowRelinked, kInstallRelinked, kFilesDropped, kShortcutRelinked, kFilled };

// One run of a sweep, made afresh for each.
struct Run {
    Sweep sweep;
    Layout layout;
    int turn, variant, move; // the k-th call (0: none), the lie it tells, the move made before
    std::string install, desktop;
    bool counting = false;
    int calls = 0, could = 0, lie = -1; // calls made; lies or moves the call could take; its lie
    const char *call = "none", *told = "none";
    // What a lie must leave or remove, removals not looked for again, what a move put there.
    std::vector<std::string> mustStay = {}, mustGo = {}, unseen = {}, made = {};
    std::string broken = "", filled = ""; // a promise broken meanwhile; a folder filled
    std::string reparsed = "";            // a plain path that Win32 parsing was said to change
} g_run;
// A sweep's: the lies or moves each call could take, the lies told by kind, the calls not stood in
// for.
struct {
    std::vector<int> could;
    int told[std::size(kLies)];
    std::string missing, folder;
} g_sweep;

// What the tests do themselves while the program runs is not counted as the program's calls.
template <typename Work> auto Uncounted(Work work)
{
    bool counting = std::exchange(g_run.counting, false);
    auto done = work();
    g_run.counting = counting;
    return done;
}

void Break(const char *promise, const std::string &how) // the first promise broken meanwhile
{
    g_run.broken += g_run.broken.empty() ? "\"" + std::string(promise) + "\" (" + how + ")" : "";
}

std::string NameOpened(const OBJECT_ATTRIBUTES *object) // inside an open folder
{
    const UNICODE_STRING &name = *object->ObjectName;
    return FinalPathOf(object->RootDirectory) + "\\" +
           std::string(name.Buffer, name.Buffer + name.Length / 2);
}
// Only the open that looks for a name again after a removal asks for neither a folder nor a file.
const ULONG kFolderOrFile = FILE_DIRECTORY_FILE | FILE_NON_DIRECTORY_FILE;

// Windows' NtCreateFile and NtQueryInformationFile, which the platform looks up in ntdll rather
// than imports: the sweeps hand it stand-ins through the lookup.
decltype(&GetProcAddress) g_realLookUp;
template <typename Call> struct Swept { // a call that the sweeps fail, lie or race in turn
    const char *name;
    intptr_t failure; // its answer when it fails
    Call real = nullptr;
};
Swept<NtCreateFileCall> g_open = {"NtCreateFile", (LONG)0xC0000043}; // STATUS_SHARING_VIOLATION
Swept<NtQueryInformationFileCall> g_query = {"NtQueryInformationFile", (LONG)0xC0000022};
NtCreateFileCall g_openStandIn;
NtQueryInformationFileCall g_queryStandIn;
FARPROC WINAPI LookUpStandIns(HMODULE module, LPCSTR name)
{
    FARPROC found = g_realLookUp(module, name);
    bool open = found && !strcmp(name, g_open.name), query = found && !strcmp(name, g_query.name);
    (open ? (FARPROC &)g_open.real : query ? (FARPROC &)g_query.real : found) = found;
    return open    ? (FARPROC)(void (*)(void))g_openStandIn
           : query ? (FARPROC)(void (*)(void))g_queryStandIn
                   : found;
}
void MakeMove();

template <auto &swept, auto standIn = nullptr, typename = decltype(swept.real)> struct InTurn;
template <auto &swept, auto standIn, typename Result, typename... Arguments>
struct InTurn<swept, standIn, Result(WINAPI *)(Arguments...)> {
    static Result WINAPI Call(Arguments... arguments)
    {
        Run &run = g_run;
        bool counted = run.counting, turn = counted && ++run.calls == run.turn;
        run.call = turn ? swept.name : run.call;
        if (turn && run.sweep == kFail) {
            if constexpr (std::is_same_v<decltype(swept.real), NtCreateFileCall>) {
                auto called = std::tie(arguments...); // a removal not looked for is not counted
                if ((std::get<8>(called) & kFolderOrFile) == 0) {
                    run.unseen.push_back(NameOpened(std::get<2>(called)));
                }
            }
            const DWORD answers[] = {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                                     ERROR_INVALID_PARAMETER};
            SetLastError(answers[run.turn % 3]);
            return (Result)swept.failure;
        }
        if (turn && run.sweep == kRace && kMoves[run.move].needs) {
            MakeMove();
        }
        const char *needs = kMoves[run.move].needs; // truthful run: a failure here, or a move
        int could = counted && !run.turn &&
                    (run.sweep == kFail || (run.sweep == kRace && needs && Uncounted([&] {
                                                return Exists(run.install + "\\" + needs);
                                            })));
        run.lie = turn && run.sweep == kLie ? run.variant : -1;
        run.could = 0; // the lies its stand-in could tell, or its move
        Result answer;
        if constexpr (std::is_null_pointer_v<decltype(standIn)>) {
            answer = swept.real(arguments...);
        } else {
            answer = standIn(arguments...);
        }
        if (counted && run.turn == 0) {
            g_sweep.could.push_back(could + run.could);
        }
        return answer;
    }
    InTurn() { g_sweep.missing += patch.slot ? "" : std::string(" ") + swept.name; }
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

// The k-th call tells its lie of what a handle is open on. The program acts only through a handle
// opened to remove, or a folder's, above what it removes: those stay; told in another case, those
// opened to remove go where the truth does (every file, every folder of a clean installation).
decltype(&NtQueryObject) g_queryObject;
bool IsFolder(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION about = {};
    return GetFileInformationByHandle(handle, &about) &&
           (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}
void Tell(int lie, HANDLE handle, bool stays = true)
{
    PUBLIC_OBJECT_BASIC_INFORMATION basic = {}; // no access where there is no handle
    g_queryObject(handle, ObjectBasicInformation, &basic, sizeof basic, NULL);
    bool folder = IsFolder(handle), removing = (basic.GrantedAccess & DELETE) != 0;
    g_run.told = kLies[lie];
    ++g_sweep.told[lie];
    if (stays ? removing || folder : folder && !removing) {
        g_run.mustStay.push_back(FinalPathOf(handle));
    } else if (removing && (!folder || g_run.layout == kClean)) {
        g_run.mustGo.push_back(FinalPathOf(handle));
    }
}

// The sweep's own desktop folder, wherever the prefix has its desktop.
BOOL WINAPI DesktopOfTheSweep(PCIDLIST_ABSOLUTE, LPWSTR path)
{
    return g_fromAnsi.real(CP_ACP, 0, g_run.desktop.c_str(), -1, path, MAX_PATH) > 0;
}

// Every open inside a folder neither follows a link nor waits for an oplock. The lie: an oplock
// break in progress, with a handle. In the last move's runs, as Windows and a Samba share answer
// while another program holds it, a name looked for after its removal is "delete pending": a file
// whose name is gone (it counts as deleted), and a folder filled once asked to go (it stays).
NTSTATUS NTAPI OpenInTurn(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                          PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG attributes,
                          ULONG sharing, ULONG disposition, ULONG options, PVOID ea, ULONG eaLength)
{
    static bool removingFile; // what the last open for removal opened
    NTSTATUS opened = g_open.real(handle, access, object, status, size, attributes, sharing,
                                  disposition, options, ea, eaLength);
    if ((~options & (FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED)) != 0) {
        Break("each name is opened inside the folder above it, not following a link, and never "
              "waiting for an oplock",
              "an open with options " + std::to_string(options));
    }
    removingFile = access & DELETE ? (options & FILE_NON_DIRECTORY_FILE) != 0 : removingFile;
    bool lookUp = (options & kFolderOrFile) == 0 && g_run.move == kFilled && g_run.sweep == kRace;
    bool pending = lookUp && (removingFile ? opened == (NTSTATUS)0xC0000034 // no such name
                                           : NameOpened(object) == g_run.filled);
    if (pending && opened >= 0) {
        CloseHandle(*handle);
    }
    g_run.could = g_run.sweep == kLie && opened == 0;
    if (g_run.lie == 0 && opened == 0) {
        Tell(kOplockLie, *handle);
    }
    return pending ? 0xC0000056 : g_run.lie == 0 && opened == 0 ? 0x108 : opened;
}

// A final path that differs from the true one only by a trailing dot or space, which names
// another object, or in the case of its last name's first letter, which names the same one.
DWORD WINAPI FinalPathInTurn(HANDLE file, LPWSTR path, DWORD size, DWORD flags)
{
    DWORD length = g_finalPath.real(file, path, size, flags);
    WCHAR *name = length > 0 && length + 1 < size ? wcsrchr(path, L'\\') : nullptr;
    WCHAR *letter = name ? std::find_if(name, path + length, iswalpha) : path + length;
    g_run.could = g_run.sweep == kLie && letter < path + length ? 3 : 0;
    if (g_run.lie >= 0) {
        Tell(kFinalPathLies + g_run.lie, file, g_run.lie < 2);
        *letter ^= g_run.lie == 2 ? 0x20 : 0;
        path[length] = L". "[g_run.lie]; // the terminator where the case changes
        length += g_run.lie < 2;
        path[length] = L'\0';
    }
    return length;
}

// Win32 parsing that would change a path: it answers the path without its last character.
DWORD WINAPI FullPathInTurn(LPCWSTR path, DWORD size, LPWSTR full, LPWSTR *part)
{
    DWORD length = g_fullPath.real(path, size, full, part);
    g_run.could = g_run.sweep == kLie && length > 3 && length < size;
    if (g_run.lie == 0) {
        Tell(kFullPathLie, NULL);
        g_run.reparsed.assign(path, path + wcslen(path)); // ASCII past the temporary folder
        full[--length] = L'\0';
    }
    return length;
}

// The listing lies' pages in kLies' order, entries (offset, next, length, name) that read as an
// empty folder but for one rule each breaks; a name of no characters has a "." on either side.
struct Listed {
    DWORD at, next, length;
    const wchar_t *name;
};
const Listed kPages[][3] = {{{0, 112, 1, L"."}},
                            {{0, 112, 1, L"."}, {112, 224, 2, L".."}, {224, 0, 1, L"~"}},
                            {{0, 112, 1, L"."}, {112, 0, 3, L"..."}},
                            {{0, 112, 1, L"."}, {112, 0, 0, L"."}},
                            {{0, 112, 1, L"."}, {112, 0, 2, L".k"}},
                            {{0, 112, 1, L"."}, {112, 0, 2, L"k."}},
                            {{0, 116, 1, L"."}, {116, 0, 2, L".."}},
                            {{0, 224, 1, L"."}, {224, 0u - 112, 2, L".."}, {112, 0, 1, L"."}},
                            {{0, 1016, 1, L"."}}};

BOOL WINAPI ListingInTurn(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    bool listing = kind == FileIdBothDirectoryInfo && size >= 1024;
    g_run.could = g_run.sweep == kLie && listing ? std::size(kLies) - kListingLies : 0;
    if (g_run.lie < 0 || !listing) {
        return g_information.real(file, kind, info, size);
    }
    Tell(kListingLies + g_run.lie, file);
    SetLastError(ERROR_UNEXP_NET_ERR);
    BYTE page[1024] = {};
    const Listed *pageLied = kPages[std::max(g_run.lie - 1, 0)];
    for (const Listed *entry = pageLied; entry < pageLied + 3 && entry->name; ++entry) {
        auto *listed = (FILE_ID_BOTH_DIR_INFO *)(page + entry->at);
        listed->NextEntryOffset = entry->next;
        listed->FileNameLength = entry->length * sizeof(WCHAR);
        listed->FileId.QuadPart = (LONGLONG)L'.' << 48; // the character before the name
        wcscpy(listed->FileName, entry->name);
    }
    size_t written = g_run.lie == 1 ? offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + 2 : size;
    memcpy(info, page, g_run.lie > 0 ? written : 0);
    return g_run.lie > 0;
}

// Whatever a file system would do, no folder is asked to go while it lists anything but "." and
// "..", from the start, through the handle asked. In the last move's runs, a file is written into
// the k-th call's folder just after it was asked to go, as Wine and a Samba share allow.
BOOL WINAPI DispositionWatched(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    alignas(8) BYTE page[4096]; // the entries' own alignment
    bool folder = IsFolder(file);
    for (auto listing = FileIdBothDirectoryRestartInfo;
         folder && g_information.real(file, listing, page, sizeof page);
         listing = FileIdBothDirectoryInfo) {
        for (DWORD at = 0, next = 1; next != 0; at += next) {
            auto *entry = (FILE_ID_BOTH_DIR_INFO *)(page + at);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
            next = entry->NextEntryOffset;
            if (name != L"." && name != L"..") {
                Break("a folder is removed only when it is seen empty",
                      FinalPathOf(file) + " lists " + std::string(name.begin(), name.end()));
            }
        }
    }
    BOOL done = g_disposition.real(file, kind, info, size);
    bool filling = done && folder && g_run.move == kFilled && g_run.sweep == kRace;
    g_run.could = filling && g_run.turn == 0;
    if (filling && g_run.turn == g_run.calls) {
        g_run.filled = FinalPathOf(file);
        g_run.made.push_back(g_run.filled + "\\" + kMoves[kFilled].makes[0]);
        PutFile(g_run.made.back());
    }
    return done;
}

// Has the sweep's mover run a command in the sweep's folder, and waits until it has.
bool OnLinux(const std::string &command)
{
    std::string request = g_sweep.folder + "\\move";
    return Uncounted([&] {
        std::string install = g_run.install.substr(g_sweep.folder.size() + 1);
        PutFile(request + ".new", command == "exit"
                                      ? command
                                      : "i='" + install + "' d=Desktop/Kessamar.lnk; " + command);
        MoveFileA((request + ".new").c_str(), request.c_str());
        for (DWORD start = GetTickCount();
             Exists(request) && GetTickCount() - start < kPatienceMs;) {
            Sleep(1);
        }
        return !Exists(request) && !Exists(request + ".failed");
    });
}

void MakeMove()
{
    g_run.broken = OnLinux(kMoves[g_run.move].command) ? g_run.broken : "the move was not made";
    for (const char *made : kMoves[g_run.move].makes) {
        if (made && Uncounted([&] { return Exists(g_run.install + "\\" + made); })) {
            g_run.made.push_back(g_run.install + "\\" + made);
        }
    }
}

// The promises a run keeps, each worded as the README words it; "" when it kept them all, or the
// first it broke, with what the report says and what the disk holds.
std::string BrokenPromise(const UninstallReport &report)
{
    const Run &run = g_run;
    bool raced = run.sweep == kRace && run.turn > 0;
    auto now = [&](std::string relative) { // where the add-on's files are now
        if (raced && run.move == kMapsRelinked && relative.compare(0, 4, "Maps") == 0) {
            relative.insert(4, ".away");
        }
        return run.install + (raced && run.move == kInstallRelinked ? ".away\\" : "\\") + relative;
    };
    auto there = [&](const std::string &path) { // a removal not looked for again counts as kept
        return Exists(path) || std::count(run.unseen.begin(), run.unseen.end(), path) > 0;
    };
    auto all = [&](const std::vector<std::string> &paths) {
        return std::all_of(paths.begin(), paths.end(), Exists);
    };
    int deleted = 0, found = 0, scanned = g_uninstall.foundCount;
    bool complete = Reads(report.statusText, kComplete, deleted, found);
    bool none = !strcmp(report.statusText, kNoFilesDeleted);
    bool known = complete || none || Reads(report.statusText, kIncomplete, deleted, found);
    found = complete ? deleted : none ? scanned : found;

    std::string shortcut = run.desktop + "\\Kessamar.lnk", sibling = g_sweep.folder + "\\sibling";
    int gone = g_uninstall.desktopShortcutFound && !there(shortcut);
    std::vector<std::string> layout = {now(""), shortcut}, others = {now("Readme.txt")},
                             linked = {g_sweep.folder + "\\outside.kx"};
    for (int row = 0; row < kRowCount; ++row) {
        layout.push_back(now(kInstalledFiles[row]));
        gone += g_uninstall.found[row] && !there(layout.back());
        linked.push_back(sibling + "\\" + kInstalledFiles[row]);
    }
    bool foldersLeft = false, handleLeft = false;
    for (const char *added : kAddOnFolders) {
        layout.push_back(now(added));
        foldersLeft = foldersLeft || (there(layout.back()) && strcmp(added, "Save") != 0);
    }
    const char *folderText = foldersLeft          ? kFoldersLeft
                             : there(now("Save")) ? kSavegamesKept
                                                  : kAllFoldersGone;
    others.insert(others.end(), run.made.begin(), run.made.end());
    if (run.layout == kGameFolder) {
        others.insert(others.end(), {now("Save\\Slot1.ksav"), now("Maps\\Game.kx")});
    }
    for (const std::string &path : layout) { // any handle left would refuse sharing
        HANDLE alone = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, NULL);
        handleLeft |= alone == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
        CloseHandle(alone);
    }
    int held = (g_uninstall.installFolder[0] ? kRowCount : 0) + g_uninstall.desktopShortcutFound;
    const struct {
        const char *words;
        bool kept;
    } promises[] = {
        {"the report is what the disk holds",
         known && deleted == gone && found == scanned && !strcmp(report.folderText, folderText)},
        {"nothing behind a link is deleted", all(linked)},
        {"nothing but the add-on's files is deleted", all(others)},
        {"an answer it cannot be sure of keeps the file or folder", all(run.mustStay)},
        {"a name the disk holds in another case is still its own",
         std::none_of(run.mustGo.begin(), run.mustGo.end(), Exists)},
        {"it works on the folder it was started in, or on none",
         run.sweep != kLie || found == held},
        {"a path that Win32 parsing would change is never used as it is",
         run.reparsed.empty() ||
             (g_uninstall.installFolder != run.reparsed &&
              g_uninstall.desktopShortcutPath != run.reparsed + "\\Kessamar.lnk")},
        {"nothing below the held folders is left open", !handleLeft},
        {"with nothing in the way, every file it found goes, and every folder they leave empty",
         run.turn > 0 ||
             (complete && deleted == kRowCount + 1 &&
              folderText == (run.layout == kGameFolder ? kFoldersLeft : kAllFoldersGone))},
    };
    std::string broken = run.broken;
    for (const auto &promise : promises) {
        broken =
            broken.empty() && !promise.kept ? "\"" + std::string(promise.words) + "\"" : broken;
    }
    return broken.empty() ? ""
                          : broken + "; it said: " + report.statusText + " / " + report.folderText +
                                "; on disk: " + std::to_string(gone) + " gone / " + folderText;
}

// An installation and a desktop shortcut, beside a sibling holding files of the rows' names and a
// file outside both, held, scanned and removed again and again, each call in turn failing, lying
// or raced.
void SweepEveryCall(const std::string &folder, Sweep sweep, Layout layout, int move = 0)
{
    std::string desktop = folder + "\\Desktop";
    LayOutInstallation(folder + "\\sibling", kEveryRow, true, true);
    LayOutInstallation(folder + "\\layout", kEveryRow, true, layout == kGameFolder);
    CreateDirectoryA(desktop.c_str(), NULL);
    if (layout == kGameFolder) {
        PutFile(folder + "\\layout\\Maps\\Game.kx");
    }
    PutFile(folder + "\\outside.kx", "outside");
    g_sweep = {};
    g_sweep.folder = folder;
    g_queryObject = (decltype(&NtQueryObject))(void (*)(void))GetProcAddress(
        GetModuleHandleA("ntdll.dll"), "NtQueryObject");
    ASSERT_TRUE(
        StartOnLinux(folder, "exec /usr/bin/python3 '" KESSAMAR_MOVER "' . >/dev/null 2>&1"));
    int calls = 0, runs = 0, held = 0;
    std::string broken;
    {
        std::tuple<InTurn<g_createFile>, InTurn<g_finalPath, FinalPathInTurn>,
                   InTurn<g_information, ListingInTurn>, InTurn<g_disposition, DispositionWatched>,
                   InTurn<g_compare>, InTurn<g_toAnsi>, InTurn<g_fromAnsi>,
                   InTurn<g_fullPath, FullPathInTurn>, InTurn<g_exists>, InTurn<g_desktop>,
                   InTurn<g_desktopPath, DesktopOfTheSweep>, InTurn<g_module>, InTurn<g_lookUp>>
            everyCall;
        g_openStandIn = &InTurn<g_open, OpenInTurn>::Call;
        g_queryStandIn = &InTurn<g_query>::Call;
        ImportPatch lookUp("GetProcAddress", &LookUpStandIns, g_realLookUp);
        for (int k = 0; k <= calls && broken.empty(); ++k) { // nothing fails the first time
            for (int variant = 0; variant < (k ? g_sweep.could[k - 1] : 1) && broken.empty();
                 ++variant) {
                // As long as "sibling": only a step's whole final path tells them apart.
                std::string install = folder + "\\run" + std::to_string(10000 + runs).substr(1);
                g_run = Run{sweep, layout, k, variant, move, install, desktop};
                bool laidOut =
                    OnLinux("cp -r layout $i && echo KS >$d"); // quicker than through Wine
                ResetUninstallState();
                SetCurrentDirectoryA(g_run.install.c_str());
                g_run.counting = true;
                PlatformPinCurrentFolder(g_uninstall.installFolder);
                ScanInstallation();
                UninstallReport report = RunUninstall(g_uninstall.desktopShortcutFound);
                g_run.counting = false;
                PlatformUnpinFolders();
                SetCurrentDirectoryA(folder.c_str());
                broken = !laidOut ? "not laid out" : BrokenPromise(report);
                broken = k && sweep == kLie && !strcmp(g_run.told, "none") ? "no lie told" : broken;
                calls = k == 0 ? g_run.calls : calls;
                runs += k > 0;
                held += k > 0 && broken.empty();
                broken = OnLinux("rm -rf $i $i.away $d") ? broken : "not cleaned up";
            }
        }
        g_queryStandIn = nullptr;
    }
    OnLinux("exit");
    const char *const done[] = {"calls failed", "lies told", "moves raced"};
    printf("%d %s in turn: %d held\n", runs, done[sweep], held);
    EXPECT_GT(calls, 100);
    EXPECT_EQ(g_sweep.missing + (g_open.real && g_query.real ? "" : " ntdll's"), "")
        << "not stood in for";
    for (size_t lie = 0; lie < std::size(kLies) && sweep == kLie && broken.empty(); ++lie) {
        EXPECT_GT(g_sweep.told[lie], 0) << "never told: " << kLies[lie];
    }
    const char *raced = sweep == kRace ? kMoves[move].command : "nothing";
    EXPECT_EQ(broken, "") << "call " << g_run.turn << " (" << g_run.call << ") told " << g_run.told
                          << ", raced by " << raced;
}

// A sweep has a folder and a desktop of its own, and draws nothing: it may run beside other tests.
class EngineSweep : public ::testing::Test {
  protected:
    void SetUp() override { folder = NewTestFolder(); }
    void TearDown() override
    {
        SetCurrentDirectoryA(BesideThisProgram("").c_str()); // so that its folder can go
        RemoveTree(folder);
    }
    std::string folder;
};

// clang-format off
TEST_F(EngineSweep, EveryCallFailingInTurnInAGameFolder) { SweepEveryCall(folder, kFail, kGameFolder); }
TEST_F(EngineSweep, EveryCallFailingInTurnInACleanInstallation) { SweepEveryCall(folder, kFail, kClean); }
TEST_F(EngineSweep, EveryCallLyingInTurnInAGameFolder) { SweepEveryCall(folder, kLie, kGameFolder); }
TEST_F(EngineSweep, EveryCallLyingInTurnInACleanInstallation) { SweepEveryCall(folder, kLie, kClean); }
TEST_F(EngineSweep, EveryCallRacedByMapsRelinkedToTheSibling) { SweepEveryCall(folder, kRace, kClean, kMapsRelinked); }
TEST_F(EngineSweep, EveryCallRacedByARowRelinkedOutside) { SweepEveryCall(folder, kRace, kClean, kRowRelinked); }
TEST_F(EngineSweep, EveryCallRacedByTheInstallFolderRelinked) { SweepEveryCall(folder, kRace, kClean, kInstallRelinked); }
TEST_F(EngineSweep, EveryCallRacedByFilesDroppedIntoSystemAndSave) { SweepEveryCall(folder, kRace, kClean, kFilesDropped); }
TEST_F(EngineSweep, EveryCallRacedByTheDesktopShortcutRelinked) { SweepEveryCall(folder, kRace, kClean, kShortcutRelinked); }
TEST_F(EngineSweep, EveryCallRacedByAFolderFilledOnceAskedToGo) { SweepEveryCall(folder, kRace, kClean, kFilled); }
// clang-format on

} // namespace
