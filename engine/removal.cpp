// The removal of what the scan found, and the report of how it went.
#include <stdarg.h>
#include <stdio.h>

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

// Report texts are short; one that would not fit is left empty rather than cut.
static void SetText(char (&text)[kReportTextSize], const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0 || length >= kReportTextSize) {
        text[0] = '\0';
    }
}

static void ComposeStatusText(UninstallReport &report)
{
    int failures = g_uninstall.failureCount;
    int found = g_uninstall.foundCount;
    if (failures == 0 && found > 0) {
        SetText(report.statusText, "Uninstallation complete. %i files deleted", found);
    } else if (found == failures) {
        SetText(report.statusText, "No files deleted");
    } else {
        SetText(report.statusText, "Uninstallation incomplete: %i of %i found files deleted",
                found - failures, found);
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
    if (foldersLeft) {
        SetText(report.folderText, "Not all folders have been deleted");
    } else if (savegamesKept) {
        SetText(report.folderText, "Savegame folder was not deleted");
    } else {
        SetText(report.folderText, "Savegame folder deleted, there were no savegames.");
    }
    SetText(report.buttonLabel, "Exit");
    return report;
}
