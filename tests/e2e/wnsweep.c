/*
 * wnsweep: runs a program many times in one go, each run after its own
 * registry layout, and tells how each run ended.  Starting a Wine process
 * from Linux costs most of a second; starting the program from here, inside
 * the prefix, costs far less, so hundreds of runs fit in a few minutes.
 *
 *   wnsweep <case file> [timeout_ms]
 *
 * The case file holds one step per line, fields separated by tabs:
 *
 *   delkey <HKCU\key>                        the key and all below it
 *   mkkey  <HKCU\key>                        an (empty) key
 *   set    <HKCU\key> <name> <type> <hex|->  a value of exactly these bytes
 *   run    <id> <exe path> <cancel|ok>       start the program, see what it shows
 *
 * Each run prints one JSON line on stdout:
 *   "outcome": "dialog" (a visible window captioned "Wirenest" holding the
 *   instruction lines), "error" (a visible window captioned "Error"),
 *   "other" (some other visible window), "exited" (ended before any window
 *   showed) or "hang" (no window within the time limit);
 *   "windows": the captions of the program's visible windows at that moment;
 *   "lines" (dialog): the texts of the two instruction lines;
 *   "modules" (dialog): the file names of the files the program mapped
 *   from its own folder, as modules or as data;
 *   "message" (error): the box's text;
 *   "result" (ok pressed): the caption and text of the box OK brought up;
 *   "exit": the exit code, or null if the program had to be killed;
 *   "values": each value set since the previous run as the registry gives
 *   it back (type, hex bytes), or the error reading it.
 * A step that cannot be done prints {"ok":false,...} and the sweep goes on.
 *
 * Before and after each run a line "wnsweep: begin <id>" / "wnsweep: end
 * <id>" goes to stderr.  The program inherits that stderr, so whatever Wine
 * prints about it (a crash above all) lands between the two.
 */

#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wnshared.h"

#define DEFAULT_TIMEOUT_MS 10000
#define POLL_MS 20
#define MSGBOX_TEXT_ID 0xFFFF
#define IDC_STEP1_TEXT 1001
#define IDC_STEP2_TEXT 1002
#define MAX_FIELDS 8
#define MAX_VALUE 1024
#define MAX_SET 16

static DWORD g_timeout = DEFAULT_TIMEOUT_MS;

/* ---- output ---------------------------------------------------------- */

static void PutHex(const BYTE *p, DWORD n)
{
    DWORD i;
    putchar('"');
    for (i = 0; i < n; i++) printf("%02x", p[i]);
    putchar('"');
}

static void StepFailed(int line, const char *what, LONG err)
{
    printf("{\"ok\":false,\"line\":%d,\"error\":", line);
    PutJsonStringA(what);
    printf(",\"lasterror\":%ld}\n", err);
    fflush(stdout);
}

/* ---- registry -------------------------------------------------------- */

/* Hex pairs into bytes; "-" is no bytes.  -1 if malformed. */
static int ParseHex(const char *hex, BYTE *data, DWORD max)
{
    DWORD n = 0;
    if (!strcmp(hex, "-")) return 0;
    for (; hex[0]; hex += 2)
    {
        if (HexDigit(hex[0]) < 0 || !hex[1] || HexDigit(hex[1]) < 0 || n == max) return -1;
        data[n++] = (BYTE)(HexDigit(hex[0]) * 16 + HexDigit(hex[1]));
    }
    return (int)n;
}

static LONG DeleteKey(const char *path)
{
    const char *sub;
    HKEY root = ParseKey(path, &sub);
    LONG err;
    if (!root || !sub[0]) return ERROR_INVALID_PARAMETER;
    err = RegDeleteTreeA(root, sub);
    return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
}

static LONG MakeKey(const char *path)
{
    const char *sub;
    HKEY root = ParseKey(path, &sub), key;
    LONG err;
    if (!root) return ERROR_INVALID_PARAMETER;
    if ((err = RegCreateKeyExA(root, sub, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL))) return err;
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

static LONG SetValue(const char *path, const char *name, DWORD type, const char *hex)
{
    /* One byte more than the data, never zero: for string types
       RegSetValueExA counts in a terminator when the last byte is not NUL
       and the byte after it is, and the value must hold exactly the bytes
       given. */
    BYTE data[MAX_VALUE + 1];
    const char *sub;
    HKEY root = ParseKey(path, &sub), key;
    int n = ParseHex(hex, data, MAX_VALUE);
    LONG err;

    if (!root || n < 0) return ERROR_INVALID_PARAMETER;
    data[n] = 0xA5;
    if ((err = RegCreateKeyExA(root, sub, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL))) return err;
    err = RegSetValueExA(key, name, 0, type, data, (DWORD)n);
    RegCloseKey(key);
    return err;
}

/* The value as a program reading it with RegQueryValueExA gets it, given
   room enough. */
static void PutValue(const char *path, const char *name)
{
    BYTE data[MAX_VALUE + 2];
    DWORD type = 0, size = MAX_VALUE;
    const char *sub;
    HKEY root = ParseKey(path, &sub), key;
    LONG err = root ? RegOpenKeyExA(root, sub, 0, KEY_QUERY_VALUE, &key) : ERROR_INVALID_PARAMETER;

    printf("{\"key\":");
    PutJsonStringA(path);
    printf(",\"name\":");
    PutJsonStringA(name);
    if (!err)
    {
        err = RegQueryValueExA(key, name, NULL, &type, data, &size);
        RegCloseKey(key);
    }
    if (err) printf(",\"error\":%ld}", err);
    else
    {
        printf(",\"type\":%lu,\"hex\":", type);
        PutHex(data, size);
        printf("}");
    }
}

/* ---- windows of the program ------------------------------------------ */

static void PutText(HWND h)
{
    WCHAR text[4096];
    int len = h ? GetTextW(h, text, 4096) : -1;
    if (len < 0) printf("null");
    else PutJsonStringW(text, len);
}

static BOOL HasCaption(HWND h, const WCHAR *caption)
{
    WCHAR text[256];
    return GetTextW(h, text, 256) >= 0 && !lstrcmpW(text, caption);
}

#define MAX_WINDOWS 16

typedef struct
{
    DWORD pid;
    HWND except;
    HWND found[MAX_WINDOWS];
    int count;
} VISIBLEWINDOWS;

static BOOL CALLBACK VisibleWindowsProc(HWND h, LPARAM lp)
{
    VISIBLEWINDOWS *vw = (VISIBLEWINDOWS *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == vw->pid && h != vw->except && IsWindowVisible(h) && vw->count < MAX_WINDOWS)
        vw->found[vw->count++] = h;
    return TRUE;
}

/* The visible top-level windows of a process, but one. */
static int VisibleWindows(DWORD pid, HWND except, VISIBLEWINDOWS *vw)
{
    vw->pid = pid;
    vw->except = except;
    vw->count = 0;
    EnumWindows(VisibleWindowsProc, (LPARAM)vw);
    return vw->count;
}

static void PutCaptions(const VISIBLEWINDOWS *vw)
{
    int i;
    printf(",\"windows\":[");
    for (i = 0; i < vw->count; i++)
    {
        if (i) putchar(',');
        PutText(vw->found[i]);
    }
    printf("]");
}

/* Names of the files the process has mapped from its own folder, as
   modules or as data (the language module is mapped as data, which the
   module list does not show), the executable itself left out.  Mapped
   names come back as NT paths, so the folder is compared without its
   drive. */
static void PutOwnModules(DWORD pid, const char *exe)
{
    const char *slash = strrchr(exe, '\\');
    const char *folder = strchr(exe, '\\');
    int cchFolder = slash && folder ? (int)(slash - folder) + 1 : 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    MEMORY_BASIC_INFORMATION mbi;
    const BYTE *at = NULL;
    int n = 0;

    printf(",\"modules\":[");
    while (process && cchFolder && VirtualQueryEx(process, at, &mbi, sizeof(mbi)) == sizeof(mbi))
    {
        char name[MAX_PATH];
        DWORD cch;
        if (mbi.BaseAddress == mbi.AllocationBase && (mbi.Type == MEM_MAPPED || mbi.Type == MEM_IMAGE)
            && (cch = GetMappedFileNameA(process, mbi.BaseAddress, name, sizeof(name))) != 0)
        {
            const char *file = strrchr(name, '\\');
            int dir = file ? (int)(file - name) + 1 : 0;
            if (file && dir >= cchFolder
                && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name + dir - cchFolder, cchFolder,
                                  folder, cchFolder) == CSTR_EQUAL
                && lstrcmpiA(file + 1, slash + 1))
            {
                printf("%s", n++ ? "," : "");
                PutJsonStringA(file + 1);
            }
        }
        at = (const BYTE *)mbi.BaseAddress + mbi.RegionSize;
        if (at < (const BYTE *)mbi.BaseAddress) break;  /* wrapped: the end of the address space */
    }
    if (process) CloseHandle(process);
    printf("]");
}

/* A press on a button of another process's window.  Posted, never sent:
   the handler may open a modal box and would block the sweep. */
static BOOL Press(HWND window, int id)
{
    HWND button = GetDlgItem(window, id);
    return button && PostMessageA(button, BM_CLICK, 0, 0);
}

/* The first visible window of the process other than `except`. */
static HWND WaitWindow(HANDLE process, DWORD pid, HWND except, DWORD timeout)
{
    VISIBLEWINDOWS vw;
    DWORD start = GetTickCount();
    for (;;)
    {
        if (VisibleWindows(pid, except, &vw)) return vw.found[0];
        if (WaitForSingleObject(process, POLL_MS) == WAIT_OBJECT_0) return NULL;
        if (GetTickCount() - start >= timeout) return NULL;
    }
}

/* ---- one run --------------------------------------------------------- */

typedef struct
{
    char key[512];
    char name[256];
} SETVALUE;

static void Run(const char *id, const char *exe, BOOL ok, const SETVALUE *set, int nset)
{
    static const WCHAR wirenest[] = { 'W','i','r','e','n','e','s','t',0 };
    static const WCHAR error[] = { 'E','r','r','o','r',0 };
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    VISIBLEWINDOWS vw;
    char cmdline[MAX_PATH + 3], dir[MAX_PATH], *slash;
    DWORD start, code = 0, waited;
    HWND window = NULL;
    BOOL exited = FALSE;
    int i;

    fprintf(stderr, "wnsweep: begin %s\n", id);
    fflush(stderr);
    printf("{\"ok\":true,\"id\":");
    PutJsonStringA(id);
    printf(",\"values\":[");
    for (i = 0; i < nset; i++)
    {
        if (i) putchar(',');
        PutValue(set[i].key, set[i].name);
    }
    printf("]");

    lstrcpynA(dir, exe, MAX_PATH);
    if ((slash = strrchr(dir, '\\'))) *slash = 0;
    wsprintfA(cmdline, "\"%s\"", exe);
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    start = GetTickCount();
    if (!CreateProcessA(exe, cmdline, NULL, NULL, FALSE, 0, NULL, dir, &si, &pi))
    {
        printf(",\"outcome\":\"not started\",\"lasterror\":%lu}\n", GetLastError());
        fflush(stdout);
        return;
    }

    /* Whatever shows first: the program shows one window at a time. */
    for (;;)
    {
        if (VisibleWindows(pi.dwProcessId, NULL, &vw)) break;
        if (WaitForSingleObject(pi.hProcess, POLL_MS) == WAIT_OBJECT_0) { exited = TRUE; break; }
        if (GetTickCount() - start >= g_timeout) break;
    }
    waited = GetTickCount() - start;
    if (vw.count)
    {
        PutCaptions(&vw);
        window = vw.found[0];
        for (i = 0; i < vw.count; i++)
            if (HasCaption(vw.found[i], error) || HasCaption(vw.found[i], wirenest)) window = vw.found[i];
        if (HasCaption(window, error))
        {
            printf(",\"outcome\":\"error\",\"message\":");
            PutText(GetDlgItem(window, MSGBOX_TEXT_ID));
            Press(window, IDOK);
        }
        else if (HasCaption(window, wirenest) && GetDlgItem(window, IDC_STEP1_TEXT))
        {
            printf(",\"outcome\":\"dialog\",\"lines\":[");
            PutText(GetDlgItem(window, IDC_STEP1_TEXT));
            putchar(',');
            PutText(GetDlgItem(window, IDC_STEP2_TEXT));
            printf("]");
            PutOwnModules(pi.dwProcessId, exe);
            if (ok && Press(window, IDOK))
            {
                /* OK installs, then tells the result in a box of its own. */
                HWND box = WaitWindow(pi.hProcess, pi.dwProcessId, window, g_timeout);
                printf(",\"result\":");
                if (!box) printf("null");
                else
                {
                    printf("{\"caption\":");
                    PutText(box);
                    printf(",\"message\":");
                    PutText(GetDlgItem(box, MSGBOX_TEXT_ID));
                    printf("}");
                    Press(box, IDOK);
                }
            }
            else Press(window, IDCANCEL);
        }
        else printf(",\"outcome\":\"other\"");
    }
    else printf(",\"outcome\":\"%s\"", exited ? "exited" : "hang");
    printf(",\"wait_ms\":%lu", waited);

    /* After the press (or none), the program has to end by itself. */
    if (WaitForSingleObject(pi.hProcess, g_timeout) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code))
        printf(",\"exit\":%lu", code);
    else
    {
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, g_timeout);
        printf(",\"exit\":null");
    }
    printf(",\"ms\":%lu}\n", GetTickCount() - start);
    fflush(stdout);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    fprintf(stderr, "wnsweep: end %s\n", id);
    fflush(stderr);
}

/* ---- the case file --------------------------------------------------- */

static int SplitFields(char *line, char **fields)
{
    int n = 0;
    char *p = line, *tab;
    line[strcspn(line, "\r\n")] = 0;
    if (!*line) return 0;
    while (n < MAX_FIELDS)
    {
        fields[n++] = p;
        if (!(tab = strchr(p, '\t'))) break;
        *tab = 0;
        p = tab + 1;
    }
    return n;
}

int main(int argc, char **argv)
{
    static char line[8192];
    static SETVALUE set[MAX_SET];
    char *f[MAX_FIELDS];
    int n, lineno = 0, nset = 0;
    LONG err;
    FILE *cases;

    if (argc < 2)
        return Usage("wnsweep <case file> [timeout_ms]");
    if (argc > 2) g_timeout = strtoul(argv[2], NULL, 0);
    /* Each run's line goes out whole, in one write: a crashing program's
       debugger writes into the same file meanwhile. */
    setvbuf(stdout, NULL, _IOFBF, 1 << 16);
    if (!(cases = fopen(argv[1], "r"))) return Fail("cannot open the case file");
    /* A message box or an error dialog of our own would stop the sweep. */
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    while (fgets(line, sizeof(line), cases))
    {
        lineno++;
        if (!(n = SplitFields(line, f)) || f[0][0] == '#') continue;
        if (!strcmp(f[0], "delkey") && n == 2) err = DeleteKey(f[1]);
        else if (!strcmp(f[0], "mkkey") && n == 2) err = MakeKey(f[1]);
        else if (!strcmp(f[0], "set") && n == 5)
        {
            err = SetValue(f[1], f[2], strtoul(f[3], NULL, 0), f[4]);
            if (!err && nset < MAX_SET)
            {
                lstrcpynA(set[nset].key, f[1], sizeof(set[nset].key));
                lstrcpynA(set[nset].name, f[2], sizeof(set[nset].name));
                nset++;
            }
        }
        else if (!strcmp(f[0], "run") && n == 4)
        {
            Run(f[1], f[2], !strcmp(f[3], "ok"), set, nset);
            nset = 0;
            continue;
        }
        else err = ERROR_BAD_FORMAT;
        if (err) StepFailed(lineno, f[0], err);
    }
    fclose(cases);
    printf("{\"ok\":true,\"done\":%d}\n", lineno);
    fflush(stdout);
    return 0;
}
