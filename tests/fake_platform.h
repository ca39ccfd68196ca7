// An in-memory file system standing in for the engine's platform operations in host tests.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

// Ordered with a transparent comparison, so that lookups by C string allocate nothing.
using Names = std::set<std::string, std::less<>>;

struct FakePlatform {
    Names files;
    Names folders;
    Names locked;        // deleting these fails, as for read-only files
    Names linked;        // folders that are links to folders elsewhere: nothing goes through them
    std::string desktop; // empty: the desktop folder cannot be had
    bool logCalls = true;
    std::vector<std::string> calls; // "desktop", "exists P", "delete P", "rmdir P", "same P Q"
    const Names *allowed = nullptr; // when set, every other path is a stray
    int strayTouches = 0;
};

extern FakePlatform g_fake;

// Empties the fake and puts the engine's state record back to its start-up values.
void ResetEngine();

// Adds a file and every folder above it.
void AddFile(const std::string &path);
void AddFolder(const std::string &path);
