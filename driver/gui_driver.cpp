// Finding, reading, clicking and capturing another process's windows through the Win32 API.
#include "gui_driver.h"

#include <string.h>

#include "resource.h"

std::string WindowText(HWND window)
{
    char text[1024] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG,
                        kPatienceMs, &copied);
    return text;
}

struct WindowQuery {
    DWORD processId;
    const char *className, *title;
    int *count; // when set, every match is counted
    HWND found;
};

// A title ending in "*" matches every text that begins with what stands before the "*".
static bool TitleMatches(HWND window, const char *title)
{
    std::string text = WindowText(window);
    size_t length = strlen(title);
    if (length > 0 && title[length - 1] == '*') {
        return text.compare(0, length - 1, title, length - 1) == 0;
    }
    return text == title;
}

// The title is read last: reading it sends a message to the window's owner, which other
// processes' windows need not be asked.
static BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    WindowQuery &query = *(WindowQuery *)lParam;
    DWORD owner = 0;
    char className[64] = "";
    GetWindowThreadProcessId(window, &owner);
    GetClassNameA(window, className, sizeof className);
    if ((query.processId == 0 || owner == query.processId) && IsWindowVisible(window) &&
        strcmp(className, query.className) == 0 && TitleMatches(window, query.title)) {
        query.found = window;
        return query.count ? ++*query.count > 0 : FALSE;
    }
    return TRUE;
}

HWND FindProcessWindow(DWORD processId, const char *className, const char *title, int *count)
{
    WindowQuery query = {processId, className, title, count, NULL};
    EnumWindows(MatchWindow, (LPARAM)&query);
    return query.found;
}

HWND WaitForProcessWindow(DWORD processId, const char *className, const char *title)
{
    HWND window = NULL;
    WaitFor([&] { return (window = FindProcessWindow(processId, className, title)) != NULL; });
    return window;
}

bool StartProgram(const std::string &exe, const std::string &folder, WORD showCommand,
                  PROCESS_INFORMATION &process)
{
    std::string command = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showCommand;
    return CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL,
                          folder.empty() ? NULL : folder.c_str(), &startup, &process) != FALSE;
}

void EndProgram(PROCESS_INFORMATION &process)
{
    if (process.hProcess) {
        TerminateProcess(process.hProcess, 1); // no effect once it has ended
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        process = PROCESS_INFORMATION();
    }
}

HWND StartUninstaller(const std::string &exe, const std::string &folder, WORD showCommand,
                      PROCESS_INFORMATION &process)
{
    HWND dialog = NULL;
    if (StartProgram(exe, folder, showCommand, process)) {
        WaitFor([&] {
            dialog = FindProcessWindow(process.dwProcessId, "#32770", kDialogCaption);
            return dialog && !WindowText(GetDlgItem(dialog, IDC_STATUS)).empty();
        });
    }
    return dialog;
}

void ClickButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

// Copies a screen rectangle into a top-down 32-bit bitmap and hands its pixels to the reader.
template <typename Reader> static bool ReadScreen(const RECT &area, Reader reader)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = area.right - area.left;
    info.bmiHeader.biHeight = -(area.bottom - area.top);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biSizeImage = 4 * info.bmiHeader.biWidth * (area.bottom - area.top);
    void *bits = NULL;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP capture = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    bool copied = false;
    if (capture) {
        HGDIOBJ previous = SelectObject(memory, capture);
        copied = BitBlt(memory, 0, 0, info.bmiHeader.biWidth, -info.bmiHeader.biHeight, screen,
                        area.left, area.top, SRCCOPY);
        GdiFlush();
        if (copied) {
            reader((const DWORD *)bits, info.bmiHeader);
        }
        SelectObject(memory, previous);
        DeleteObject(capture);
    }
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return copied;
}

int CountScreenPixels(HWND window, COLORREF colour)
{
    RECT area;
    GetWindowRect(window, &area);
    DWORD wanted = GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
    int count = 0;
    ReadScreen(area, [&](const DWORD *pixels, const BITMAPINFOHEADER &header) {
        for (DWORD i = 0; i < header.biSizeImage / 4; ++i) {
            count += (pixels[i] & 0xFFFFFF) == wanted;
        }
    });
    return count;
}

bool SaveScreenshot(const RECT &area, const char *path)
{
    bool written = false;
    ReadScreen(area, [&](const DWORD *pixels, const BITMAPINFOHEADER &header) {
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42; // "BM"
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + header.biSizeImage;
        HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD done;
        written = out != INVALID_HANDLE_VALUE && WriteFile(out, &file, sizeof file, &done, NULL) &&
                  WriteFile(out, &header, sizeof header, &done, NULL) &&
                  WriteFile(out, pixels, header.biSizeImage, &done, NULL);
        CloseHandle(out);
    });
    return written;
}

std::string RunTypically(const std::string &exe, const std::string &folder, WORD showCommand,
                         const StepReport &report, DWORD &exitCode)
{
    PROCESS_INFORMATION process = {};
    auto end = [&](const char *broken) {
        EndProgram(process); // a broken run leaves no window waiting
        return std::string(broken);
    };
    HWND dialog = StartUninstaller(exe, folder, showCommand, process);
    if (!dialog) {
        return end("the dialog never appeared");
    }
    report(kDialogReady, dialog, NULL);
    ClickButton(dialog, IDC_UNINSTALL);
    HWND question = WaitForProcessWindow(process.dwProcessId, "#32770", kRemoveCaption);
    if (!question) {
        return end("no question");
    }
    report(kQuestionShown, dialog, question);
    ClickButton(question, IDYES);
    if (!WaitFor([&] { return WindowText(GetDlgItem(dialog, IDC_UNINSTALL)) == "Exit"; })) {
        return end("no report");
    }
    report(kReportShown, dialog, NULL);
    ClickButton(dialog, IDC_UNINSTALL);
    if (WaitForSingleObject(process.hProcess, kPatienceMs) != WAIT_OBJECT_0) {
        return end("the program did not end");
    }
    GetExitCodeProcess(process.hProcess, &exitCode);
    report(kProcessEnded, NULL, NULL);
    return end("");
}
