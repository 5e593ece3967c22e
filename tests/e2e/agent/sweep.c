/*
 * sweep <case file> [timeout_ms]: starts the program many times from inside
 * the prefix, each run after its own registry layout, and tells how each
 * run ended.  The case file holds one step per line, fields split by tabs:
 *
 *   delkey <HKCU\key>                        the key and all below it
 *   mkkey  <HKCU\key>                        an (empty) key
 *   set    <HKCU\key> <name> <type> <hex|->  a value of exactly these bytes
 *   copy   <file> <to>                       a file put in place (a module of the next run)
 *   run    <id> <exe path> <cancel|ok>       start the program, see what it shows
 *
 * Each run prints one JSON line: "outcome" is "dialog" (a visible window
 * "Wirenest" holding the instruction lines: their texts in "lines", and
 * in "modules" the files it mapped from its own folder, as modules or as
 * data), "error" (a visible window "Error": its text in "message"),
 * "other", "exited" (before any window showed) or "hang"; "windows" the
 * captions of its visible windows then; "result" (ok pressed) the caption
 * and text of the box OK brought up; "exit" the exit code, null if it had
 * to be killed.  After each set, one line tells the value as the registry
 * gives it back ("key", "name", "type", "hex") or the error reading it.
 * A step that cannot be done prints {"ok":false,...} and the sweep goes on.
 *
 * Around each run "sweep: begin <id>" / "sweep: end <id>" go to stderr,
 * which the program inherits: whatever Wine prints about it (a crash above
 * all) lands between the two.
 */

#include "agent.h"
#include <psapi.h>

#define DEFAULT_TIMEOUT_MS 10000
#define POLL_MS 20
#define MAX_FIELDS 8
#define MAX_WINDOWS 16

static DWORD g_timeout = DEFAULT_TIMEOUT_MS;

static LONG MakeKey(const char *path)
{
    HKEY key;
    LONG err = OpenRegKey(path, KEY_SET_VALUE, TRUE, &key);
    if (!err) RegCloseKey(key);
    return err;
}

/* The value as a program reading it with RegQueryValueExA gets it, given
   room enough. */
static void PutValue(const char *path, const char *name)
{
    BYTE data[MAX_VALUE + 2];
    DWORD type = 0, size = MAX_VALUE;
    HKEY key;
    LONG err = OpenRegKey(path, KEY_QUERY_VALUE, FALSE, &key);

    if (!err)
    {
        err = RegQueryValueExA(key, name, NULL, &type, data, &size);
        RegCloseKey(key);
    }
    printf("{\"key\":%s,\"name\":%s", Json(path), Json(name));
    if (err) printf(",\"error\":%ld}\n", err);
    else printf(",\"type\":%lu,\"hex\":%s}\n", type, JsonHex(data, size));
}

typedef struct { DWORD pid; HWND except, found[MAX_WINDOWS]; int count; } VISIBLEWINDOWS;

/* The first of the visible top-level windows of a process, but one; all
   of them in vw. */
static HWND FindVisibleWindows(void *ctx)
{
    VISIBLEWINDOWS *vw = (VISIBLEWINDOWS *)ctx;
    vw->count = ListWindows(vw->pid, TRUE, vw->except, vw->found, MAX_WINDOWS);
    return vw->count ? vw->found[0] : NULL;
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
        if (mbi.BaseAddress == mbi.AllocationBase && (mbi.Type == MEM_MAPPED || mbi.Type == MEM_IMAGE)
            && GetMappedFileNameA(process, mbi.BaseAddress, name, sizeof(name)))
        {
            const char *file = strrchr(name, '\\');
            int dir = file ? (int)(file - name) + 1 : 0;
            if (file && dir >= cchFolder
                && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name + dir - cchFolder, cchFolder,
                                  folder, cchFolder) == CSTR_EQUAL
                && lstrcmpiA(file + 1, slash + 1))
                printf("%s%s", n++ ? "," : "", Json(file + 1));
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

/* The dialog's two lines and the files it mapped; with ok, OK pressed and
   the result box it brings up. */
static void PutDialog(PROCESS_INFORMATION *pi, const char *exe, HWND window, BOOL ok)
{
    VISIBLEWINDOWS vw = { pi->dwProcessId, window, { NULL }, 0 };
    HWND box;

    printf(",\"outcome\":\"dialog\",\"lines\":[%s,%s]", JsonText(GetDlgItem(window, IDC_STEP1_TEXT)),
           JsonText(GetDlgItem(window, IDC_STEP2_TEXT)));
    PutOwnModules(pi->dwProcessId, exe);
    if (!ok || !Press(window, IDOK))
    {
        Press(window, IDCANCEL);
        return;
    }
    /* OK installs, then tells the result in a box of its own. */
    if (WaitWindow(FindVisibleWindows, &vw, pi->hProcess, g_timeout, POLL_MS, &box) != WAIT_FOUND)
    {
        printf(",\"result\":null");
        return;
    }
    printf(",\"result\":{\"caption\":%s,\"message\":%s}", JsonText(box),
           JsonText(GetDlgItem(box, MSGBOX_TEXT_ID)));
    Press(box, IDOK);
}

static void Run(const char *id, const char *exe, BOOL ok)
{
    static const WCHAR wirenest[] = L"Wirenest", error[] = L"Error";
    PROCESS_INFORMATION pi;
    VISIBLEWINDOWS vw = { 0, NULL, { NULL }, 0 };
    DWORD start, waited, code = 0;
    WAITRESULT shown;
    HWND window;
    int i;

    fprintf(stderr, "sweep: begin %s\n", id);
    fflush(stderr);
    printf("{\"ok\":true,\"id\":%s", Json(id));

    start = GetTickCount();
    if (!StartProgram(exe, &pi))
        printf(",\"outcome\":\"not started\",\"lasterror\":%lu}\n", GetLastError());
    else
    {
        /* Whatever shows first: the program shows one window at a time. */
        vw.pid = pi.dwProcessId;
        shown = WaitWindow(FindVisibleWindows, &vw, pi.hProcess, g_timeout, POLL_MS, &window);
        waited = GetTickCount() - start;
        if (shown == WAIT_FOUND)
        {
            printf(",\"windows\":[");
            for (i = 0; i < vw.count; i++) printf("%s%s", i ? "," : "", JsonText(vw.found[i]));
            printf("]");
            for (i = 0; i < vw.count; i++)
                if (HasCaption(vw.found[i], error) || HasCaption(vw.found[i], wirenest)) window = vw.found[i];
            if (HasCaption(window, error))
            {
                printf(",\"outcome\":\"error\",\"message\":%s",
                       JsonText(GetDlgItem(window, MSGBOX_TEXT_ID)));
                Press(window, IDOK);
            }
            else if (HasCaption(window, wirenest) && GetDlgItem(window, IDC_STEP1_TEXT))
                PutDialog(&pi, exe, window, ok);
            else printf(",\"outcome\":\"other\"");
        }
        else printf(",\"outcome\":\"%s\"", shown == WAIT_ENDED ? "exited" : "hang");
        printf(",\"wait_ms\":%lu", waited);

        /* After the press (or none), the program has to end by itself. */
        if (EndProgram(&pi, g_timeout, &code)) printf(",\"exit\":%lu", code);
        else printf(",\"exit\":null");
        printf(",\"ms\":%lu}\n", GetTickCount() - start);
    }
    fflush(stdout);
    fprintf(stderr, "sweep: end %s\n", id);
    fflush(stderr);
}

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

int CmdSweep(char **argv)
{
    static char line[8192];
    BYTE data[MAX_VALUE + 1];
    char *f[MAX_FIELDS];
    int n, size, lineno = 0;
    LONG err;
    FILE *cases;

    if (argv[1]) g_timeout = strtoul(argv[1], NULL, 0);
    if (!(cases = fopen(argv[0], "r"))) return Fail("cannot open the case file");
    /* A message box or an error dialog of our own would stop the sweep. */
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    while (fgets(line, sizeof(line), cases))
    {
        lineno++;
        if (!(n = SplitFields(line, f)) || f[0][0] == '#') continue;
        if (!strcmp(f[0], "delkey") && n == 2) err = DeleteRegKey(f[1], NULL);
        else if (!strcmp(f[0], "mkkey") && n == 2) err = MakeKey(f[1]);
        else if (!strcmp(f[0], "set") && n == 5)
        {
            size = ParseHex(f[4], data, MAX_VALUE);
            err = size < 0 ? ERROR_INVALID_PARAMETER
                           : SetRegValue(f[1], f[2], strtoul(f[3], NULL, 0), data, size);
            if (!err) PutValue(f[1], f[2]);
        }
        else if (!strcmp(f[0], "copy") && n == 3) err = CopyFileA(f[1], f[2], FALSE) ? 0 : GetLastError();
        else if (!strcmp(f[0], "run") && n == 4)
        {
            Run(f[1], f[2], !strcmp(f[3], "ok"));
            continue;
        }
        else err = ERROR_BAD_FORMAT;
        if (err) printf("{\"ok\":false,\"line\":%d,\"error\":%s,\"lasterror\":%ld}\n", lineno, Json(f[0]),
                        err);
        fflush(stdout);
    }
    fclose(cases);
    printf("{\"ok\":true,\"done\":%d}\n", lineno);
    return 0;
}
