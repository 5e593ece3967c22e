/*
 * Baseline.exe: the installer's work written straight against the Windows
 * API, the yardstick Wirenest.exe is timed against.  Linked with
 * Wirenest's own resources, it makes the same calls for the same visible
 * result: the DLL search confined, the language module mapped as data, the
 * dialog with its lines, icon and About entry, centred; on OK the secured
 * folders, the three copies checked under a named mutex, one registration
 * through setupapi.dll by full path, and the result box.  Not a product.
 */
#include <windows.h>
#include <sddl.h>
#include <setupapi.h>
#include <mbctype.h>
#include <mbstring.h>
#include <stdio.h>
#include <string.h>

#include "platform/dllsearch.h"
#include "resource.h"

#define SETTINGS_KEY "SOFTWARE\\Ombrel\\Pelmora\\Settings"
#define PACKAGE "Ombrel_K58_USB_Driver-Win2kXp_Modem"
#define TARGET_ROOT "C:\\RuruRIZIrizuViz"
#define TARGET_FOLDER TARGET_ROOT "\\" PACKAGE

static const char *const g_files[] = {"OMK58CDC.INF", "OMK58CDC.sys", "OMK58_un.exe"};
#define FILE_COUNT (sizeof(g_files) / sizeof(g_files[0]))

static HMODULE g_hLang;           /* the language module: the user's texts */
static char g_szDir[MAX_PATH];    /* the executable's folder, no backslash */
static char g_szName[MAX_PATH];   /* its name without extension: box captions */

static DWORD ReadNumber(HKEY hKey, const char *name, BOOL *pRead)
{
    DWORD value = 0, cb = sizeof(value);
    *pRead = RegQueryValueExA(hKey, name, NULL, NULL, (BYTE *)&value, &cb) == ERROR_SUCCESS;
    return *pRead ? value : 0;
}

static const char *LanguageModule(void)
{
    DWORD prim = 0, sub = 0;
    BOOL read;
    HKEY hKey;
    if (RegOpenKeyA(HKEY_CURRENT_USER, SETTINGS_KEY, &hKey) == ERROR_SUCCESS)
    {
        prim = ReadNumber(hKey, "PrimLangID", &read);
        if (read) sub = ReadNumber(hKey, "SubLangID", &read);
        RegCloseKey(hKey);
    }
    if (prim == 4 && sub == 1) return "\\DravikChtRes.dll";
    if (prim == 4 && sub == 2) return "\\DravikChsRes.dll";
    if (prim == 10 && sub == 3) return "\\DravikSpnRes.dll";
    if (prim == 30) return "\\DravikThaiRes.dll";
    return "\\DravikEngRes.dll";
}

/* Splits the executable's path into folder and name; the cut is made at a
   real backslash of the ANSI code page, never at a trail byte. */
static void ReadModulePath(void)
{
    char path[MAX_PATH];
    unsigned char *slash, *dot;
    DWORD len = GetModuleFileNameA(NULL, path, sizeof(path));
    if (len == 0 || len >= sizeof(path)) path[0] = 0;
    slash = _mbsrchr((unsigned char *)path, '\\');
    lstrcpynA(g_szName, slash ? (char *)slash + 1 : path, sizeof(g_szName));
    if ((dot = _mbsrchr((unsigned char *)g_szName, '.'))) *dot = 0;
    if (slash) *slash = 0;
    lstrcpyA(g_szDir, path);
}

static BOOL SameBytes(const char *source, const char *target)
{
    HANDLE h1 = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE h2 = CreateFileA(target, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    BOOL same = h1 != INVALID_HANDLE_VALUE && h2 != INVALID_HANDLE_VALUE;
    while (same)
    {
        BYTE b1[4096], b2[4096];
        DWORD n1 = 0, n2 = 0;
        same = ReadFile(h1, b1, sizeof(b1), &n1, NULL) && ReadFile(h2, b2, sizeof(b2), &n2, NULL)
               && n1 == n2 && !memcmp(b1, b2, n1);
        if (n1 == 0) break;
    }
    if (h1 != INVALID_HANDLE_VALUE) CloseHandle(h1);
    if (h2 != INVALID_HANDLE_VALUE) CloseHandle(h2);
    return same;
}

typedef BOOL(WINAPI *SETUPCOPYOEMINFA)(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR *);

static BOOL Register(void)
{
    char path[MAX_PATH], stored[MAX_PATH];
    HMODULE hSetupApi;
    SETUPCOPYOEMINFA pfn;
    BOOL ok = FALSE;
    UINT n = GetSystemDirectoryA(path, MAX_PATH - 16);
    if (!n || n >= MAX_PATH - 16) return FALSE;
    lstrcatA(path, "\\setupapi.dll");
    if (!(hSetupApi = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH))) return FALSE;
    pfn = (SETUPCOPYOEMINFA)(void *)GetProcAddress(hSetupApi, "SetupCopyOEMInfA");
    if (pfn)
        ok = pfn(TARGET_FOLDER "\\OMK58CDC.INF", NULL, SPOST_PATH, SP_COPY_NOOVERWRITE, stored,
                 sizeof(stored), NULL, NULL);
    FreeLibrary(hSetupApi);
    return ok;
}

/* Each folder through one handle that shares only reading: looked at by
   name, opened, checked, and given its owner and DACL through the handle,
   as Wirenest does. */
static BOOL ProtectFolder(const char *path, PSECURITY_DESCRIPTOR sd)
{
    BY_HANDLE_FILE_INFORMATION info;
    DWORD attr = GetFileAttributesA(path);
    HANDLE h;
    BOOL ok;
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_REPARSE_POINT)) return FALSE;
    h = CreateFileA(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | FILE_READ_DATA,
                    FILE_SHARE_READ, NULL, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    ok = GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
         && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
         && SetKernelObjectSecurity(h, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sd);
    CloseHandle(h);
    return ok;
}

static BOOL Protect(void)
{
    PSECURITY_DESCRIPTOR sd;
    DWORD flags = 0;
    BOOL ok;
    if (!GetVolumeInformationA("C:\\", NULL, 0, NULL, NULL, &flags, NULL, 0)) return FALSE;
    if (!(flags & FS_PERSISTENT_ACLS)) return TRUE;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1, &sd, NULL))
        return FALSE;
    ok = ProtectFolder(TARGET_ROOT, sd) && ProtectFolder(TARGET_FOLDER, sd);
    LocalFree(sd);
    return ok;
}

static BOOL Install(void)
{
    char source[MAX_PATH * 2], target[MAX_PATH];
    BOOL ok;
    size_t i;
    HANDLE lock = CreateMutexA(NULL, FALSE, "Baseline." PACKAGE);

    if (!lock || WaitForSingleObject(lock, 30000) == WAIT_TIMEOUT)
    {
        if (lock) CloseHandle(lock);
        return FALSE;
    }
    CreateDirectoryA(TARGET_ROOT, NULL);
    CreateDirectoryA(TARGET_FOLDER, NULL);
    ok = Protect();
    /* All three copied, then all three checked: they have to hold up
       before the INF goes to the system. */
    for (i = 0; i < 2 * FILE_COUNT && ok; i++)
    {
        wsprintfA(source, "%s\\" PACKAGE "\\%s", g_szDir, g_files[i % FILE_COUNT]);
        wsprintfA(target, TARGET_FOLDER "\\%s", g_files[i % FILE_COUNT]);
        if (i < FILE_COUNT) CopyFileA(source, target, TRUE);
        else ok = SameBytes(source, target);
    }
    ok = ok && Register();
    ReleaseMutex(lock);
    CloseHandle(lock);
    return ok;
}

static void OnOK(HWND hDlg)
{
    char text[1024];
    DWORD version = GetVersion();
    /* Not the NT family: Windows 9x ends quietly, Win32s is told why. */
    if ((version & 0x80000000) && LOBYTE(version) < 4)
    {
        MessageBoxA(hDlg, "For Windows only !", g_szName, MB_OK | MB_ICONHAND);
        return;
    }
    if (!(version & 0x80000000))
    {
        LoadStringA(g_hLang, Install() ? 3 : 4, text, sizeof(text));
        MessageBoxA(hDlg, text, g_szName, MB_OK | MB_ICONINFORMATION);
    }
    EndDialog(hDlg, IDOK);
}

static void OnInitDialog(HWND hDlg)
{
    HICON hIcon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APP));
    HMENU hMenu = GetSystemMenu(hDlg, FALSE);
    char text[1024];
    RECT rc, work;

    GetWindowRect(hDlg, &rc);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(hDlg, NULL, (work.left + work.right) / 2 - (rc.right - rc.left) / 2,
                 (work.top + work.bottom) / 2 - (rc.bottom - rc.top) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);

    /* The About entry as Wirenest adds it; no run of the benchmark opens it. */
    if (hMenu && LoadStringA(NULL, IDS_ABOUT_MENU, text, sizeof(text)) > 0)
    {
        AppendMenuA(hMenu, MF_SEPARATOR, 0, NULL);
        AppendMenuA(hMenu, MF_STRING, ID_SYSMENU_ABOUT, text);
    }
    SendMessageA(hDlg, WM_SETICON, ICON_BIG, (LPARAM)hIcon);
    SendMessageA(hDlg, WM_SETICON, ICON_SMALL, (LPARAM)hIcon);

    /* The template's lines are placeholders, replaced even by empty texts. */
    if (LoadStringA(g_hLang, 1, text, sizeof(text)) <= 0) text[0] = 0;
    SetDlgItemTextA(hDlg, IDC_STEP1_TEXT, text);
    if (LoadStringA(g_hLang, 2, text, sizeof(text)) <= 0) text[0] = 0;
    SetDlgItemTextA(hDlg, IDC_STEP2_TEXT, text);
}

static INT_PTR CALLBACK InstallerProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (msg)
    {
    case WM_INITDIALOG:
        OnInitDialog(hDlg);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) OnOK(hDlg);
        else if (LOWORD(wParam) == IDCANCEL) EndDialog(hDlg, IDCANCEL);
        else return FALSE;
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPSTR cmdLine, int show)
{
    char path[MAX_PATH * 2];
    (void)hPrev, (void)cmdLine, (void)show;

    {
        /* The same start-up as Wirenest's: the search confined, then the
           DLLs the dialog and the Setup API load by name taken from the
           system folder by full path. */
        static const char *const preloads[] = { WIRENEST_SYSTEM_PRELOADS };
        typedef BOOL(WINAPI *SETDEFAULTDLLDIRECTORIES)(DWORD);
        SETDEFAULTDLLDIRECTORIES pfn = (SETDEFAULTDLLDIRECTORIES)(void *)GetProcAddress(
            GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
        UINT i, n = GetSystemDirectoryA(path, MAX_PATH);
        if (pfn) pfn(0x800);  /* LOAD_LIBRARY_SEARCH_SYSTEM32 */
        for (i = 0; n && n < MAX_PATH && i < sizeof(preloads) / sizeof(preloads[0]); i++)
        {
            wsprintfA(path + n, "\\%s", preloads[i]);
            LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    _setmbcp(_MB_CP_ANSI);
    ReadModulePath();
    wsprintfA(path, "%s%s", g_szDir, LanguageModule());
    if (!(g_hLang = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE)))
    {
        char text[MAX_PATH * 3];
        wsprintfA(text, "Couldn't load file with path: %s.", path);
        MessageBoxA(NULL, text, "Error", MB_ICONHAND);
        return 0;
    }
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_INSTALLER), NULL, InstallerProc, 0);
    FreeLibrary(g_hLang);
    return 0;
}
