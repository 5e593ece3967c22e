#include "platform/dllsearch.h"

#include <string.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI* PFN_SETDEFAULTDLLDIRECTORIES)(DWORD);
typedef BOOL(WINAPI* PFN_SETDLLDIRECTORYA)(LPCSTR);

// A DLL already loaded is found by its name, so loading these from the
// system folder first leaves a planted copy unused where the search cannot
// be confined, and where a loader resolves delay-loads by the program's own
// folder whatever the confined search says (Wine 10 does, for comctl32's
// uxtheme).
static const LPCSTR s_apszPreloads[] = {WIRENEST_SYSTEM_PRELOADS};

HMODULE LoadSystemLibrary(LPCSTR lpszFileName)
{
    CHAR szPath[MAX_PATH];
    const UINT cchDir = ::GetSystemDirectoryA(szPath, MAX_PATH);
    const size_t cchName = strlen(lpszFileName);
    if (cchDir == 0 || cchDir + 1 + cchName >= MAX_PATH) return nullptr;
    szPath[cchDir] = '\\';
    memcpy(szPath + cchDir + 1, lpszFileName, cchName + 1);
    // The DLL's own imports are then looked for in the system folder first,
    // not beside the program.
    return ::LoadLibraryExA(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RestrictDllSearchToSystem()
{
    // Looked up, not imported, so that the program still starts on 2000.
    HMODULE hKernel = ::GetModuleHandleA("kernel32.dll");
    if (!hKernel) return;

    // Windows 8, and 7 with KB2533623: the loader itself keeps every load by
    // name in the system folder.
    FARPROC pfn = ::GetProcAddress(hKernel, "SetDefaultDllDirectories");
    if (!pfn || !reinterpret_cast<PFN_SETDEFAULTDLLDIRECTORIES>(pfn)(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        // XP SP1 to 7: at least the current folder leaves the search.
        pfn = ::GetProcAddress(hKernel, "SetDllDirectoryA");
        if (pfn) reinterpret_cast<PFN_SETDLLDIRECTORYA>(pfn)("");
    }

    // On every system (see the list above); they stay loaded for the life
    // of the process.
    for (LPCSTR lpszName : s_apszPreloads) LoadSystemLibrary(lpszName);
}
