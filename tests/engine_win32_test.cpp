// Engine tests on Wine's real file system, through the real Win32 calls.
#include <gtest/gtest.h>
#include <string.h>

#include "engine.h"
#include "engine_reset.h"
#include "wine_files.h"

namespace {

class EngineOnDisk : public InstallFolderTest {
  protected:
    void SetUp() override
    {
        InstallFolderTest::SetUp();
        ResetUninstallState();
        ASSERT_LT(folder.size(), sizeof g_uninstall.installFolder);
        strcpy(g_uninstall.installFolder, folder.c_str());
    }
};

TEST_F(EngineOnDisk, FullInstallationGoesAndTheSavegameStays)
{
    LayOutInstallation(folder, kEveryRow, true, true);
    PutFile(DesktopShortcut());

    ScanInstallation();
    EXPECT_EQ(g_uninstall.foundCount, 15);
    EXPECT_TRUE(g_uninstall.desktopShortcutFound);
    EXPECT_STREQ(g_uninstall.desktopShortcutPath, DesktopShortcut().c_str());

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

// Near the path limit only the three shortest rows fit; the rest are missing, not probed cut short.
TEST_F(EngineOnDisk, RowsBeyondThePathLimitAreMissing)
{
    std::string deep = folder + "\\" + std::string(239 - folder.size(), 'd');
    ASSERT_EQ(deep.size(), 240u);
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL));
    strcpy(g_uninstall.installFolder, deep.c_str());
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
    strcpy(g_uninstall.installFolder, install.c_str());

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

} // namespace
