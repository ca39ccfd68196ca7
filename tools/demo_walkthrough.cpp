// Walks through a typical uninstall in the current folder, saving a screenshot at each step.
#include <stdio.h>
#include <windows.h>

#include <string>

#include "gui_driver.h"
#include "resource.h"

static std::string g_shots;

// The dialog, and any question box over it, as the screen shows them.
static void Shoot(HWND dialog, HWND box, const char *name)
{
    Sleep(700); // let Wine finish painting
    RECT area;
    GetWindowRect(dialog, &area);
    if (box) {
        RECT boxArea;
        GetWindowRect(box, &boxArea);
        UnionRect(&area, &area, &boxArea);
    }
    std::string path = g_shots + "\\" + name;
    printf("  screenshot %s: %s\n", name, SaveScreenshot(area, path.c_str()) ? "saved" : "FAILED");
}

static int Fail(const char *what, PROCESS_INFORMATION &process)
{
    printf("demo: %s\n", what);
    TerminateProcess(process.hProcess, 1);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        printf("usage: demo_walkthrough SCREENSHOT-FOLDER\n");
        return 2;
    }
    g_shots = argv[1];
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);

    PROCESS_INFORMATION process = {};
    if (!StartUninstaller(folder, SW_SHOWNORMAL, process)) {
        printf("demo: cannot start the uninstaller\n");
        return 1;
    }
    HWND dialog = WaitForProcessWindow(process.dwProcessId, "#32770", kDialogCaption);
    if (!dialog) {
        return Fail("the dialog never appeared", process);
    }
    printf("Dialog:   \"%s\", Delete Desktop Shortcut %s\n",
           WindowText(GetDlgItem(dialog, IDC_STATUS)).c_str(),
           IsDlgButtonChecked(dialog, IDC_DELETE_SHORTCUT) == BST_CHECKED ? "checked"
                                                                          : "unchecked");
    Shoot(dialog, NULL, "1-ready.bmp");

    ClickButton(dialog, IDC_UNINSTALL);
    HWND box = WaitForProcessWindow(process.dwProcessId, "#32770", kRemoveCaption);
    if (!box) {
        return Fail("no confirmation", process);
    }
    printf("Question: \"%s\" -> Yes\n", WindowText(GetDlgItem(box, 0xFFFF)).c_str());
    Shoot(dialog, box, "2-confirm.bmp");

    ClickButton(box, IDYES);
    HWND exitButton = GetDlgItem(dialog, IDC_UNINSTALL);
    if (!WaitFor([&] { return WindowText(exitButton) == "Exit"; })) {
        return Fail("no report", process);
    }
    printf("Report:   \"%s\"\n          \"%s\"\n",
           WindowText(GetDlgItem(dialog, IDC_STATUS)).c_str(),
           WindowText(GetDlgItem(dialog, IDC_STATUS2)).c_str());
    Shoot(dialog, NULL, "3-report.bmp");

    ClickButton(dialog, IDC_UNINSTALL);
    if (WaitForSingleObject(process.hProcess, kPatienceMs) != WAIT_OBJECT_0) {
        return Fail("the uninstaller did not exit", process);
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    printf("Exit:     the uninstaller ended with code %lu\n", exitCode);
    return (int)exitCode;
}
