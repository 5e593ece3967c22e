/* What wnagent and wnbench share; see wnlib.h. */

#include "wnlib.h"
#include <tlhelp32.h>

/* ---- output ---------------------------------------------------------- */

void PutJsonStringW(const WCHAR *s, int len)
{
    int i;
    putchar('"');
    for (i = 0; i < len; i++)
    {
        WCHAR c = s[i];
        if (c == '"' || c == '\\') printf("\\%c", (char)c);
        else if (c >= 0x20 && c < 0x7F) putchar((char)c);
        else printf("\\u%04x", (unsigned)c);
    }
    putchar('"');
}

void PutJsonStringA(const char *s)
{
    WCHAR w[2048];
    int len = MultiByteToWideChar(CP_ACP, 0, s, -1, w, 2048);
    PutJsonStringW(w, len > 0 ? len - 1 : 0);
}

void PutHex(const BYTE *p, DWORD n)
{
    DWORD i;
    putchar('"');
    for (i = 0; i < n; i++) printf("%02x", p[i]);
    putchar('"');
}

void PutRect(const char *name, const RECT *r)
{
    printf(",\"%s\":[%ld,%ld,%ld,%ld]", name, r->left, r->top, r->right, r->bottom);
}

int Fail(const char *what)
{
    DWORD err = GetLastError();
    printf("{\"ok\":false,\"error\":");
    PutJsonStringA(what);
    printf(",\"lasterror\":%lu}\n", err);
    return 1;
}

int Usage(const char *usage)
{
    printf("{\"ok\":false,\"error\":\"usage\",\"usage\":");
    PutJsonStringA(usage);
    printf("}\n");
    return 2;
}

/* "program <name|name|...> ...", the names read from the table. */
static int TableUsage(const char *program, const COMMAND *commands, size_t count)
{
    char usage[1024];
    size_t i;

    wsprintfA(usage, "%s <", program);
    for (i = 0; i < count && lstrlenA(usage) + lstrlenA(commands[i].name) + 8 < (int)sizeof(usage); i++)
        wsprintfA(usage + lstrlenA(usage), "%s%s", i ? "|" : "", commands[i].name);
    lstrcatA(usage, "> ...");
    return Usage(usage);
}

/* Runs argv[1] from the table; its JSON line goes out whole, even into a
   pipe that a crashing program's debugger writes into meanwhile. */
int RunCommand(const char *program, const COMMAND *commands, size_t count, int argc, char **argv)
{
    const COMMAND *command = NULL;
    size_t i;
    int ret;

    setvbuf(stdout, NULL, _IOFBF, 1 << 20);
    for (i = 0; argc >= 2 && i < count && !command; i++)
        if (!strcmp(argv[1], commands[i].name)) command = &commands[i];
    ret = command ? command->run(argc - 2, argv + 2) : TableUsage(program, commands, count);
    fflush(stdout);
    return ret;
}

/* ---- arguments ------------------------------------------------------- */

/* Window handles travel as decimal numbers. */
HWND ArgHwnd(const char *s)
{
    return (HWND)(ULONG_PTR)strtoul(s, NULL, 0);
}

static DWORD FindProcessId(const char *exe)
{
    PROCESSENTRY32 pe;
    DWORD pid = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32First(snap, &pe); more; more = Process32Next(snap, &pe))
        if (!lstrcmpiA(pe.szExeFile, exe)) { pid = pe.th32ProcessID; break; }
    CloseHandle(snap);
    return pid;
}

/* A process given by id or by executable name; 0 if there is none. */
DWORD ArgProcess(const char *s)
{
    char *end;
    DWORD pid = strtoul(s, &end, 0);
    return *end ? FindProcessId(s) : pid;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Hex pairs into bytes; "-" is no bytes.  -1 if malformed or too long. */
int ParseHex(const char *hex, BYTE *data, DWORD max)
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

/* ---- registry -------------------------------------------------------- */

/* "HKCU\\..." or "HKLM\\...": the root key, and *sub the rest. */
HKEY ParseKey(const char *path, const char **sub)
{
    static const struct { const char *name; HKEY root; } roots[] = {
        { "HKCU\\", HKEY_CURRENT_USER }, { "HKLM\\", HKEY_LOCAL_MACHINE },
    };
    size_t i;
    for (i = 0; i < ARRAY_SIZE(roots); i++)
        if (!strncmp(path, roots[i].name, 5))
        {
            *sub = path + 5;
            return roots[i].root;
        }
    return NULL;
}

/* Stores exactly the n bytes given under any type number, creating the
   key; data must have room for one byte more.  That byte is set to a
   non-NUL value: for string types RegSetValueExA counts in a terminator
   when the last byte is not NUL and the byte after it is. */
LONG SetRegValue(const char *path, const char *name, DWORD type, BYTE *data, DWORD n)
{
    const char *sub;
    HKEY root = ParseKey(path, &sub), key;
    LONG err;

    if (!root) return ERROR_INVALID_PARAMETER;
    data[n] = 0xA5;
    if ((err = RegCreateKeyExA(root, sub, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL))) return err;
    err = RegSetValueExA(key, name, 0, type, data, n);
    RegCloseKey(key);
    return err;
}

/* The key with everything under it; a key already absent is no error.
   With a subkey name, RegDeleteTreeA removes that key itself as well. */
LONG DeleteRegKey(const char *path, BOOL *existed)
{
    const char *sub;
    HKEY root = ParseKey(path, &sub);
    LONG err;

    if (!root || !sub[0]) return ERROR_INVALID_PARAMETER;
    err = RegDeleteTreeA(root, sub);
    if (existed) *existed = !err;
    return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
}

/* ---- programs -------------------------------------------------------- */

/* Starts a program from its own folder, which is also its working folder,
   as a user's double click does. */
BOOL StartProgram(const char *exe, PROCESS_INFORMATION *pi)
{
    char cmdline[MAX_PATH + 3], dir[MAX_PATH], *slash;
    STARTUPINFOA si;

    lstrcpynA(dir, exe, MAX_PATH);
    if ((slash = strrchr(dir, '\\'))) *slash = 0;
    wsprintfA(cmdline, "\"%s\"", exe);
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    return CreateProcessA(exe, cmdline, NULL, NULL, FALSE, 0, NULL, dir, &si, pi);
}

/* Gives the program timeout ms to end by itself (TRUE, *code its exit
   code), then ends it; the handles are closed either way. */
BOOL EndProgram(PROCESS_INFORMATION *pi, DWORD timeout, DWORD *code)
{
    BOOL ended = WaitForSingleObject(pi->hProcess, timeout) == WAIT_OBJECT_0
                 && GetExitCodeProcess(pi->hProcess, code);
    if (!ended)
    {
        TerminateProcess(pi->hProcess, 0xDEAD);
        WaitForSingleObject(pi->hProcess, SEND_TIMEOUT_MS);
    }
    CloseHandle(pi->hThread);
    CloseHandle(pi->hProcess);
    return ended;
}

/* ---- windows --------------------------------------------------------- */

/* WM_GETTEXT is marshalled across processes; the timeout keeps a hung
   target from hanging the caller.  -1 when it does not answer. */
int GetTextW(HWND h, WCHAR *buf, int cch)
{
    DWORD_PTR len = 0;
    buf[0] = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, cch, (LPARAM)buf, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &len))
        return -1;
    return (int)len;
}

/* A window's text as a JSON string; null for no window or no answer. */
void PutWindowText(HWND h)
{
    WCHAR text[4096];
    int len = h ? GetTextW(h, text, 4096) : -1;
    if (len < 0) printf("null");
    else PutJsonStringW(text, len);
}

BOOL HasCaption(HWND h, const WCHAR *caption)
{
    WCHAR text[512];
    return GetTextW(h, text, 512) >= 0 && !lstrcmpW(text, caption);
}

static BOOL IsCentred(const RECT *w, const RECT *area)
{
    /* Centring divides by two: allow one pixel either way. */
    int dx = (w->left - area->left) - (area->right - w->right);
    int dy = (w->top - area->top) - (area->bottom - w->bottom);
    return dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1;
}

/* The common fields of a window: identity, styles, geometry, owner. */
void PutWindowFields(HWND h)
{
    char cls[256];
    WCHAR text[1024];
    RECT r, screen, work;
    DWORD pid = 0, tid = GetWindowThreadProcessId(h, &pid);
    int len;

    GetClassNameA(h, cls, sizeof(cls));
    len = GetTextW(h, text, 1024);
    GetWindowRect(h, &r);
    SetRect(&screen, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);

    printf("\"hwnd\":%lu,\"pid\":%lu,\"tid\":%lu,\"class\":", (ULONG)(ULONG_PTR)h, pid, tid);
    PutJsonStringA(cls);
    printf(",\"text\":");
    PutJsonStringW(text, len > 0 ? len : 0);
    printf(",\"id\":%ld,\"style\":%lu,\"exstyle\":%lu,\"visible\":%s,\"enabled\":%s",
           (long)GetWindowLongPtrA(h, GWLP_ID), (ULONG)GetWindowLongA(h, GWL_STYLE),
           (ULONG)GetWindowLongA(h, GWL_EXSTYLE), IsWindowVisible(h) ? "true" : "false",
           IsWindowEnabled(h) ? "true" : "false");
    printf(",\"owner\":%lu", (ULONG)(ULONG_PTR)GetWindow(h, GW_OWNER));
    PutRect("rect", &r);
    PutRect("screen", &screen);
    PutRect("workarea", &work);
    printf(",\"centred_screen\":%s,\"centred_workarea\":%s",
           IsCentred(&r, &screen) ? "true" : "false", IsCentred(&r, &work) ? "true" : "false");
}

/* The GUI state of the window's thread: active, focus, capture, move loop. */
BOOL GetThreadState(HWND h, GUITHREADINFO *gti)
{
    gti->cbSize = sizeof(*gti);
    return GetGUIThreadInfo(GetWindowThreadProcessId(h, NULL), gti);
}

typedef struct
{
    DWORD pid;
    BOOL visible;
    HWND except;
    HWND *found;
    int max, count;
} LISTWINDOWS;

static BOOL CALLBACK ListWindowsProc(HWND h, LPARAM lp)
{
    LISTWINDOWS *lw = (LISTWINDOWS *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if ((!lw->pid || pid == lw->pid) && h != lw->except && (!lw->visible || IsWindowVisible(h)))
        lw->found[lw->count++] = h;
    return lw->count < lw->max;
}

/* The top-level windows of a process (pid 0: of every process) in Z
   order, but one, and only the visible ones if asked; at most max. */
int ListWindows(DWORD pid, BOOL visible, HWND except, HWND *found, int max)
{
    LISTWINDOWS lw = { pid, visible, except, found, max, 0 };
    EnumWindows(ListWindowsProc, (LPARAM)&lw);
    return lw.count;
}

/* Polls find() every poll ms until it gives a window, the process (if one
   is given) ends, or the time is up. */
WAITRESULT WaitWindow(FINDWINDOW find, void *ctx, HANDLE process, DWORD timeout, DWORD poll,
                      HWND *found)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        if ((*found = find(ctx))) return WAIT_FOUND;
        if (!process) Sleep(poll);
        else if (WaitForSingleObject(process, poll) == WAIT_OBJECT_0) return WAIT_ENDED;
        if (GetTickCount() - start >= timeout) return WAIT_TIMED_OUT;
    }
}

/* ---- pictures -------------------------------------------------------- */

/* A 32-bit top-down bitmap: one DWORD per pixel, the first row on top. */
void InitDib32(BITMAPINFOHEADER *bh, int width, int height)
{
    memset(bh, 0, sizeof(*bh));
    bh->biSize = sizeof(*bh);
    bh->biWidth = width;
    bh->biHeight = -height;
    bh->biPlanes = 1;
    bh->biBitCount = 32;
    bh->biCompression = BI_RGB;
    bh->biSizeImage = width * height * 4;
}

HBITMAP CreateDib32(HDC dc, int width, int height, DWORD **bits)
{
    BITMAPINFO bi;
    memset(&bi, 0, sizeof(bi));
    InitDib32(&bi.bmiHeader, width, height);
    return CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void **)bits, NULL, 0);
}

/* A copy of a screen rectangle, read from the screen DC: under Wine's
   virtual desktop this sees what the user sees, where an X screenshot of
   the root shows some windows as black. */
HBITMAP CaptureScreen(const RECT *r, DWORD **bits)
{
    HDC screen = GetDC(NULL), mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateDib32(screen, r->right - r->left, r->bottom - r->top, bits);

    if (bmp)
    {
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, r->right - r->left, r->bottom - r->top, screen, r->left, r->top,
               SRCCOPY | CAPTUREBLT);
        SelectObject(mem, old);
        GdiFlush();
    }
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return bmp;
}
