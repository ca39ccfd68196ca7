// Walks through a typical uninstall in the current folder, saving a screenshot at each step.
#include <stdio.h>
#include <windows.h>

#include <string>

#include "gui_driver.h"
#include "resource.h"

// The dialog, and the question over it while there is one, as the screen shows them.
static void Shoot(const std::string &shots, HWND dialog, HWND question, const char *name)
{
    Sleep(700); // let Wine finish painting
    RECT area, questionArea;
    GetWindowRect(dialog, &area);
    if (question && GetWindowRect(question, &questionArea)) {
        UnionRect(&area, &area, &questionArea);
    }
    std::string path = shots + "\\" + name;
    printf("  screenshot %s: %s\n", name, SaveScreenshot(area, path.c_str()) ? "saved" : "FAILED");
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        printf("usage: walkthrough UNINSTALLER SCREENSHOT-FOLDER\n");
        return 2;
    }
    std::string shots = argv[2];
    auto text = [](HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); };
    DWORD exitCode = 1;
    std::string broken = RunTypically(
        argv[1], "", SW_SHOWNORMAL,
        [&](RunStep step, HWND dialog, HWND question) {
            switch (step) {
            case kDialogReady:
                printf("Dialog:   \"%s\", Delete Desktop Shortcut %s\n",
                       text(dialog, IDC_STATUS).c_str(),
                       IsDlgButtonChecked(dialog, IDC_DELETE_SHORTCUT) ? "checked" : "unchecked");
                Shoot(shots, dialog, NULL, "1-ready.bmp");
                break;
            case kQuestionShown:
                printf("Question: \"%s\" -> Yes\n", text(question, 0xFFFF).c_str());
                Shoot(shots, dialog, question, "2-confirm.bmp");
                break;
            case kReportShown:
                printf("Report:   \"%s\"\n          \"%s\"\n", text(dialog, IDC_STATUS).c_str(),
                       text(dialog, IDC_STATUS2).c_str());
                Shoot(shots, dialog, NULL, "3-report.bmp");
                break;
            case kProcessEnded:
                break;
            }
        },
        exitCode);
    if (!broken.empty()) {
        printf("demo: %s\n", broken.c_str());
        return 1;
    }
    printf("Exit:     the uninstaller ended with code %lu\n", exitCode);
    return (int)exitCode;
}
