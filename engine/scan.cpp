// The start-up scan of the install folder and the desktop, and the status text it leads to.
#include <string.h>

#include "platform.h"

const char kShortcutPattern[] = "%s\\Kessamar.lnk";

static void FindDesktopShortcut()
{
    char desktop[kPathSize];
    char shortcut[kPathSize];
    if (!PlatformDesktopFolder(desktop)) {
        return;
    }
    if (!ComposePath(shortcut, kShortcutPattern, desktop) || !PlatformExists(shortcut)) {
        return;
    }
    g_uninstall.desktopShortcutFound = true;
    memcpy(g_uninstall.desktopShortcutPath, shortcut, sizeof shortcut);
}

void ScanInstallation()
{
    FindDesktopShortcut();
    for (int row = 0; row < kExpectedFiles; ++row) {
        char path[kPathSize];
        // A row whose path cannot be composed is treated as missing, never probed cut short.
        bool present = ComposePath(path, InstallManifest[row].pattern, g_uninstall.installFolder) &&
                       PlatformExists(path);
        g_uninstall.found[row] = present;
        if (!present) {
            --g_uninstall.foundCount;
        }
    }
    if (g_uninstall.foundCount == 0) {
        g_uninstall.nothingFound = true;
    }
}

bool StartupStatusText(int foundCount, char *text, size_t textSize)
{
    if (foundCount == kExpectedFiles) {
        return false;
    }
    if (foundCount == 0) {
        return FormatText(text, textSize, "Warning: No installed files found.");
    }
    return FormatText(text, textSize, "Only %i/%i files found. It's safe to proceed though",
                      foundCount, kExpectedFiles);
}
