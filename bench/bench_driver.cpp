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
static int DriveOurs(const std::string &exe, Timings &t)
{
    double *stamps[] = {&t.ready, &t.confirmed, &t.reported, &t.ended};
    DWORD exitCode;
    std::string broken = RunTypically(
        exe, "", SW_SHOWNORMAL, [&](RunStep step, HWND, HWND) { *stamps[step] = ElapsedMs(); },
        exitCode);
    return broken.empty() ? 0 : Broken(broken.c_str());
}

// The NSIS peer copies itself to the temporary folder and runs the copy; its window may belong
// to any process, and is titled after the page shown ("Kessamar Uninstall: Confirmation"...).
// Pages: confirmation (Next), components (Uninstall), progress (Close).
static int DriveNsis(const std::string &exe, Timings &t)
{
    PROCESS_INFORMATION process = {};
    if (!StartProgram(exe, "", SW_SHOWNORMAL, process)) {
        return Broken("cannot start");
    }
    g_processes[0] = process.hProcess;
    HWND window = NULL;
    const struct {
        const char *button;
        double *reached;
    } pages[] = {{"&Next >", &t.ready}, {"&Uninstall", &t.confirmed}, {"&Close", &t.reported}};
    for (const auto &page : pages) {
        if (!WaitFor([&] {
                window = FindProcessWindow(0, "#32770", "Kessamar Uninstall*");
                HWND button = GetDlgItem(window, IDOK);
                return button && IsWindowEnabled(button) && WindowText(button) == page.button;
            })) {
            return Broken(page.button);
        }
        *page.reached = ElapsedMs();
        if (page.reached != &t.reported) {
            ClickButton(window, IDOK);
        }
    }
    DWORD windowProcessId = 0;
    GetWindowThreadProcessId(window, &windowProcessId);
    HANDLE shown = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, windowProcessId);
    g_processes[1] = shown;
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
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_frequency = (double)frequency.QuadPart;
    QueryPerformanceCounter(&g_start);

    Timings t = {};
    int result = strcmp(argv[1], "ours") == 0 ? DriveOurs(argv[2], t) : DriveNsis(argv[2], t);
    if (result == 0) {
        printf("ready_ms=%.0f confirm_to_report_ms=%.0f whole_ms=%.0f\n", t.ready,
               t.reported - t.confirmed, t.ended);
    }
    fflush(stdout);
    return result;
}
