// Application shell: entry point, the minimised main window, and the final message drain.
#include <windows.h>

#include "app.h"
#include "engine.h"
#include "platform.h"
#include "resource.h"

static struct {
    char className[kTitleSize];
    char title[kTitleSize];
    HINSTANCE instance;
    HWND mainWindow;
} g_app;

static LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT: {
        // The window stays minimised; validate the update region and draw nothing.
        PAINTSTRUCT paint;
        RECT client;
        BeginPaint(window, &paint);
        GetClientRect(window, &client);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_COMMAND:
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

static ATOM RegisterAppClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_MENU + 1);
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = g_app.className;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP_SMALL));
    return RegisterClassExA(&windowClass);
}

// The folder the program was started in, held from before anything else runs: a library loaded
// with the first window could change the current folder. One that cannot be held, or has no
// exact ANSI path, leaves the install folder empty, which the engine reads as "nothing installed
// here" rather than composing paths at the root of the current drive or in a folder that only
// looks like this one.
static void ReadInstallFolder()
{
    PlatformPinCurrentFolder(g_uninstall.installFolder);
}

static BOOL StartInstance(HINSTANCE instance, int showCommand)
{
    (void)showCommand; // the window is always shown minimised
    g_app.instance = instance;
    g_app.mainWindow = CreateWindowExA(0, g_app.className, g_app.title, WS_OVERLAPPEDWINDOW, 300,
                                       200, 220, 60, NULL, NULL, instance, NULL);
    if (g_app.mainWindow == NULL) {
        return FALSE;
    }
    ShowWindow(g_app.mainWindow, SW_MINIMIZE);
    ScanInstallation();
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UNINSTALL), g_app.mainWindow, UninstallDlgProc,
                    0);
    return TRUE;
}

// The program usually runs elevated from a folder its user can write to, so libraries loaded
// at run time come from the system folder only, never from the program's own folder or the
// current one. Windows before 8, without update KB2533623, lack SetDefaultDllDirectories; there,
// SetDllDirectoryA("") at least takes the current folder out of the search.
static void RestrictLibrarySearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD);
    FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    SetDefaultDllDirectoriesCall setDefaultDllDirectories =
        (SetDefaultDllDirectoriesCall)(void (*)(void))found;
    if (setDefaultDllDirectories == NULL ||
        !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryA("");
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand)
{
    (void)previousInstance;
    (void)commandLine;
    RestrictLibrarySearch();
    ReadInstallFolder();
    LoadStringA(instance, IDS_CLASS, g_app.className, sizeof g_app.className);
    LoadStringA(instance, IDS_TITLE, g_app.title, sizeof g_app.title);
    RegisterAppClass(instance);
    if (!StartInstance(instance, showCommand)) {
        return 0;
    }

    // The dialog has ended by posting the quit message; empty the queue without waiting.
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCEL));
    MSG message;
    WPARAM exitCode = 0;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        exitCode = message.wParam;
    }
    return (int)exitCode;
}
