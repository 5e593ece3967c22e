/* A DLL planted beside Wirenest.exe under the name of a system DLL or of a
   language module.  Each time its DllMain runs for a process it adds a line
   to "<its own path>.ran" and does nothing else, so the test sees which
   planted names were run, and how often. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
    char path[MAX_PATH + 8];
    DWORD n, written;
    HANDLE h;

    (void)lpvReserved;
    if (fdwReason != DLL_PROCESS_ATTACH || !(n = GetModuleFileNameA(hinstDLL, path, MAX_PATH)) || n >= MAX_PATH)
        return TRUE;
    h = CreateFileA(lstrcatA(path, ".ran"), FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE)
    {
        WriteFile(h, "ran\r\n", 5, &written, NULL);
        CloseHandle(h);
    }
    return TRUE;
}
