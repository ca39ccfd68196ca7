// The removal of what the scan found, and the report of how it went.
#include "platform.h"

static const char *const kContentFolderPatterns[] = {
    "%s\\System",
    "%s\\Music",
    "%s\\Textures",
    "%s\\Maps",
};
const char kSaveFolderPattern[] = "%s\\Save";

static void DeleteFoundFiles()
{
    for (int row = 0; row < kExpectedFiles; ++row) {
        if (!g_uninstall.found[row]) {
            continue;
        }
        char path[kPathSize];
        if (!ComposePath(path, InstallManifest[row].pattern, g_uninstall.installFolder) ||
            !PlatformDeleteFile(path)) {
            ++g_uninstall.failureCount;
        }
    }
}

static void DeleteDesktopShortcut()
{
    // Only the path the scan found is ever deleted; the shortcut counts as found either way.
    if (!g_uninstall.desktopShortcutFound || !PlatformDeleteFile(g_uninstall.desktopShortcutPath)) {
        ++g_uninstall.failureCount;
    }
    ++g_uninstall.foundCount;
}

// A folder whose path does not fit counts as one that could not be removed.
static bool RemoveInstallSubfolder(const char *pattern)
{
    char path[kPathSize];
    return ComposePath(path, pattern, g_uninstall.installFolder) && PlatformRemoveFolder(path);
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
    DeleteFoundFiles();
    if (deleteDesktopShortcut) {
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
