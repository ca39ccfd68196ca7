// End-to-end tests: the real uninstaller, started in a prepared folder and driven from outside
// the way a user would, then the disk and the exit code checked.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "gui_driver.h"
#include "report_texts.h"
#include "resource.h"
#include "wine_files.h"

namespace {

const std::string kUninstaller = BesideThisProgram("KessamarUninstaller.exe");

class Uninstaller : public InstallFolderTest {
  protected:
    void TearDown() override
    {
        EndProgram(process);
        InstallFolderTest::TearDown();
    }

    // Starts the program, the build's own unless another copy is named, in the install folder
    // ("" for this process's current folder) and waits for its dialog to be up.
    void Start(WORD showCommand = SW_SHOWNORMAL, const std::string &exe = kUninstaller,
               const char *where = nullptr)
    {
        dialog = StartUninstaller(exe, where ? where : folder, showCommand, process);
        ASSERT_TRUE(dialog != NULL) << "the dialog never appeared";
    }

    HWND Control(int id) { return GetDlgItem(dialog, id); }
    std::string Text(int id) { return WindowText(Control(id)); }
    bool BoxChecked()
    {
        return SendMessageA(Control(IDC_DELETE_SHORTCUT), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool BoxEnabled() { return IsWindowEnabled(Control(IDC_DELETE_SHORTCUT)) != FALSE; }

    void Click(int id) { ClickButton(dialog, id); }
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

    // Checks a question as the user sees it: its text, Yes and No, and No the default.
    static void CheckQuestion(HWND box, const char *question)
    {
        EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)), question);
        EXPECT_TRUE(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO));
        LONG noStyle = GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE);
        EXPECT_EQ(noStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "No must be the default";
    }

    // Waits for a question, checks it, and answers it.
    void Answer(const char *caption, const char *question, int answer)
    {
        HWND box = WaitForProcessWindow(process.dwProcessId, "#32770", caption);
        ASSERT_TRUE(box != NULL) << "no question \"" << caption << "\"";
        CheckQuestion(box, question);
        ClickButton(box, answer);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));
    }

    // Clicks Uninstall and returns its question, left open for what happens meanwhile.
    HWND OpenRemoveQuestion()
    {
        Click(IDC_UNINSTALL);
        return WaitForProcessWindow(process.dwProcessId, "#32770", kRemoveCaption);
    }

    // Answers that question Yes and waits for the report.
    void ConfirmAndWaitForReport(HWND question)
    {
        ClickButton(question, IDYES);
        ASSERT_TRUE(WaitFor([&] { return Text(IDC_UNINSTALL) == "Exit"; }));
    }

    // Removes a link that a test laid out in its folder from the Linux side.
    void RemoveLink(const char *name)
    {
        ASSERT_TRUE(StartOnLinux(folder, std::string("rm ") + name));
        EXPECT_TRUE(WaitFor([&] { return !Exists(At(name)); }));
    }

    // Confirms the removal and waits for the report.
    void Uninstall()
    {
        Click(IDC_UNINSTALL);
        Answer(kRemoveCaption, kRemoveQuestion, IDYES);
        ASSERT_TRUE(WaitFor([&] { return Text(IDC_UNINSTALL) == "Exit"; }));
    }

    // The usual ending: confirms the removal, checks both report lines, leaves with Exit.
    void UninstallAndExit(const std::string &status, const char *folders)
    {
        Uninstall();
        EXPECT_EQ(Text(IDC_STATUS), status);
        EXPECT_EQ(Text(IDC_STATUS2), folders);
        Click(IDC_UNINSTALL); // "Exit" quits without a question
        EXPECT_EQ(ExitCode(), 0u);
    }

    DWORD ExitCode()
    {
        DWORD code = STILL_ACTIVE;
        EXPECT_EQ(WaitForSingleObject(process.hProcess, kPatienceMs), WAIT_OBJECT_0)
            << "the program did not end";
        GetExitCodeProcess(process.hProcess, &code);
        return code;
    }

    PROCESS_INFORMATION process = {};
    HWND dialog = NULL;
};

// The driver's typical run, the one the demo and the benchmark use, checked at each step.
TEST_F(Uninstaller, TypicalRunFromAMaximisedStart)
{
    LayOutInstallation(folder, kEveryRow, true, false);
    PutFile(DesktopShortcut());
    DWORD exitCode = 1;
    std::string broken = RunTypically(
        kUninstaller, folder, SW_SHOWMAXIMIZED,
        [&](RunStep step, HWND shown, HWND question) {
            dialog = shown;
            if (step == kDialogReady) {
                GetWindowThreadProcessId(dialog, &process.dwProcessId);
                HWND main =
                    FindProcessWindow(process.dwProcessId, "Kessamar Uninstaller", "Uninstall KS");
                ASSERT_TRUE(main != NULL);
                EXPECT_TRUE(IsIconic(main)) << "the main window stays minimised";
                EXPECT_EQ(Text(IDC_STATUS), "All files found");
                EXPECT_EQ(Text(IDC_STATUS2), "");
                EXPECT_TRUE(BoxChecked());
                EXPECT_TRUE(BoxEnabled());
            } else if (step == kQuestionShown) {
                CheckQuestion(question, kRemoveQuestion);
            } else if (step == kReportShown) {
                EXPECT_EQ(Text(IDC_STATUS), Counted(kComplete, 16));
                EXPECT_EQ(Text(IDC_STATUS2), kAllFoldersGone);
            }
        },
        exitCode);
    EXPECT_EQ(broken, "");
    EXPECT_EQ(exitCode, 0u); // "Exit" quits without a question

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
    EXPECT_TRUE(WaitFor([&] { return CountScreenPixels(status, RGB(0, 0, 0)) > 20; }))
        << "the status line is not drawn in black";
    EXPECT_EQ(CountScreenPixels(status, RGB(255, 0, 0)), 0);

    Click(IDC_UNINSTALL);
    Answer(kRemoveCaption, kRemoveQuestion, IDNO);
    Click(IDCANCEL);
    Answer(kQuitCaption, kQuitQuestion, IDNO);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); // the caption's close box
    Answer(kQuitCaption, kQuitQuestion, IDNO);        // it runs on: the question below comes
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
    EXPECT_TRUE(WaitFor([&] { return CountScreenPixels(status, RGB(255, 0, 0)) > 20; }))
        << "the warning is not drawn in red";
    EXPECT_TRUE(BoxChecked());

    ToggleBox(); // the user keeps the desktop shortcut
    EXPECT_FALSE(BoxChecked());
    Uninstall();
    EXPECT_EQ(Text(IDC_STATUS), kNoFilesDeleted);
    EXPECT_EQ(Text(IDC_STATUS2), kFoldersLeft);
    EXPECT_TRUE(WaitFor([&] { return CountScreenPixels(status, RGB(255, 0, 0)) > 20; }))
        << "the report line lost its red";
    EXPECT_TRUE(Exists(DesktopShortcut()));

    Click(IDCANCEL);                           // still asks after the removal
    Answer(kQuitCaption, kQuitQuestion, IDNO); // it runs on: the question comes again
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
    UninstallAndExit(Counted(kComplete, 15), kSavegamesKept);

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

    UninstallAndExit(Counted(kIncomplete, 14, 15), kFoldersLeft);

    EXPECT_TRUE(Exists(At("System\\Kessamar.ini")));
    EXPECT_FALSE(Exists(At("System\\Kessamar.u")));
    EXPECT_FALSE(Exists(At("Maps")));
    EXPECT_FALSE(Exists(At("Save")));
}

// Started in a folder named "x＼..＼v" (full-width reverse solidus), whose best-fit ANSI name
// points at the sibling folder v: the program reads no folder at all rather than the wrong one.
TEST_F(Uninstaller, FolderNameReadByBestFitPointsNowhereElse)
{
    LayOutInstallation(At("v"), kEveryRow, true, false);
    wchar_t root[MAX_PATH], home[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, root, MAX_PATH);
    std::wstring lookAlike = std::wstring(root) + L"\\x\uFF3C..\uFF3Cv";
    ASSERT_TRUE(CreateDirectoryW(lookAlike.c_str(), NULL));
    GetCurrentDirectoryW(MAX_PATH, home);
    ASSERT_TRUE(SetCurrentDirectoryW(lookAlike.c_str()));
    Start(SW_SHOWNORMAL, kUninstaller, "");
    SetCurrentDirectoryW(home);

    EXPECT_EQ(Text(IDC_STATUS), "Warning: No installed files found.");
    UninstallAndExit(kNoFilesDeleted, kFoldersLeft);
    for (const char *file : kInstalledFiles) {
        EXPECT_TRUE(Exists(At("v\\") + file)) << file;
    }
    EXPECT_TRUE(Exists(At("v\\Save")));
    EXPECT_TRUE(RemoveDirectoryW(lookAlike.c_str())) << "the program's own folder was touched";
}

// Another program's click on Uninstall, and a close request as Task Manager's End task sends,
// while the question is open: neither asks again, and the removal runs once.
TEST_F(Uninstaller, NoQuestionOnTopOfAQuestion)
{
    LayOutInstallation(folder, kEveryRow, true, false);
    Start();
    HWND question = OpenRemoveQuestion();
    ASSERT_TRUE(question != NULL);
    Click(IDC_UNINSTALL);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    // Posted messages come in turn, and the close request posts Cancel's command: Cancel pushed
    // behind both, then let go behind that command, shows the question's loop past all three.
    for (BOOL push : {TRUE, FALSE}) {
        PostMessageA(Control(IDCANCEL), BM_SETSTATE, push, 0);
        ASSERT_TRUE(WaitFor([&] {
            return !(SendMessageA(Control(IDCANCEL), BM_GETSTATE, 0, 0) & BST_PUSHED) == !push;
        }));
    }
    int questions = 0;
    FindProcessWindow(process.dwProcessId, "#32770", kRemoveCaption, &questions);
    EXPECT_EQ(questions, 1) << "a second question opened";
    EXPECT_EQ(FindProcessWindow(process.dwProcessId, "#32770", kQuitCaption), (HWND)NULL);

    ConfirmAndWaitForReport(question);
    EXPECT_EQ(Text(IDC_STATUS), Counted(kComplete, 15));
    EXPECT_TRUE(
        WaitFor([&] { return !FindProcessWindow(process.dwProcessId, "#32770", kRemoveCaption); }));
    EXPECT_EQ(FindProcessWindow(process.dwProcessId, "#32770", kQuitCaption), (HWND)NULL);
    Click(IDC_UNINSTALL);
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_FALSE(Exists(At("System")));
}

// While the question is open, a user of the game folder swaps Maps for a link to a folder that
// holds files of the maps' names (from the Linux side: Wine moves what a link points to). Yes
// deletes nothing behind the link.
TEST_F(Uninstaller, FolderSwappedForALinkWhileAskingIsNotFollowed)
{
    LayOutInstallation(folder, kEveryRow, true, false);
    for (int row = 8; row < 14; ++row) {
        PutFile(At("Elsewhere\\") + kInstalledFiles[row]);
    }
    Start();
    HWND question = OpenRemoveQuestion();
    ASSERT_TRUE(question != NULL);
    ASSERT_TRUE(StartOnLinux(folder, "mv Maps Maps.real && ln -s Elsewhere/Maps Maps"));
    ASSERT_TRUE(WaitFor([&] { return IsLinkedFolder(At("Maps")); }));

    ConfirmAndWaitForReport(question);
    EXPECT_EQ(Text(IDC_STATUS), Counted(kIncomplete, 9, 15));
    EXPECT_EQ(Text(IDC_STATUS2), kFoldersLeft);
    for (int row = 8; row < 14; ++row) {
        EXPECT_TRUE(Exists(At("Elsewhere\\") + kInstalledFiles[row])) << kInstalledFiles[row];
    }
    Click(IDC_UNINSTALL);
    EXPECT_EQ(ExitCode(), 0u);
    RemoveLink("Maps");
}

// Started through a linked library folder, which is pointed at the desktop, where another copy
// of the add-on lies, while the question is open: the folder that was scanned is the one
// uninstalled. Its name has a letter code page 1252 lacks, so the program composes with the link's
// own path, which now also names the desktop shortcut: that is still deleted, as asked.
TEST_F(Uninstaller, LinkOnTheWayRepointedWhileAskingChangesNothing)
{
    std::string desktop = DesktopShortcut().substr(0, DesktopShortcut().rfind('\\'));
    LayOutInstallation(desktop, kEveryRow & ~(1u << 14), false, false);
    PutFile(DesktopShortcut());
    LayOutInstallation(At("scanned"), kEveryRow, true, false);
    wchar_t scanned[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, At("scanned").c_str(), -1, scanned, MAX_PATH);
    std::wstring unspellable = std::wstring(scanned) + L"\u0100";
    ASSERT_TRUE(MoveFileW(scanned, unspellable.c_str()));
    ASSERT_TRUE(StartOnLinux(folder, "ln -s scanned?* library"));
    ASSERT_TRUE(WaitFor([&] { return IsLinkedFolder(At("library")); }));
    Start(SW_SHOWNORMAL, kUninstaller, At("library").c_str());
    HWND question = OpenRemoveQuestion();
    ASSERT_TRUE(question != NULL);
    PutFile(desktop + "\\Repointed.txt");
    ASSERT_TRUE(StartOnLinux(
        folder, "ln -sfn \\\"$WINEPREFIX/drive_c/users/$(id -un)/Desktop\\\" library"));
    ASSERT_TRUE(WaitFor([&] { return Exists(At("library\\Repointed.txt")); }));

    ConfirmAndWaitForReport(question);
    EXPECT_EQ(Text(IDC_STATUS), Counted(kComplete, 16));
    EXPECT_EQ(Text(IDC_STATUS2), kAllFoldersGone);
    Click(IDC_UNINSTALL);
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_TRUE(MoveFileW(unspellable.c_str(), scanned));
    EXPECT_FALSE(Exists(DesktopShortcut()));
    for (int row = 0; row < 14; ++row) {
        EXPECT_TRUE(Exists(desktop + "\\" + kInstalledFiles[row])) << kInstalledFiles[row];
    }
    for (const char *added : kAddOnFolders) {
        EXPECT_FALSE(Exists(At("scanned\\") + added)) << added;
        RemoveTree(desktop + "\\" + added);
    }
    DeleteFileA((desktop + "\\Readme.txt").c_str());
    DeleteFileA((desktop + "\\Repointed.txt").c_str());
    RemoveLink("library");
}

// Under code page 932 the second byte of many characters, as of 表 (0x95 0x5C), is the byte of
// "\": a folder whose name ends in one is still the folder, not a folder and a separator.
TEST_F(Uninstaller, FolderNameEndingInTheByteOfASeparator)
{
    if (GetACP() != 932) {
        GTEST_SKIP() << "needs code page 932: ctest runs it so as Uninstaller.CodePage932";
    }
    std::string install = At("\x95\x5C");
    LayOutInstallation(install, kEveryRow, true, false);
    Start(SW_SHOWNORMAL, kUninstaller, install.c_str());
    UninstallAndExit(Counted(kComplete, 15), kAllFoldersGone);
    for (const char *added : kAddOnFolders) {
        EXPECT_FALSE(Exists(install + "\\" + added)) << added;
    }
}

// The game on a drive of its own: the install folder is a drive's root, "K:\\".
TEST_F(Uninstaller, InstallationAtTheRootOfADrive)
{
    LayOutInstallation(folder, kEveryRow, true, false);
    ASSERT_TRUE(
        StartOnLinux(folder, "ln -sfn \\\"$(pwd -P)\\\" \\\"$WINEPREFIX/dosdevices/k:\\\""));
    ASSERT_TRUE(WaitFor([&] { return Exists("K:\\Readme.txt"); }));
    Start(SW_SHOWNORMAL, kUninstaller, "K:\\");
    UninstallAndExit(Counted(kComplete, 15), kAllFoldersGone);
    for (const char *added : kAddOnFolders) {
        EXPECT_FALSE(Exists(At(added))) << added;
    }
    EXPECT_TRUE(Exists(At("Readme.txt")));
    ASSERT_TRUE(StartOnLinux(folder, "rm \\\"$WINEPREFIX/dosdevices/k:\\\""));
    EXPECT_TRUE(WaitFor([&] { return !Exists("K:\\Readme.txt"); }));
}

// The program copied into the game folder, beside a planted uxtheme.dll, with Wine told to
// prefer a library in the program's folder, as Windows does for libraries outside KnownDLLs. A
// manifest planted beside it names the library as one of the program's own files, which would
// send the load to that folder before any search path is asked.
TEST_F(Uninstaller, LibraryPlantedBesideTheProgramIsNeverLoaded)
{
    LayOutInstallation(folder, kEveryRow, true, false);
    std::string exe = At("KessamarUninstaller.exe");
    ASSERT_TRUE(CopyFileA(kUninstaller.c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(BesideThisProgram("planted\\uxtheme.dll").c_str(),
                          At("uxtheme.dll").c_str(), FALSE));
    PutFile(exe + ".manifest",
            "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
            "<assemblyIdentity type=\"win32\" name=\"Planted\" version=\"1.0.0.0\"/>"
            "<file name=\"uxtheme.dll\"/></assembly>");
    // Wine's load order for this program alone: a library in the program's folder first.
    const char key[] = "Software\\Wine\\AppDefaults\\KessamarUninstaller.exe\\DllOverrides";
    HKEY overrides = NULL;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &overrides, NULL),
        ERROR_SUCCESS);
    RegSetValueExA(overrides, "uxtheme", 0, REG_SZ, (const BYTE *)"native,builtin", 15);
    RegCloseKey(overrides);
    Start(SW_SHOWNORMAL, exe);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);

    Click(IDCANCEL);
    Answer(kQuitCaption, kQuitQuestion, IDYES);
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_FALSE(Exists(At("planted-library-loaded")));
}

} // namespace
