// Drives one typical uninstall, ours or the NSIS peer, in the current folder and prints timings.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "gui_driver.h"
#include "resource.h"

static double g_frequency;
static LARGE_INTEGER g_start;

static double ElapsedMs()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - g_start.QuadPart) * 1000.0 / g_frequency;
}

static BOOL CALLBACK PrintDialog(HWND window, LPARAM)
{
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) && strcmp(className, "#32770") == 0) {
        printf("  dialog \"%s\", button \"%s\"\n", WindowText(window).c_str(),
               WindowText(GetDlgItem(window, IDOK)).c_str());
    }
    return TRUE;
}

// The programs of this run, ended on a broken run so that no window is left waiting.
static HANDLE g_processes[2];

// Says what went wrong and what the screen holds, so that a broken run can be understood.
static int Broken(const char *what)
{
    printf("broken: %s\n", what);
    EnumWindows(PrintDialog, 0);
    for (HANDLE process : g_processes) {
        if (process) {
            TerminateProcess(process, 1);
        }
    }
    return 1;
}

struct Timings {
    double ready, confirmed, reported, ended;
};

// Ours: the dialog with its status line set; Uninstall, Yes, the report, Exit.
static int DriveOurs(const std::string &exe, const std::string &folder, Timings &t)
{
    PROCESS_INFORMATION process = {};
    if (!StartProgram(exe, folder, SW_SHOWNORMAL, process)) {
        return Broken("cannot start");
    }
    g_processes[0] = process.hProcess;
    HWND dialog = NULL;
    if (!WaitFor([&] {
            dialog = FindProcessWindow(process.dwProcessId, "#32770", kDialogCaption);
            return dialog && !WindowText(GetDlgItem(dialog, IDC_STATUS)).empty();
        })) {
        return Broken("no dialog");
    }
    t.ready = ElapsedMs();
    ClickButton(dialog, IDC_UNINSTALL);
    HWND box = WaitForProcessWindow(process.dwProcessId, "#32770", kRemoveCaption);
    if (!box) {
        return Broken("no confirmation");
    }
    t.confirmed = ElapsedMs();
    ClickButton(box, IDYES);
    HWND button = GetDlgItem(dialog, IDC_UNINSTALL);
    if (!WaitFor([&] { return WindowText(button) == "Exit"; })) {
        return Broken("no report");
    }
    t.reported = ElapsedMs();
    ClickButton(dialog, IDC_UNINSTALL);
    if (WaitForSingleObject(process.hProcess, kPatienceMs) != WAIT_OBJECT_0) {
        return Broken("did not exit");
    }
    t.ended = ElapsedMs();
    return 0;
}

// NSIS titles its window after the page shown: "Kessamar Uninstall: Confirmation" and so on.
static BOOL CALLBACK MatchNsisWindow(HWND window, LPARAM found)
{
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) && strcmp(className, "#32770") == 0 &&
        WindowText(window).rfind("Kessamar Uninstall", 0) == 0) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

// The NSIS peer copies itself to the temporary folder and runs the copy; its window may belong
// to any process. Pages: confirmation (Next), components (Uninstall), progress (Close).
static int DriveNsis(const std::string &exe, const std::string &folder, Timings &t)
{
    PROCESS_INFORMATION process = {};
    if (!StartProgram(exe, folder, SW_SHOWNORMAL, process)) {
        return Broken("cannot start");
    }
    g_processes[0] = process.hProcess;
    HWND window = NULL;
    auto buttonReads = [&](const char *label) {
        HWND next = GetDlgItem(window, IDOK);
        return next && IsWindowEnabled(next) && WindowText(next) == label;
    };
    if (!WaitFor([&] {
            EnumWindows(MatchNsisWindow, (LPARAM)&window);
            return window && buttonReads("&Next >");
        })) {
        return Broken("no confirmation page");
    }
    t.ready = ElapsedMs();
    DWORD windowProcessId = 0;
    GetWindowThreadProcessId(window, &windowProcessId);
    HANDLE shown = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, windowProcessId);
    g_processes[1] = shown;
    ClickButton(window, IDOK);
    if (!WaitFor([&] { return buttonReads("&Uninstall"); })) {
        return Broken("no components page");
    }
    t.confirmed = ElapsedMs();
    ClickButton(window, IDOK);
    if (!WaitFor([&] { return buttonReads("&Close"); })) {
        return Broken("no finished page");
    }
    t.reported = ElapsedMs();
    // A Close clicked the moment it is enabled is sometimes lost: click again until it goes.
    HWND close = GetDlgItem(window, IDOK);
    WaitFor([&] {
        PostMessageA(close, BM_CLICK, 0, 0);
        return WaitFor([&] { return !IsWindow(window); }, 250);
    });
    if (!shown) {
        return Broken("cannot watch the process that shows the window");
    }
    HANDLE both[] = {process.hProcess, shown};
    DWORD waited = WaitForMultipleObjects(2, both, TRUE, kPatienceMs);
    if (waited != WAIT_OBJECT_0) {
        printf("wait %lu, error %lu\n", waited, GetLastError());
        return Broken("did not exit");
    }
    t.ended = ElapsedMs();
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3 || (strcmp(argv[1], "ours") && strcmp(argv[1], "nsis"))) {
        printf("usage: bench_driver ours|nsis EXE   (run in the installation folder)\n");
        return 2;
    }
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_frequency = (double)frequency.QuadPart;
    QueryPerformanceCounter(&g_start);

    Timings t = {};
    int result = strcmp(argv[1], "ours") == 0 ? DriveOurs(argv[2], folder, t)
                                              : DriveNsis(argv[2], folder, t);
    if (result == 0) {
        printf("ready_ms=%.0f confirm_to_report_ms=%.0f whole_ms=%.0f\n", t.ready,
               t.reported - t.confirmed, t.ended);
    }
    fflush(stdout);
    return result;
}
