// Resource identifiers of the uninstaller.
#pragma once

// Dialogs
#define IDD_UNINSTALL 101

// Bitmaps
#define IDB_BANNER 104

// Icons
#define IDI_APP       109
#define IDI_APP_SMALL 110

// Accelerators
#define IDR_ACCEL 107

// Strings
#define IDS_CLASS 1
#define IDS_TITLE 2

// Commands
#define IDM_ACCEL_COMMAND 104

// Controls
#define IDC_UNINSTALL       1002
#define IDC_DELETE_SHORTCUT 1003
#define IDC_STATUS2         1004
#define IDC_STATUS          1005
