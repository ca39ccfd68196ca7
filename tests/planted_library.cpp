// A library planted beside the program under test: when loaded, it leaves a marker in its folder.
#include <windows.h>

#include <string.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    char marker[MAX_PATH + 32] = "";
    GetModuleFileNameA(self, marker, MAX_PATH);
    char *name = strrchr(marker, '\\');
    if (name) {
        strcpy(name + 1, "planted-library-loaded");
        CloseHandle(CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    }
    return FALSE; // refuse to stay, so that the program goes on with the system's own library
}
