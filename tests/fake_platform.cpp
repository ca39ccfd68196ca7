// The in-memory platform: files, folders, locks and a log of every call the engine makes.
#include "fake_platform.h"

#include <string.h>

#include "engine_reset.h"
#include "platform.h"

FakePlatform g_fake;

void ResetEngine()
{
    g_fake = FakePlatform();
    ResetUninstallState();
}

void AddFolder(const std::string &path)
{
    size_t separator = path.rfind('\\');
    if (separator != std::string::npos && separator > 2) {
        AddFolder(path.substr(0, separator));
    }
    g_fake.folders.insert(path);
}

void AddFile(const std::string &path)
{
    AddFolder(path.substr(0, path.rfind('\\')));
    g_fake.files.insert(path);
}

static void CountStray(const char *path)
{
    if (g_fake.allowed && !g_fake.allowed->count(std::string_view(path))) {
        ++g_fake.strayTouches;
    }
}

static void Touch(const char *operation, const char *path)
{
    if (g_fake.logCalls) {
        g_fake.calls.push_back(std::string(operation) + " " + path);
    }
    CountStray(path);
}

static bool HoldsAnything(const std::string &folder)
{
    std::string prefix = folder + "\\";
    auto inside = [&](const Names &names) {
        auto next = names.lower_bound(prefix);
        return next != names.end() && next->compare(0, prefix.size(), prefix) == 0;
    };
    return inside(g_fake.files) || inside(g_fake.folders);
}

bool PlatformDesktopFolder(char (&path)[kPathSize])
{
    if (g_fake.logCalls) {
        g_fake.calls.push_back("desktop");
    }
    path[0] = '\0';
    if (g_fake.desktop.empty() || g_fake.desktop.size() >= kPathSize) {
        return false;
    }
    strcpy(path, g_fake.desktop.c_str());
    return true;
}

bool PlatformExists(const char *path)
{
    Touch("exists", path);
    std::string_view name(path);
    return g_fake.files.count(name) || g_fake.folders.count(name);
}

// A linked folder below the root, or the object itself when it is a linked folder.
static bool ReachedThroughLink(std::string_view path, size_t rootLength)
{
    size_t end = rootLength;
    do {
        end = path.find('\\', end + 1);
        if (g_fake.linked.count(path.substr(0, end))) {
            return true;
        }
    } while (end != std::string_view::npos);
    return false;
}

bool PlatformDeleteFile(const char *path, size_t rootLength)
{
    Touch("delete", path);
    auto file = g_fake.files.find(std::string_view(path));
    if (file == g_fake.files.end() || g_fake.locked.count(std::string_view(path)) ||
        ReachedThroughLink(path, rootLength)) {
        return false;
    }
    g_fake.files.erase(file);
    return true;
}

bool PlatformRemoveFolder(const char *path, size_t rootLength)
{
    Touch("rmdir", path);
    auto folder = g_fake.folders.find(std::string_view(path));
    if (folder == g_fake.folders.end() || HoldsAnything(path) ||
        ReachedThroughLink(path, rootLength)) {
        return false;
    }
    g_fake.folders.erase(folder);
    return true;
}

// Here a file's path is all there is to it: one path, one file.
bool PlatformSameFile(const char *path, size_t, const char *otherPath, size_t)
{
    if (g_fake.logCalls) {
        g_fake.calls.push_back(std::string("same ") + path + " " + otherPath);
    }
    CountStray(path);
    CountStray(otherPath);
    std::string_view name(path);
    return name == otherPath && (g_fake.files.count(name) || g_fake.folders.count(name));
}
