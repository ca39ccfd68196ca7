// Driving the uninstaller from a second process: its windows, their texts, clicks, the screen,
// and one typical run from start to end.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

const DWORD kPatienceMs = 30000; // Wine starts slowly under emulation; a hung program still fails

const char kDialogCaption[] = "Kessamar Uninstaller";
const char kRemoveCaption[] = "Delete Kessamar?";
const char kRemoveQuestion[] = "Are you sure you want to remove Kessamar?";
const char kQuitCaption[] = "Cancel Kessamar Uninstall";
const char kQuitQuestion[] = "Are you sure you want to quit the Uninstall program?";

// Polls until the condition holds; false once the time is up.
template <typename Condition> bool WaitFor(Condition condition, DWORD timeoutMs = kPatienceMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

std::string WindowText(HWND window);

// A visible top-level window of the process (any process for 0) with that class and title; a
// title ending in "*" matches by its beginning. With a count, every match is counted.
HWND FindProcessWindow(DWORD processId, const char *className, const char *title,
                       int *count = nullptr);
HWND WaitForProcessWindow(DWORD processId, const char *className, const char *title);

// An empty folder starts the program in this process's current folder.
bool StartProgram(const std::string &exe, const std::string &folder, WORD showCommand,
                  PROCESS_INFORMATION &process);

// Ends the program if it still runs, and lets go of it.
void EndProgram(PROCESS_INFORMATION &process);

// Starts the uninstaller and waits for its dialog to show a status line; NULL if it never does.
HWND StartUninstaller(const std::string &exe, const std::string &folder, WORD showCommand,
                      PROCESS_INFORMATION &process);

// Clicks a button of a dialog or message box the way its own click would report it.
void ClickButton(HWND dialog, int id);

// Counts the pixels of a window, as the screen shows them, that have the given colour.
int CountScreenPixels(HWND window, COLORREF colour);

// Saves what the screen shows of a rectangle as a BMP file.
bool SaveScreenshot(const RECT &area, const char *path);

// The steps of a typical run, each reported once it is reached.
enum RunStep { kDialogReady, kQuestionShown, kReportShown, kProcessEnded };
using StepReport = std::function<void(RunStep step, HWND dialog, HWND question)>;

// A typical run of the uninstaller in the folder: Uninstall, Yes, wait for the report, Exit,
// wait for the end. Returns "" and the exit code, or what went wrong with the program ended.
std::string RunTypically(const std::string &exe, const std::string &folder, WORD showCommand,
                         const StepReport &report, DWORD &exitCode);
