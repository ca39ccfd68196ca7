// Declarations shared by the application shell and the uninstall dialog.
#pragma once

#include <windows.h>

const int kTitleSize = 100;

INT_PTR CALLBACK UninstallDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
