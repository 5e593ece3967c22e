/*
 * wnbench [-n runs] [-w warmup runs] [-c caption] [-t timeout_ms] exe...:
 * times installer programs from inside the Wine prefix, all runs in this
 * one process (a Wine process start costs more than what is timed).  The
 * programs take turns (A, B, A...), each from its own folder, each on a
 * first install: no target tree, nothing in the INF or driver store beyond
 * what was there at the start.  Per run: start -> the dialog visible; OK
 * posted -> the result box visible; the peak working set; the box's OK and
 * the exit.  A run counts only if the driver was installed.  One JSON line
 * per run, and a last one with "summary":true.
 */

#include "wnlib.h"
#include <psapi.h>

#define TARGET_ROOT "C:\\RuruRIZIrizuViz"
#define TARGET_INF TARGET_ROOT "\\Ombrel_K58_USB_Driver-Win2kXp_Modem\\OMK58CDC.INF"
#define MAX_STORE 4096
#define SETTLE_MS 100  /* between runs: let the last process's end settle */

/* What a registration adds, under the Windows folder: files in the INF
   store, and the package's folder in the driver store that Wine 10 keeps,
   as Windows does from Vista on.  The INF store comes first. */
static const char *const g_storeFolders[] = { "inf", "system32\\driverstore\\filerepository" };
static char *g_store[MAX_STORE];  /* store entries when wnbench started */
static int g_storeCount;
static char g_windowsDir[MAX_PATH];
static LARGE_INTEGER g_freq;

static LONGLONG Now(void)
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

static double MsSince(LONGLONG t0)
{
    return (double)(Now() - t0) * 1000.0 / (double)g_freq.QuadPart;
}

static BOOL InStartStore(const char *entry)
{
    int i;
    for (i = 0; i < g_storeCount; i++)
        if (!lstrcmpiA(g_store[i], entry)) return TRUE;
    return FALSE;
}

/* Calls fn with the path of everything in the folder; stops when it says no. */
static void ForEachFile(const char *folder, BOOL (*fn)(const char *path, void *ctx), void *ctx)
{
    char pattern[MAX_PATH * 2], path[MAX_PATH * 2];
    WIN32_FIND_DATAA fd;
    HANDLE h;

    wsprintfA(pattern, "%s\\*", folder);
    if ((h = FindFirstFileA(pattern, &fd)) == INVALID_HANDLE_VALUE) return;
    do
    {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
        wsprintfA(path, "%s\\%s", folder, fd.cFileName);
        if (!fn(path, ctx)) break;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

/* Calls fn for everything in each store; an entry is named by its path
   below the Windows folder, "<store folder>\\<name>". */
#define STORE_ENTRY(path) ((path) + lstrlenA(g_windowsDir) + 1)
static void ForEachStoreEntry(BOOL (*fn)(const char *path, void *ctx), void *ctx)
{
    char folder[MAX_PATH * 2];
    size_t i;
    for (i = 0; i < ARRAY_SIZE(g_storeFolders); i++)
    {
        wsprintfA(folder, "%s\\%s", g_windowsDir, g_storeFolders[i]);
        ForEachFile(folder, fn, ctx);
    }
}

static BOOL RememberStoreEntry(const char *path, void *ctx)
{
    (void)ctx;
    if (g_storeCount == MAX_STORE) return FALSE;
    g_store[g_storeCount++] = _strdup(STORE_ENTRY(path));
    return TRUE;
}

/* The file or folder with everything in it; *(BOOL *)failed set (if
   given) where something stays. */
static BOOL DeleteTree(const char *path, void *failed)
{
    DWORD attr = GetFileAttributesA(path);
    BOOL folder = attr & FILE_ATTRIBUTE_DIRECTORY;

    if (attr == INVALID_FILE_ATTRIBUTES) return TRUE;
    if (folder) ForEachFile(path, DeleteTree, failed);
    else SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (!(folder ? RemoveDirectoryA(path) : DeleteFileA(path)) && failed) *(BOOL *)failed = TRUE;
    return TRUE;
}

static BOOL DeleteNewStoreEntry(const char *path, void *failed)
{
    return InStartStore(STORE_ENTRY(path)) || DeleteTree(path, failed);
}

/* The first new .inf of the INF store (what a run's registration stored). */
static BOOL FindNewInf(const char *path, void *found)
{
    const char *entry = STORE_ENTRY(path), *name = entry + 4;  /* after "inf\\" */
    if (InStartStore(entry) || _strnicmp(entry, "inf\\", 4) || strchr(name, '\\')
        || strlen(name) < 4 || lstrcmpiA(name + strlen(name) - 4, ".inf"))
        return TRUE;
    lstrcpynA((char *)found, name, MAX_PATH);
    return FALSE;
}

/* The machine as OK finds it on a first install. */
static BOOL ResetMachine(void)
{
    BOOL failed = FALSE;
    DeleteTree(TARGET_ROOT, NULL);
    ForEachStoreEntry(DeleteNewStoreEntry, &failed);
    return !failed && GetFileAttributesA(TARGET_ROOT) == INVALID_FILE_ATTRIBUTES;
}

typedef struct { DWORD pid; HWND except; const char *caption; /* NULL: any */ } FINDDIALOG;

/* A visible top-level dialog of the process other than except, with this
   caption if one is given.  GetWindowText of another process's window is
   answered without a message to it, so polling never waits on the target. */
static HWND FindDialog(void *ctx)
{
    const FINDDIALOG *fd = (const FINDDIALOG *)ctx;
    HWND h = NULL;
    while ((h = FindWindowExA(NULL, h, "#32770", NULL)))
    {
        char text[256];
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner != fd->pid || h == fd->except || !IsWindowVisible(h)) continue;
        if (!fd->caption) return h;
        GetWindowTextA(h, text, sizeof(text));
        if (!strcmp(text, fd->caption)) return h;
    }
    return NULL;
}

/* Polls every millisecond; NULL with *error set on timeout or early exit. */
static HWND WaitDialog(const PROCESS_INFORMATION *pi, HWND except, const char *caption,
                       DWORD timeout, const char **error)
{
    FINDDIALOG fd = { pi->dwProcessId, except, caption };
    HWND h;
    switch (WaitWindow(FindDialog, &fd, pi->hProcess, timeout, 1, &h))
    {
    case WAIT_FOUND: return h;
    case WAIT_ENDED: *error = "the program ended before the window showed"; return NULL;
    default: *error = "timed out waiting for the window"; return NULL;
    }
}

typedef struct
{
    BOOL ok;
    const char *error;
    double startToDialog, okToBox;  /* ms */
    SIZE_T peakWorkingSet;          /* 0: not reported */
    WCHAR boxText[512], boxCaption[256];
    BOOL boxOwnedByDialog;
    DWORD exitCode;
    char storedInf[MAX_PATH];
} RUN;

/* From the start to the result box's OK, with the times and what the box
   says; r->error set where it stopped short. */
static void Drive(const PROCESS_INFORMATION *pi, LONGLONG t0, const char *caption, DWORD timeout,
                  RUN *r)
{
    PROCESS_MEMORY_COUNTERS pmc = { .cb = sizeof(pmc) };
    HWND dialog, box, text;

    if (!(dialog = WaitDialog(pi, NULL, caption, timeout, &r->error))) return;
    r->startToDialog = MsSince(t0);

    /* Posted, never sent: OK's handler runs a modal box. */
    t0 = Now();
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 (LPARAM)GetDlgItem(dialog, IDOK));
    if (!(box = WaitDialog(pi, dialog, NULL, timeout, &r->error))) return;
    r->okToBox = MsSince(t0);

    if (GetProcessMemoryInfo(pi->hProcess, &pmc, sizeof(pmc))) r->peakWorkingSet = pmc.PeakWorkingSetSize;

    r->boxOwnedByDialog = GetWindow(box, GW_OWNER) == dialog;
    GetWindowTextW(box, r->boxCaption, 256);
    if ((text = GetDlgItem(box, MSGBOX_TEXT_ID))) GetTextW(text, r->boxText, 512);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

/* One run on a reset machine; NULL, or where it stopped short. */
static const char *Run(const char *exe, const char *caption, DWORD timeout, RUN *r)
{
    PROCESS_INFORMATION pi;
    LONGLONG t0;
    DWORD code;
    BOOL ended;

    memset(r, 0, sizeof(*r));
    r->exitCode = STILL_ACTIVE;
    if (!ResetMachine()) return "could not reset the target tree or the INF store";
    t0 = Now();
    if (!StartProgram(exe, &pi)) return "CreateProcess failed";
    Drive(&pi, t0, caption, timeout, r);
    /* After the box's OK the program has to end by itself; short of it,
       it is ended at once. */
    ended = EndProgram(&pi, r->error ? 0 : timeout, &code);
    if (r->error) return r->error;
    if (!ended) return "the program did not end after the result box";
    r->exitCode = code;
    /* Installed means: the INF at the target and a new copy in the store. */
    ForEachStoreEntry(FindNewInf, r->storedInf);
    if (GetFileAttributesA(TARGET_INF) == INVALID_FILE_ATTRIBUTES) return "no INF at the target after the run";
    return r->storedInf[0] ? NULL : "no new INF in the store after the run";
}

static void PutRun(int index, const char *exe, BOOL warmup, const RUN *r)
{
    char peak[24] = "null";

    if (r->peakWorkingSet) sprintf(peak, "%lu", (unsigned long)r->peakWorkingSet);
    printf("{\"run\":%d,\"exe\":%s,\"warmup\":%s,\"ok\":%s,\"error\":%s,\"start_to_dialog_ms\":%.3f,"
           "\"ok_to_box_ms\":%.3f,\"peak_working_set\":%s,\"box_text\":%s,\"box_caption\":%s,"
           "\"box_owned_by_dialog\":%s,\"exit_code\":%lu,\"stored_inf\":%s}\n",
           index, Json(exe), JSON_BOOL(warmup), JSON_BOOL(r->ok), r->error ? Json(r->error) : "null",
           r->startToDialog, r->okToBox, peak, JsonW(r->boxText, lstrlenW(r->boxText)),
           JsonW(r->boxCaption, lstrlenW(r->boxCaption)), JSON_BOOL(r->boxOwnedByDialog), r->exitCode,
           Json(r->storedInf));
    fflush(stdout);
}

int main(int argc, char **argv)
{
    int runs = 21, warmup = 1, programs, i, failed = 0, index = 0;
    const char *caption = "Wirenest";
    DWORD timeout = 20000;
    char **exes;

    for (i = 1; i + 1 < argc && argv[i][0] == '-'; i += 2)
    {
        if (!strcmp(argv[i], "-n")) runs = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "-w")) warmup = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "-c")) caption = argv[i + 1];
        else if (!strcmp(argv[i], "-t")) timeout = strtoul(argv[i + 1], NULL, 0);
        else break;
    }
    exes = argv + i;
    programs = argc - i;
    if (programs < 1 || runs < 1 || warmup < 0)
    {
        printf("{\"summary\":true,\"ok\":false,\"error\":\"usage: wnbench [-n runs] [-w warmup] "
               "[-c caption] [-t timeout_ms] exe...\"}\n");
        return 2;
    }

    QueryPerformanceFrequency(&g_freq);
    GetWindowsDirectoryA(g_windowsDir, MAX_PATH);
    ForEachStoreEntry(RememberStoreEntry, NULL);

    for (i = 0; i < (warmup + runs) * programs; i++)
    {
        const char *exe = exes[i % programs];
        BOOL isWarmup = i < warmup * programs;
        RUN r;
        r.error = Run(exe, caption, timeout, &r);
        r.ok = !r.error;
        PutRun(isWarmup ? -1 : index, exe, isWarmup, &r);
        if (!isWarmup && i % programs == programs - 1) index++;
        if (!r.ok) failed++;
        Sleep(SETTLE_MS);
    }
    ResetMachine();
    printf("{\"summary\":true,\"ok\":%s,\"programs\":%d,\"runs\":%d,\"warmup\":%d,\"failed\":%d,"
           "\"qpc_hz\":%lld,\"store_files_at_start\":%d}\n",
           failed ? "false" : "true", programs, runs, warmup, failed, (long long)g_freq.QuadPart,
           g_storeCount);
    return failed ? 1 : 0;
}
