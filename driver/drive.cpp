// Drives one typical uninstall in the current folder: ours with screenshots for scripts/demo, or
// ours or the NSIS peer with timings for bench/run.
#include <stdio.h>
#include <windows.h>

#include <string>

#include "gui_driver.h"
#include "resource.h"

static LARGE_INTEGER g_start, g_frequency;

static double ElapsedMs()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - g_start.QuadPart) * 1000.0 / g_frequency.QuadPart;
}

// The dialog, and the question over it while there is one, as the screen shows them.
static bool Shoot(const std::string &shots, HWND dialog, HWND question, const char *name)
{
    Sleep(700); // let Wine finish painting
    RECT area, questionArea;
    GetWindowRect(dialog, &area);
    if (question && GetWindowRect(question, &questionArea)) {
        UnionRect(&area, &area, &questionArea);
    }
    std::string path = shots + "\\" + name;
    return SaveScreenshot(area, path.c_str());
}

static std::string WalkThrough(const char *exe, const std::string &shots)
{
    auto text = [](HWND window, int id) { return WindowText(GetDlgItem(window, id)); };
    std::string unsaved;
    auto shoot = [&](HWND dialog, HWND question, const char *name) {
        if (!Shoot(shots, dialog, question, name) && unsaved.empty()) {
            unsaved = std::string("the screenshot ") + name + " could not be saved";
        }
    };
    StepReport report = [&](RunStep step, HWND dialog, HWND question) {
        if (step == kDialogReady) {
            printf("Dialog:   \"%s\", Delete Desktop Shortcut %s\n",
                   text(dialog, IDC_STATUS).c_str(),
                   IsDlgButtonChecked(dialog, IDC_DELETE_SHORTCUT) ? "checked" : "unchecked");
            shoot(dialog, NULL, "1-ready.bmp");
        } else if (step == kQuestionShown) {
            printf("Question: \"%s\" -> Yes\n", text(question, 0xFFFF).c_str());
            shoot(dialog, question, "2-confirm.bmp");
        } else if (step == kReportShown) {
            printf("Report:   \"%s\"\n          \"%s\"\n", text(dialog, IDC_STATUS).c_str(),
                   text(dialog, IDC_STATUS2).c_str());
            shoot(dialog, NULL, "3-report.bmp");
        }
    };
    DWORD exitCode = 1;
    std::string broken = RunTypically(exe, "", SW_SHOWNORMAL, report, exitCode);
    if (broken.empty()) {
        printf("Exit:     the uninstaller ended with code %lu\n", exitCode);
    }
    if (broken.empty() && exitCode != 0) {
        return "a non-zero exit code";
    }
    return broken.empty() ? unsaved : broken;
}

// The NSIS peer copies itself to the temporary folder and runs the copy, so its window may
// belong to any process; the window is titled after the page shown ("Kessamar Uninstall:
// Confirmation"...). Pages: confirmation (Next), components (Uninstall), progress (Close).
static std::string TimeNsis(const char *exe, double (&reached)[4])
{
    PROCESS_INFORMATION process = {};
    if (!StartProgram(exe, "", SW_SHOWNORMAL, process)) {
        return "cannot start";
    }
    HANDLE shown = NULL; // the process that shows the window
    auto broken = [&](const std::string &what) {
        EndProgram(process);
        TerminateProcess(shown, 1);
        return what;
    };
    const char *buttons[] = {"&Next >", "&Uninstall", "&Close"};
    HWND window = NULL, button = NULL;
    for (int page = 0; page < 3; ++page) {
        if (!WaitFor([&] {
                window = FindProcessWindow(0, "#32770", "Kessamar Uninstall*");
                button = GetDlgItem(window, IDOK);
                return button && IsWindowEnabled(button) && WindowText(button) == buttons[page];
            })) {
            return broken(std::string("no page with ") + buttons[page] + ", but \"" +
                          WindowText(window) + "\" with \"" + WindowText(button) + "\"");
        }
        reached[page] = ElapsedMs();
        if (page < 2) {
            ClickButton(window, IDOK);
        }
    }
    DWORD windowProcessId = 0;
    GetWindowThreadProcessId(window, &windowProcessId);
    shown = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, windowProcessId);
    // A Close clicked the moment it is enabled is sometimes lost: click again until it goes.
    WaitFor([&] {
        PostMessageA(button, BM_CLICK, 0, 0);
        return WaitFor([&] { return !IsWindow(window); }, 250);
    });
    HANDLE both[] = {process.hProcess, shown};
    if (!shown || WaitForMultipleObjects(2, both, TRUE, kPatienceMs) != WAIT_OBJECT_0) {
        return broken("did not exit");
    }
    reached[kProcessEnded] = ElapsedMs();
    return "";
}

int main(int argc, char **argv)
{
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_start);
    double reached[4] = {};
    auto stamp = [&](RunStep step, HWND, HWND) { reached[step] = ElapsedMs(); };
    DWORD exitCode;
    std::string mode = argc > 1 ? argv[1] : "", broken;
    const char usage[] =
        "usage: drive shots UNINSTALLER FOLDER | drive ours|nsis EXE | drive ready\n"
        "       (in the installation folder)\n";
    if (argc == 2 && (mode == "-h" || mode == "--help")) {
        printf("%s", usage);
        return 0;
    }
    if (argc == 2 && mode == "ready") {
        // Someone else started the uninstaller: its dialog must show up.
        if (!WaitForProcessWindow(0, "#32770", kDialogCaption)) {
            broken = "the dialog never appeared";
        }
    } else if (argc == 4 && mode == "shots") {
        broken = WalkThrough(argv[2], argv[3]);
    } else if (argc == 3 && mode == "ours") {
        broken = RunTypically(argv[2], "", SW_SHOWNORMAL, stamp, exitCode);
    } else if (argc == 3 && mode == "nsis") {
        broken = TimeNsis(argv[2], reached);
    } else {
        fprintf(stderr, "%s", usage);
        return 2;
    }
    if (!broken.empty()) {
        printf("broken: %s\n", broken.c_str());
        return 1;
    }
    if (mode == "ours" || mode == "nsis") {
        printf("ready_ms=%.0f confirm_to_report_ms=%.0f whole_ms=%.0f\n", reached[kDialogReady],
               reached[kReportShown] - reached[kQuestionShown], reached[kProcessEnded]);
    }
    return 0;
}
