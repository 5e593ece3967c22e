/* A DLL planted beside Wirenest.exe under the name of a system DLL or of a
   language module.  When its DllMain runs it leaves "<its own path>.ran"
   and does nothing else, so the test sees which planted names were run. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
    (void)lpvReserved;
    if (fdwReason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD n = GetModuleFileNameA(hinstDLL, path, MAX_PATH);
        if (n && n < MAX_PATH) {
            HANDLE h;
            lstrcatA(path, ".ran");
            h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
    }
    return TRUE;
}
