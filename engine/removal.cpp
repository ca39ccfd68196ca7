// The removal of what the scan found, and the report of how it went.
#include <string.h>

#include "platform.h"

static const char *const kContentFolderPatterns[] = {
    "%s\\System",
    "%s\\Music",
    "%s\\Textures",
    "%s\\Maps",
};
const char kSaveFolderPattern[] = "%s\\Save";
// The install folder's shortcut, named as the desktop shortcut is: "%s\\Kessamar.lnk".
const int kShortcutRow = kExpectedFiles - 1;

static void DeleteFoundFiles()
{
    for (int row = 0; row < kExpectedFiles; ++row) {
        if (!g_uninstall.found[row]) {
            continue;
        }
        char path[kPathSize];
        if (!ComposePath(path, InstallManifest[row].pattern, g_uninstall.installFolder) ||
            !PlatformDeleteFile(path, strlen(g_uninstall.installFolder))) {
            ++g_uninstall.failureCount;
        }
    }
}

// The desktop folder's part of the shortcut's path, the root it is compared and deleted inside;
// 0 when there is none.
static size_t DesktopFolderLength()
{
    const char *name = strrchr(g_uninstall.desktopShortcutPath, '\\');
    return name ? name - g_uninstall.desktopShortcutPath : 0;
}

// Started on the desktop, the program finds the desktop shortcut also as the install folder's
// shortcut: one file, which the rows delete and count.
static bool DesktopShortcutIsARow()
{
    char row[kPathSize];
    size_t desktopLength = DesktopFolderLength();
    return g_uninstall.desktopShortcutFound && g_uninstall.found[kShortcutRow] &&
           desktopLength > 0 &&
           ComposePath(row, InstallManifest[kShortcutRow].pattern, g_uninstall.installFolder) &&
           PlatformSameFile(row, strlen(g_uninstall.installFolder), g_uninstall.desktopShortcutPath,
                            desktopLength);
}

static void DeleteDesktopShortcut()
{
    // Only the path the scan found is ever deleted, inside the desktop folder it was composed
    // from; the shortcut counts as found either way.
    size_t desktopLength = DesktopFolderLength();
    if (!g_uninstall.desktopShortcutFound || desktopLength == 0 ||
        !PlatformDeleteFile(g_uninstall.desktopShortcutPath, desktopLength)) {
        ++g_uninstall.failureCount;
    }
    ++g_uninstall.foundCount;
}

// A folder whose path does not fit counts as one that could not be removed.
static bool RemoveInstallSubfolder(const char *pattern)
{
    char path[kPathSize];
    return ComposePath(path, pattern, g_uninstall.installFolder) &&
           PlatformRemoveFolder(path, strlen(g_uninstall.installFolder));
}

static void ComposeStatusText(UninstallReport &report)
{
    int failures = g_uninstall.failureCount;
    int found = g_uninstall.foundCount;
    if (failures == 0 && found > 0) {
        FormatText(report.statusText, sizeof report.statusText,
                   "Uninstallation complete. %i files deleted", found);
    } else if (found == failures) {
        FormatText(report.statusText, sizeof report.statusText, "No files deleted");
    } else {
        FormatText(report.statusText, sizeof report.statusText,
                   "Uninstallation incomplete: %i of %i found files deleted", found - failures,
                   found);
    }
}

UninstallReport RunUninstall(bool deleteDesktopShortcut)
{
    UninstallReport report;
    // Asked before the rows go: afterwards the one file is gone under both names.
    bool shortcutIsARow = deleteDesktopShortcut && DesktopShortcutIsARow();
    DeleteFoundFiles();
    if (deleteDesktopShortcut && !shortcutIsARow) {
        DeleteDesktopShortcut();
    }

    bool foldersLeft = false;
    for (const char *pattern : kContentFolderPatterns) {
        if (!RemoveInstallSubfolder(pattern)) {
            foldersLeft = true;
        }
    }
    // Tried last and alone: the platform removes it only when no savegame is left inside.
    bool savegamesKept = !RemoveInstallSubfolder(kSaveFolderPattern);
    g_uninstall.removalDone = true;

    ComposeStatusText(report);
    const char *folderText = foldersLeft     ? "Not all folders have been deleted"
                             : savegamesKept ? "Savegame folder was not deleted"
                                             : "Savegame folder deleted, there were no savegames.";
    FormatText(report.folderText, sizeof report.folderText, "%s", folderText);
    FormatText(report.buttonLabel, sizeof report.buttonLabel, "Exit");
    return report;
}
