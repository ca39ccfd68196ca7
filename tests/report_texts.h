// The report's texts, written down apart from the engine's code, and how a test reads them.
#pragma once

#include <stdio.h>

#include <string>

const char kComplete[] = "Uninstallation complete. %i files deleted";
const char kIncomplete[] = "Uninstallation incomplete: %i of %i found files deleted";
const char kNoFilesDeleted[] = "No files deleted";
const char kFoldersLeft[] = "Not all folders have been deleted";
const char kSavegamesKept[] = "Savegame folder was not deleted";
const char kAllFoldersGone[] = "Savegame folder deleted, there were no savegames.";

// A status text with its counts.
inline std::string Counted(const char *form, int deleted, int found = 0)
{
    char text[100];
    snprintf(text, sizeof text, form, deleted, found);
    return text;
}

// True when the text is in that form, whose counts it then gives.
inline bool Reads(const char *text, const char *form, int &deleted, int &found)
{
    return sscanf(text, form, &deleted, &found) >= 1 && Counted(form, deleted, found) == text;
}
