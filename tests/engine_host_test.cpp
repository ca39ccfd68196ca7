// Engine tests against the in-memory platform: status texts, reports, call order, a model check.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "engine.h"
#include "fake_platform.h"
#include "installed_files.h"
#include "report_texts.h"

namespace {

const std::string kInstall = "C:\\Games\\Host";
const std::string kDesktop = "C:\\Users\\Player\\Desktop";
const std::string kDesktopShortcut = kDesktop + "\\Kessamar.lnk";

std::string Row(int row, const std::string &folder = kInstall)
{
    return folder + "\\" + kInstalledFiles[row];
}

std::string Sub(const char *name)
{
    return kInstall + "\\" + name;
}

struct Layout {
    unsigned presentRows = kEveryRow;
    bool desktopShortcut = false;
    bool emptyFolders = true; // all five folders exist even where no row lies
    bool savegame = false;    // Save holds a savegame
    unsigned lockedRows = 0;  // their deletion fails
    bool lockShortcut = false;
    unsigned linkedFolders = 0;    // of kAddOnFolders, by index
    bool startedOnDesktop = false; // the install folder is the desktop folder
};

void LayOut(const Layout &layout)
{
    ResetEngine();
    strcpy(g_uninstall.installFolder, kInstall.c_str());
    g_fake.desktop = layout.startedOnDesktop ? kInstall : kDesktop;
    AddFolder(kInstall);
    AddFolder(kDesktop);
    for (int folder = 0; folder < 5; ++folder) {
        if (layout.emptyFolders) {
            AddFolder(Sub(kAddOnFolders[folder]));
        }
        if (layout.linkedFolders >> folder & 1) {
            g_fake.linked.insert(Sub(kAddOnFolders[folder]));
        }
    }
    if (layout.savegame) {
        AddFile(Sub("Save\\Slot1.sav"));
    }
    for (int row = 0; row < kExpectedFiles; ++row) {
        if (layout.presentRows & (1u << row)) {
            AddFile(Row(row));
        }
        if (layout.lockedRows & (1u << row)) {
            g_fake.locked.insert(Row(row));
        }
    }
    if (layout.desktopShortcut) {
        AddFile(kDesktopShortcut);
    }
    if (layout.lockShortcut) {
        g_fake.locked.insert(kDesktopShortcut);
    }
}

TEST(StartupStatus, TextAndNothingFoundFlagForEachFoundCount)
{
    struct Case {
        int found;
        const char *text; // nullptr: the template's "All files found" stays
    } cases[] = {
        {0, "Warning: No installed files found."},
        {1, "Only 1/15 files found. It's safe to proceed though"},
        {10, "Only 10/15 files found. It's safe to proceed though"},
        {14, "Only 14/15 files found. It's safe to proceed though"},
        {15, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.found);
        LayOut({(1u << c.found) - 1, true}); // a desktop shortcut never counts at scan time
        ScanInstallation();
        EXPECT_EQ(g_uninstall.foundCount, c.found);
        EXPECT_EQ(g_uninstall.nothingFound, c.found == 0);
        EXPECT_TRUE(g_uninstall.desktopShortcutFound);
        EXPECT_STREQ(g_uninstall.desktopShortcutPath, kDesktopShortcut.c_str());

        UninstallState before = g_uninstall;
        char text[kStatusTextSize] = "untouched";
        EXPECT_EQ(StartupStatusText(g_uninstall.foundCount, text, sizeof text), c.text != nullptr);
        EXPECT_STREQ(text, c.text ? c.text : "untouched");
        EXPECT_EQ(memcmp(&before, &g_uninstall, sizeof before), 0) << "the text changes no state";
    }
}

TEST(Report, TextsForEachOutcome)
{
    const unsigned row3 = 1u << 2, row15 = 1u << 14;
    struct Case {
        const char *name;
        Layout layout;
        bool box;
        std::string status;
        const char *folders;
        bool loseRow1AfterScan = false;
    } cases[] = {
        // clang-format off
        {"everything, shortcut deleted", {kEveryRow, true}, true,
         Counted(kComplete, 16), kAllFoldersGone},
        {"everything, box unchecked", {kEveryRow, true}, false,
         Counted(kComplete, 15), kAllFoldersGone},
        {"read-only row", {kEveryRow, false, true, false, row3}, false,
         Counted(kIncomplete, 14, 15), kFoldersLeft},
        {"read-only row, shortcut deleted", {kEveryRow, true, true, false, row3}, true,
         Counted(kIncomplete, 15, 16), kFoldersLeft},
        {"read-only shortcut in the install folder", {kEveryRow, false, true, false, row15}, false,
         Counted(kIncomplete, 14, 15), kAllFoldersGone},
        {"every deletion fails", {kEveryRow, true, true, false, kEveryRow, true}, true,
         kNoFilesDeleted, kFoldersLeft},
        {"desktop shortcut deletion fails", {kEveryRow, true, true, false, 0, true}, true,
         Counted(kIncomplete, 15, 16), kAllFoldersGone},
        {"nothing found", {0, false, false}, false,
         kNoFilesDeleted, kFoldersLeft},
        {"nothing found but the desktop shortcut", {0, true, false}, true,
         Counted(kComplete, 1), kFoldersLeft},
        {"savegames kept", {kEveryRow, false, true, true}, false,
         Counted(kComplete, 15), kSavegamesKept},
        {"no Save folder", {kEveryRow, false, false}, false,
         Counted(kComplete, 15), kSavegamesKept},
        {"Save is a linked folder", {kEveryRow, false, true, false, 0, false, 1u << 4}, false,
         Counted(kComplete, 15), kSavegamesKept},
        {"Maps is a linked folder: nothing behind it goes",
         {kEveryRow, false, true, false, 0, false, 1u << 3}, false,
         Counted(kIncomplete, 9, 15), kFoldersLeft},
        {"started on the desktop: its shortcut is row 15, one file",
         {row15, false, false, false, 0, false, 0, true}, true,
         Counted(kComplete, 1), kFoldersLeft},
        {"a file vanished after the scan", {kEveryRow, false, true}, false,
         Counted(kIncomplete, 14, 15), kAllFoldersGone, true},
        // clang-format on
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LayOut(c.layout);
        ScanInstallation();
        if (c.loseRow1AfterScan) {
            g_fake.files.erase(Row(0));
        }
        UninstallReport report = RunUninstall(c.box);
        EXPECT_EQ(report.statusText, c.status);
        EXPECT_STREQ(report.folderText, c.folders);
        EXPECT_STREQ(report.buttonLabel, "Exit");
        EXPECT_TRUE(g_uninstall.removalDone);
        EXPECT_EQ(g_fake.files.count(kDesktopShortcut) == 1,
                  c.layout.desktopShortcut && (!c.box || c.layout.lockShortcut));
    }
}

TEST(EngineCalls, OneFullRunTouchesEachPathInOrder)
{
    LayOut({kEveryRow & ~(1u << 1) & ~(1u << 9), true}); // rows 2 and 10 missing
    ScanInstallation();
    RunUninstall(true);

    std::vector<std::string> expected = {"desktop", "exists " + kDesktopShortcut};
    for (int row = 0; row < kExpectedFiles; ++row) {
        expected.push_back("exists " + Row(row));
    }
    expected.push_back("same " + Row(14) + " " + kDesktopShortcut);
    for (int row = 0; row < kExpectedFiles; ++row) {
        if (row != 1 && row != 9) {
            expected.push_back("delete " + Row(row));
        }
    }
    expected.push_back("delete " + kDesktopShortcut);
    for (const char *folder : kAddOnFolders) {
        expected.push_back("rmdir " + Sub(folder));
    }
    EXPECT_EQ(g_fake.calls, expected);
}

struct ModelCase {
    unsigned present, locked;
    bool emptyFolders, savegame, box, shortcutFails;
};

// What the user must be told, worked out from the installer's layout alone.
void ModelReport(const ModelCase &c, int &found, int &failed, std::string &status,
                 std::string &folders)
{
    found = __builtin_popcount(c.present) + c.box;
    failed = __builtin_popcount(c.present & c.locked) + (c.box && c.shortcutFails);
    bool folderLeft = false;
    for (int folder = 0; folder < 4; ++folder) {
        bool held = false, blocked = false;
        for (int row = 0; row < kExpectedFiles; ++row) {
            if (kFileFolder[row] == folder && (c.present >> row & 1)) {
                held = true;
                blocked |= (c.locked >> row & 1) != 0;
            }
        }
        folderLeft |= blocked || (!held && !c.emptyFolders);
    }
    status = failed == 0 && found > 0 ? Counted(kComplete, found)
             : failed == found        ? kNoFilesDeleted
                                      : Counted(kIncomplete, found - failed, found);
    folders = folderLeft ? kFoldersLeft : c.savegame ? kSavegamesKept : kAllFoldersGone;
}

// Every subset of rows, under several failure patterns, against the model. Split by the desktop
// shortcut's fate so that the three runs can go in parallel.
void CheckEverySubset(bool shortcutPresent, bool box)
{
    struct Variant {
        bool emptyFolders, savegame;
        int failures; // 0: none, 1: lowest present row and the shortcut fail, 2: every deletion
    } variants[] = {{true, false, 0}, {false, true, 0}, {true, false, 1}, {false, true, 2}};

    Names allowed = {kDesktopShortcut};
    for (int row = 0; row < kExpectedFiles; ++row) {
        allowed.insert(Row(row));
    }
    for (const char *folder : kAddOnFolders) {
        allowed.insert(Sub(folder));
    }

    int mismatches = 0;
    for (unsigned present = 0; present <= kEveryRow && mismatches < 5; ++present) {
        for (const Variant &v : variants) {
            unsigned lowestRow = present & (0u - present);
            unsigned locked = v.failures == 2 ? kEveryRow : v.failures == 1 ? lowestRow : 0;
            ModelCase c = {present, locked, v.emptyFolders, v.savegame, box, v.failures > 0};
            LayOut(
                {present, shortcutPresent, v.emptyFolders, v.savegame, c.locked, c.shortcutFails});
            g_fake.logCalls = false;
            g_fake.allowed = &allowed;
            ScanInstallation();
            int scanned = g_uninstall.foundCount;
            UninstallReport report = RunUninstall(box);

            int found, failed;
            std::string status, folders;
            ModelReport(c, found, failed, status, folders);
            bool ok = scanned == __builtin_popcount(present) &&
                      g_uninstall.nothingFound == (present == 0) &&
                      g_uninstall.foundCount == found && g_uninstall.failureCount == failed &&
                      0 <= failed && failed <= found && found <= 16 &&
                      report.statusText == status && report.folderText == folders &&
                      g_fake.strayTouches == 0 &&
                      g_fake.files.count(Sub("Save\\Slot1.sav")) == (v.savegame ? 1u : 0u);
            for (int row = 0; row < kExpectedFiles; ++row) {
                ok &= g_uninstall.found[row] == (present >> row & 1);
            }
            if (!ok) {
                ADD_FAILURE() << "rows " << std::hex << present << std::dec << " variant "
                              << (&v - variants) << ": " << report.statusText << " / "
                              << report.folderText;
                ++mismatches;
            }
        }
    }
}

TEST(EngineModel, EverySubsetWithoutDesktopShortcut)
{
    CheckEverySubset(false, false);
}

TEST(EngineModel, EverySubsetWithDesktopShortcutKept)
{
    CheckEverySubset(true, false);
}

TEST(EngineModel, EverySubsetWithDesktopShortcutDeleted)
{
    CheckEverySubset(true, true);
}

// Install folders so long that some paths do not fit: such rows are missing, never probed
// under a cut name, and a folder whose path does not fit counts as left behind.
TEST(MendedFaults, PathsThatDoNotFitAreNeverCutShort)
{
    // 240: the three shortest rows still fit; 252: no row fits, nor does "\Textures".
    for (size_t length : {240, 252}) {
        SCOPED_TRACE(length);
        const std::string longInstall = "C:\\" + std::string(length - 3, 'k');
        ResetEngine();
        strcpy(g_uninstall.installFolder, longInstall.c_str());
        g_fake.desktop = kDesktop;
        for (int row = 0; row < kExpectedFiles; ++row) {
            AddFile(Row(row, longInstall));
        }
        AddFolder(longInstall + "\\Save");
        ScanInstallation();

        int fitting = 0;
        for (int row = 0; row < kExpectedFiles; ++row) {
            bool fits = Row(row, longInstall).size() < size_t(kPathSize);
            fitting += fits;
            EXPECT_EQ(g_uninstall.found[row], fits) << kInstalledFiles[row];
        }
        EXPECT_EQ(fitting, length == 240 ? 3 : 0);
        EXPECT_EQ(g_uninstall.foundCount, fitting);

        UninstallReport report = RunUninstall(false);
        bool texturesTried = false;
        for (const std::string &call : g_fake.calls) {
            if (call == "desktop") {
                continue;
            }
            std::string path = call.substr(call.find(' ') + 1);
            EXPECT_LT(path.size(), size_t(kPathSize)) << call;
            EXPECT_TRUE(path.compare(0, longInstall.size(), longInstall) == 0 ||
                        path == kDesktopShortcut)
                << call;
            texturesTried |= call == "rmdir " + longInstall + "\\Textures";
        }
        EXPECT_EQ(texturesTried, length == 240);
        EXPECT_STREQ(report.folderText, kFoldersLeft);
        EXPECT_EQ(g_fake.folders.count(longInstall + "\\Save"), 0u) << "Save still fits";
    }
}

TEST(MendedFaults, UnreadableInstallFolderTouchesNothing)
{
    LayOut({});
    g_uninstall.installFolder[0] = '\0'; // as the shell leaves it when the folder cannot be read
    AddFile("\\System\\Kessamar.u");     // what a drive-root path would have reached
    ScanInstallation();
    EXPECT_EQ(g_uninstall.foundCount, 0);
    EXPECT_TRUE(g_uninstall.nothingFound);

    UninstallReport report = RunUninstall(false);
    EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"desktop", "exists " + kDesktopShortcut}));
    EXPECT_STREQ(report.statusText, kNoFilesDeleted);
    EXPECT_STREQ(report.folderText, kFoldersLeft);
}

TEST(MendedFaults, DesktopWithoutUsablePathMeansNoShortcut)
{
    for (const std::string &desktop : {std::string(), "C:\\" + std::string(250, 'd')}) {
        LayOut({});
        g_fake.desktop = desktop;
        AddFile("\\Kessamar.lnk");
        ScanInstallation();
        EXPECT_FALSE(g_uninstall.desktopShortcutFound);
        EXPECT_STREQ(g_uninstall.desktopShortcutPath, "");
        for (const std::string &call : g_fake.calls) {
            if (call == "desktop") {
                continue;
            }
            EXPECT_EQ(call.find(kInstall), call.find(' ') + 1) << "probed outside: " << call;
        }
    }
}

} // namespace
