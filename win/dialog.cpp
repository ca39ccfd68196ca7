// The uninstall dialog: start-up status, confirmations, the removal and its report.
#include <windows.h>

#include "app.h"
#include "engine.h"
#include "resource.h"

const UINT kQuestionStyle = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL;

static struct {
    HBRUSH backgroundBrush;
    HWND dialog;
    bool questionOpen; // a message box is up, and its modal loop still delivers commands
} g_dialog;

static void SetControlText(int id, const char *text)
{
    SendMessageA(GetDlgItem(g_dialog.dialog, id), WM_SETTEXT, 0, (LPARAM)text);
}

static BOOL Ask(const char *question, const char *caption)
{
    g_dialog.questionOpen = true;
    BOOL yes = MessageBoxA(g_dialog.dialog, question, caption, kQuestionStyle) == IDYES;
    g_dialog.questionOpen = false;
    return yes;
}

static void OnInitDialog(HWND dialog)
{
    g_dialog.backgroundBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    g_dialog.dialog = dialog;

    char status[kStatusTextSize];
    if (StartupStatusText(g_uninstall.foundCount, status, sizeof status)) {
        SetControlText(IDC_STATUS, status);
    }
    if (g_uninstall.foundCount == 0) {
        g_uninstall.nothingFound = true;
    }

    if (g_uninstall.desktopShortcutFound) {
        CheckDlgButton(dialog, IDC_DELETE_SHORTCUT, BST_CHECKED);
    } else {
        EnableWindow(GetDlgItem(dialog, IDC_DELETE_SHORTCUT), FALSE);
    }
}

static void OnUninstall()
{
    if (g_uninstall.removalDone) {
        PostQuitMessage(0); // the button reads "Exit" now
        return;
    }
    if (!Ask("Are you sure you want to remove Kessamar?", "Delete Kessamar?")) {
        return;
    }
    bool deleteShortcut = IsDlgButtonChecked(g_dialog.dialog, IDC_DELETE_SHORTCUT) == BST_CHECKED;
    UninstallReport report = RunUninstall(deleteShortcut);
    SetControlText(IDC_STATUS, report.statusText);
    SetControlText(IDC_STATUS2, report.folderText);
    SetControlText(IDC_UNINSTALL, report.buttonLabel);
}

static void OnCommand(int id)
{
    // A command that arrives while a question is open (a click posted by another program, or
    // Cancel from a close request) would ask again on top of it, and two Yes answers would run
    // the removal twice.
    if (g_dialog.questionOpen) {
        return;
    }
    switch (id) {
    case IDCANCEL: // also Esc and the caption's close box
        if (Ask("Are you sure you want to quit the Uninstall program?",
                "Cancel Kessamar Uninstall")) {
            PostQuitMessage(0);
        }
        break;
    case IDC_UNINSTALL:
        OnUninstall();
        break;
    }
}

// The first status line turns red for as long as nothing was found.
static INT_PTR OnCtlColorStatic(HDC dc, HWND control)
{
    if (!g_uninstall.nothingFound || GetWindowLongA(control, GWL_ID) != IDC_STATUS) {
        return FALSE;
    }
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return (INT_PTR)g_dialog.backgroundBrush;
}

INT_PTR CALLBACK UninstallDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return FALSE;
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic((HDC)wParam, (HWND)lParam);
    case WM_DESTROY:
        DeleteObject(g_dialog.backgroundBrush);
        g_dialog.backgroundBrush = NULL;
        return FALSE;
    default:
        return FALSE;
    }
}
