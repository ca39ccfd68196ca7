// End-to-end tests: the real uninstaller, started in a prepared folder and driven from outside
// the way a user would, then the disk and the exit code checked.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "gui_driver.h"
#include "resource.h"
#include "wine_files.h"

namespace {

class Uninstaller : public ::testing::Test {
  protected:
    void SetUp() override
    {
        folder = MakeTestFolder("e2e");
        DeleteFileA(DesktopShortcut().c_str());
    }

    void TearDown() override
    {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, 5000);
            }
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        RemoveTree(folder);
        DeleteFileA(DesktopShortcut().c_str());
    }

    std::string At(const char *relative)
    {
        return folder + "\\" + relative;
    }

    // Starts the program in the install folder and waits for its dialog to be up.
    void Start(WORD showCommand = SW_SHOWNORMAL)
    {
        ASSERT_TRUE(StartUninstaller(folder, showCommand, process));
        dialog = WaitForProcessWindow(process.dwProcessId, "#32770", kDialogCaption);
        ASSERT_TRUE(dialog != NULL) << "the dialog never appeared";
    }

    HWND Control(int id)
    {
        return GetDlgItem(dialog, id);
    }
    std::string Text(int id)
    {
        return WindowText(Control(id));
    }
    bool BoxChecked()
    {
        return SendMessageA(Control(IDC_DELETE_SHORTCUT), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool BoxEnabled()
    {
        return IsWindowEnabled(Control(IDC_DELETE_SHORTCUT)) != FALSE;
    }

    void Click(int id)
    {
        ClickButton(dialog, id);
    }
    void ToggleBox()
    {
        bool before = BoxChecked();
        PostMessageA(Control(IDC_DELETE_SHORTCUT), BM_CLICK, 0, 0);
        ASSERT_TRUE(WaitFor([&] { return BoxChecked() != before; }));
    }
    void PressEscape()
    {
        GUITHREADINFO thread = {};
        thread.cbSize = sizeof thread;
        SetForegroundWindow(dialog);
        GetGUIThreadInfo(process.dwThreadId, &thread);
        HWND focus = thread.hwndFocus ? thread.hwndFocus : dialog;
        PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    }

    // Waits for a question, checks it as the user sees it, and answers it.
    void Answer(const char *caption, const char *question, int answer)
    {
        HWND box = WaitForProcessWindow(process.dwProcessId, "#32770", caption);
        ASSERT_TRUE(box != NULL) << "no question \"" << caption << "\"";
        EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)), question);
        EXPECT_TRUE(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO));
        LONG noStyle = GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE);
        EXPECT_EQ(noStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "No must be the default";
        ClickButton(box, answer);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));
    }

    // Confirms the removal and waits for the report.
    void Uninstall()
    {
        Click(IDC_UNINSTALL);
        Answer(kRemoveCaption, kRemoveQuestion, IDYES);
        ASSERT_TRUE(WaitFor([&] { return Text(IDC_UNINSTALL) == "Exit"; }));
    }

    DWORD ExitCode()
    {
        DWORD code = STILL_ACTIVE;
        EXPECT_EQ(WaitForSingleObject(process.hProcess, kPatienceMs), WAIT_OBJECT_0)
            << "the program did not end";
        GetExitCodeProcess(process.hProcess, &code);
        return code;
    }

    bool StillRunning()
    {
        Sleep(300);
        return WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
    }

    std::string folder;
    PROCESS_INFORMATION process = {};
    HWND dialog = NULL;
};

TEST_F(Uninstaller, TypicalRunFromAMaximisedStart)
{
    LayOutInstallation(folder, kEveryRow, true, false);
    PutFile(DesktopShortcut());
    Start(SW_SHOWMAXIMIZED);

    HWND main = FindProcessWindow(process.dwProcessId, "Kessamar Uninstaller", "Uninstall KS");
    ASSERT_TRUE(main != NULL);
    EXPECT_TRUE(IsIconic(main)) << "the main window stays minimised";
    EXPECT_EQ(Text(IDC_STATUS), "All files found");
    EXPECT_EQ(Text(IDC_STATUS2), "");
    EXPECT_TRUE(BoxChecked());
    EXPECT_TRUE(BoxEnabled());

    Uninstall();
    EXPECT_EQ(Text(IDC_STATUS), "Uninstallation complete. 16 files deleted");
    EXPECT_EQ(Text(IDC_STATUS2), "Savegame folder deleted, there were no savegames.");
    Click(IDC_UNINSTALL); // "Exit" quits without a question
    EXPECT_EQ(ExitCode(), 0u);

    for (const char *added : kAddOnFolders) {
        EXPECT_FALSE(Exists(At(added))) << added;
    }
    EXPECT_FALSE(Exists(At("Kessamar.lnk")));
    EXPECT_FALSE(Exists(DesktopShortcut()));
    EXPECT_TRUE(Exists(At("Readme.txt")));
}

TEST_F(Uninstaller, TenFilesWithoutShortcutAndEveryWayToSayNo)
{
    const unsigned tenRows = (1u << 10) - 1;
    LayOutInstallation(folder, tenRows, true, false);
    Start();

    EXPECT_EQ(Text(IDC_STATUS), "Only 10/15 files found. It's safe to proceed though");
    EXPECT_FALSE(BoxChecked());
    EXPECT_FALSE(BoxEnabled());
    HWND status = Control(IDC_STATUS);
    EXPECT_TRUE(WaitFor([&] { return CountScreenPixels(status, RGB(0, 0, 0)) > 20; }, 5000))
        << "the status line is not drawn in black";
    EXPECT_EQ(CountScreenPixels(status, RGB(255, 0, 0)), 0);

    Click(IDC_UNINSTALL);
    Answer(kRemoveCaption, kRemoveQuestion, IDNO);
    Click(IDCANCEL);
    Answer(kQuitCaption, kQuitQuestion, IDNO);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); // the caption's close box
    Answer(kQuitCaption, kQuitQuestion, IDNO);
    EXPECT_TRUE(StillRunning());
    EXPECT_EQ(Text(IDC_UNINSTALL), "Uninstall");
    EXPECT_EQ(Text(IDC_STATUS), "Only 10/15 files found. It's safe to proceed though");
    for (int row = 0; row < kRowCount; ++row) {
        EXPECT_EQ(Exists(At(kInstalledFiles[row])), row < 10) << kInstalledFiles[row];
    }
    EXPECT_TRUE(Exists(At("Save")));

    PressEscape();
    Answer(kQuitCaption, kQuitQuestion, IDYES);
    EXPECT_EQ(ExitCode(), 0u);
    for (int row = 0; row < 10; ++row) {
        EXPECT_TRUE(Exists(At(kInstalledFiles[row]))) << kInstalledFiles[row];
    }
}

TEST_F(Uninstaller, NothingFoundShowsARedWarningThatStaysRed)
{
    PutFile(DesktopShortcut());
    Start();

    EXPECT_EQ(Text(IDC_STATUS), "Warning: No installed files found.");
    HWND status = Control(IDC_STATUS);
    EXPECT_TRUE(WaitFor([&] { return CountScreenPixels(status, RGB(255, 0, 0)) > 20; }, 5000))
        << "the warning is not drawn in red";
    EXPECT_TRUE(BoxChecked());

    ToggleBox(); // the user keeps the desktop shortcut
    EXPECT_FALSE(BoxChecked());
    Uninstall();
    EXPECT_EQ(Text(IDC_STATUS), "No files deleted");
    EXPECT_EQ(Text(IDC_STATUS2), "Not all folders have been deleted");
    EXPECT_TRUE(WaitFor([&] { return CountScreenPixels(status, RGB(255, 0, 0)) > 20; }, 5000))
        << "the report line lost its red";
    EXPECT_TRUE(Exists(DesktopShortcut()));

    Click(IDCANCEL); // still asks after the removal
    Answer(kQuitCaption, kQuitQuestion, IDNO);
    EXPECT_TRUE(StillRunning());
    Click(IDCANCEL);
    Answer(kQuitCaption, kQuitQuestion, IDYES);
    EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(Uninstaller, SavegameAndUncheckedShortcutAreKept)
{
    LayOutInstallation(folder, kEveryRow, true, true);
    PutFile(DesktopShortcut());
    Start();

    ToggleBox();
    Uninstall();
    EXPECT_EQ(Text(IDC_STATUS), "Uninstallation complete. 15 files deleted");
    EXPECT_EQ(Text(IDC_STATUS2), "Savegame folder was not deleted");
    Click(IDC_UNINSTALL);
    EXPECT_EQ(ExitCode(), 0u);

    EXPECT_TRUE(Exists(At("Save\\Slot1.ksav")));
    EXPECT_TRUE(Exists(DesktopShortcut()));
    for (int folderIndex = 0; folderIndex < 4; ++folderIndex) {
        EXPECT_FALSE(Exists(At(kAddOnFolders[folderIndex]))) << kAddOnFolders[folderIndex];
    }
}

TEST_F(Uninstaller, ReadOnlyFileIsCountedAndItsFolderKept)
{
    LayOutInstallation(folder, kEveryRow, true, false);
    SetFileAttributesA(At("System\\Kessamar.ini").c_str(), FILE_ATTRIBUTE_READONLY);
    Start();

    Uninstall();
    EXPECT_EQ(Text(IDC_STATUS), "Uninstallation incomplete: 14 of 15 found files deleted");
    EXPECT_EQ(Text(IDC_STATUS2), "Not all folders have been deleted");
    Click(IDC_UNINSTALL);
    EXPECT_EQ(ExitCode(), 0u);

    EXPECT_TRUE(Exists(At("System\\Kessamar.ini")));
    EXPECT_FALSE(Exists(At("System\\Kessamar.u")));
    EXPECT_FALSE(Exists(At("Maps")));
    EXPECT_FALSE(Exists(At("Save")));
}

} // namespace
