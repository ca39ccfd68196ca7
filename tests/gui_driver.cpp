// Finding, reading, clicking and capturing another process's windows through the Win32 API.
#include "gui_driver.h"

#include <string.h>

std::string WindowText(HWND window)
{
    char text[1024] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000,
                        &copied);
    return text;
}

struct WindowQuery {
    DWORD processId;
    const char *className;
    const char *title;
    bool countAll;
    HWND found;
    int count;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    WindowQuery &query = *(WindowQuery *)lParam;
    DWORD owner = 0;
    char className[64] = "";
    GetWindowThreadProcessId(window, &owner);
    GetClassNameA(window, className, sizeof className);
    if ((query.processId == 0 || owner == query.processId) && IsWindowVisible(window) &&
        strcmp(className, query.className) == 0 && WindowText(window) == query.title) {
        query.found = window;
        ++query.count;
        return query.countAll;
    }
    return TRUE;
}

HWND FindProcessWindow(DWORD processId, const char *className, const char *title)
{
    WindowQuery query = {processId, className, title, false, NULL, 0};
    EnumWindows(MatchWindow, (LPARAM)&query);
    return query.found;
}

int CountProcessWindows(DWORD processId, const char *className, const char *title)
{
    WindowQuery query = {processId, className, title, true, NULL, 0};
    EnumWindows(MatchWindow, (LPARAM)&query);
    return query.count;
}

HWND WaitForProcessWindow(DWORD processId, const char *className, const char *title)
{
    HWND window = NULL;
    WaitFor([&] {
        window = FindProcessWindow(processId, className, title);
        return window != NULL;
    });
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

bool StartUninstaller(const std::string &folder, WORD showCommand, PROCESS_INFORMATION &process)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string exe = self;
    exe = exe.substr(0, exe.rfind('\\')) + "\\KessamarUninstaller.exe";
    return StartProgram(exe, folder, showCommand, process);
}

void ClickButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

// Copies a screen rectangle into a top-down 32-bit bitmap and hands its pixels to the reader.
template <typename Reader> static bool ReadScreen(const RECT &area, Reader reader)
{
    int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = NULL;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP capture = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    bool copied = false;
    if (capture) {
        HGDIOBJ previous = SelectObject(memory, capture);
        copied = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        if (copied) {
            reader((const DWORD *)bits, width, height);
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
    ReadScreen(area, [&](const DWORD *pixels, int width, int height) {
        for (int i = 0; i < width * height; ++i) {
            count += (pixels[i] & 0xFFFFFF) == wanted;
        }
    });
    return count;
}

bool SaveScreenshot(const RECT &area, const char *path)
{
    bool written = false;
    ReadScreen(area, [&](const DWORD *pixels, int width, int height) {
        int stride = (width * 3 + 3) & ~3;
        BITMAPFILEHEADER file = {};
        BITMAPINFOHEADER header = {};
        file.bfType = 0x4D42; // "BM"
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + stride * height;
        header.biSize = sizeof header;
        header.biWidth = width;
        header.biHeight = height; // bottom-up rows follow
        header.biPlanes = 1;
        header.biBitCount = 24;
        HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (out == INVALID_HANDLE_VALUE) {
            return;
        }
        DWORD done;
        written = WriteFile(out, &file, sizeof file, &done, NULL) &&
                  WriteFile(out, &header, sizeof header, &done, NULL);
        std::string row(stride, '\0');
        for (int y = height - 1; written && y >= 0; --y) {
            for (int x = 0; x < width; ++x) {
                memcpy(&row[x * 3], &pixels[y * width + x], 3);
            }
            written = WriteFile(out, row.data(), stride, &done, NULL) != FALSE;
        }
        CloseHandle(out);
    });
    return written;
}
