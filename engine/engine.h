// Uninstall engine: the fixed manifest, the process-wide state record, the scan and the removal.
#pragma once

#include <stddef.h>

const int kPathSize = 260;        // MAX_PATH, terminator included
const int kReportTextSize = 100;  // each text of an UninstallReport
const int kStatusTextSize = 1024; // the start-up status text
const int kExpectedFiles = 15;    // rows of InstallManifest

struct ManifestEntry {
    const char *pattern; // "%s" receives the install folder
};

extern const ManifestEntry InstallManifest[kExpectedFiles];

// Shared by the scan, the removal and the dialog for the whole process; never reset.
struct UninstallState {
    char installFolder[kPathSize]; // empty when the current folder could not be read
    bool found[kExpectedFiles];
    int foundCount;
    int failureCount;
    bool desktopShortcutFound;
    char desktopShortcutPath[kPathSize];
    bool nothingFound;
    bool removalDone;
};

extern UninstallState g_uninstall;

struct UninstallReport {
    char statusText[kReportTextSize];
    char folderText[kReportTextSize];
    char buttonLabel[kReportTextSize];
};

// printf-style formatting into a fixed buffer. Fails, leaving the text empty, when the result
// would not fit: a cut text could say, or name, something else.
bool FormatText(char *text, size_t textSize, const char *format, ...);

// Fills path from pattern and folder. Fails, leaving path empty, when the folder is empty
// or the result would not fit: a cut path could name a different file.
bool ComposePath(char (&path)[kPathSize], const char *pattern, const char *folder);

void ScanInstallation();

// The first status line for a found count, or false when the template's text stays.
bool StartupStatusText(int foundCount, char *text, size_t textSize);

UninstallReport RunUninstall(bool deleteDesktopShortcut);
