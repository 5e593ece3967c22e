/* What wnagent and wnbench share; see wnlib.h. */

#include "wnlib.h"
#include <ctype.h>
#include <tlhelp32.h>

/* A fresh buffer, freed 16 calls later: enough for the values of one
   printf.  Out of memory, a program of the suite has nothing more to say. */
char *TempString(size_t size)
{
    static char *ring[16];
    static unsigned next;
    char **slot = &ring[next++ % ARRAY_SIZE(ring)];
    free(*slot);
    if (!(*slot = (char *)malloc(size))) abort();
    return *slot;
}

const char *JsonW(const WCHAR *s, int len)
{
    char *out = TempString(6 * (len > 0 ? len : 0) + 3), *p = out;
    int i;

    *p++ = '"';
    for (i = 0; i < len; i++)
    {
        if (s[i] == '"' || s[i] == '\\') p += sprintf(p, "\\%c", (char)s[i]);
        else if (s[i] >= 0x20 && s[i] < 0x7F) *p++ = (char)s[i];
        else p += sprintf(p, "\\u%04x", (unsigned)s[i]);
    }
    strcpy(p, "\"");
    return out;
}

const char *Json(const char *s)
{
    WCHAR w[2048];
    return JsonW(w, MultiByteToWideChar(CP_ACP, 0, s, -1, w, 2048) - 1);
}

const char *JsonHex(const BYTE *p, DWORD n)
{
    char *out = TempString(2 * n + 3), *q = out;
    DWORD i;

    *q++ = '"';
    for (i = 0; i < n; i++) q += sprintf(q, "%02x", p[i]);
    strcpy(q, "\"");
    return out;
}

const char *JsonRect(const RECT *r)
{
    char *out = TempString(64);
    sprintf(out, "[%ld,%ld,%ld,%ld]", r->left, r->top, r->right, r->bottom);
    return out;
}

int FailWith(DWORD err, const char *what)
{
    printf("{\"ok\":false,\"error\":%s,\"lasterror\":%lu}\n", Json(what), err);
    return 1;
}

DWORD ArgProcess(const char *s)
{
    PROCESSENTRY32 pe;
    char *end;
    DWORD pid = strtoul(s, &end, 0);
    HANDLE snap;

    if (!*end) return pid;
    if ((snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)) == INVALID_HANDLE_VALUE) return 0;
    pid = 0;
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32First(snap, &pe); more; more = Process32Next(snap, &pe))
        if (!lstrcmpiA(pe.szExeFile, s)) { pid = pe.th32ProcessID; break; }
    CloseHandle(snap);
    return pid;
}

/* Hex pairs into bytes; "-" is no bytes.  -1 if malformed or too long. */
int ParseHex(const char *hex, BYTE *data, DWORD max)
{
    DWORD n = 0;
    if (!strcmp(hex, "-")) return 0;
    for (; hex[0]; hex += 2)
    {
        char pair[3] = { hex[0], hex[1], 0 };
        if (!isxdigit((BYTE)hex[0]) || !isxdigit((BYTE)hex[1]) || n == max) return -1;
        data[n++] = (BYTE)strtoul(pair, NULL, 16);
    }
    return (int)n;
}

/* "HKCU\\..." or "HKLM\\...": the root key, and *sub the rest. */
HKEY ParseKey(const char *path, const char **sub)
{
    HKEY root = !strncmp(path, "HKCU\\", 5)   ? HKEY_CURRENT_USER
                : !strncmp(path, "HKLM\\", 5) ? HKEY_LOCAL_MACHINE : NULL;
    *sub = root ? path + 5 : path;
    return root;
}

LONG OpenRegKey(const char *path, REGSAM access, BOOL create, HKEY *key)
{
    const char *sub;
    HKEY root = ParseKey(path, &sub);
    if (!root) return ERROR_INVALID_PARAMETER;
    return create ? RegCreateKeyExA(root, sub, 0, NULL, 0, access, NULL, key, NULL)
                  : RegOpenKeyExA(root, sub, 0, access, key);
}

/* Stores exactly the n bytes given under any type number, creating the
   key; data must have room for one byte more.  That byte is set to a
   non-NUL value: for string types RegSetValueExA counts in a terminator
   when the last byte is not NUL and the byte after it is. */
LONG SetRegValue(const char *path, const char *name, DWORD type, BYTE *data, DWORD n)
{
    HKEY key;
    LONG err = OpenRegKey(path, KEY_SET_VALUE, TRUE, &key);

    if (err) return err;
    data[n] = 0xA5;
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
    LONG err = root && sub[0] ? RegDeleteTreeA(root, sub) : ERROR_INVALID_PARAMETER;

    if (existed) *existed = !err;
    return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
}

/* From its own folder, its working folder too, as a double click does. */
BOOL StartProgram(const char *exe, PROCESS_INFORMATION *pi)
{
    char cmdline[MAX_PATH + 3], dir[MAX_PATH], *slash;
    STARTUPINFOA si = { .cb = sizeof(si) };

    lstrcpynA(dir, exe, MAX_PATH);
    if ((slash = strrchr(dir, '\\'))) *slash = 0;
    wsprintfA(cmdline, "\"%s\"", exe);
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

const char *JsonText(HWND h)
{
    WCHAR text[4096];
    int len = h ? GetTextW(h, text, 4096) : -1;
    return len < 0 ? "null" : JsonW(text, len);
}

BOOL HasCaption(HWND h, const WCHAR *caption)
{
    WCHAR text[512];
    return GetTextW(h, text, 512) >= 0 && !lstrcmpW(text, caption);
}

BOOL IsIconStatic(HWND h)
{
    char cls[64] = "";
    GetClassNameA(h, cls, sizeof(cls));
    return !lstrcmpiA(cls, "Static") && (GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

/* Centring divides by two: one pixel either way counts as centred. */
static BOOL IsCentred(const RECT *w, const RECT *area)
{
    int dx = (w->left - area->left) - (area->right - w->right);
    int dy = (w->top - area->top) - (area->bottom - w->bottom);
    return dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1;
}

/* A window's fields; a child's rectangle in the parent's client
   coordinates, a top-level window's on the screen, with its process,
   owner and placement. */
void PutWindowFields(const char *before, HWND parent, HWND h, const char *after)
{
    char cls[256] = "";  /* a window gone meanwhile: no class, no rectangle */
    WCHAR text[1024];
    RECT r = { 0 }, screen, work;
    DWORD pid = 0, tid = GetWindowThreadProcessId(h, &pid);

    GetClassNameA(h, cls, sizeof(cls));
    GetWindowRect(h, &r);
    if (parent) MapWindowPoints(NULL, parent, (POINT *)&r, 2);
    printf("%s\"hwnd\":%lu,\"class\":%s,\"id\":%ld,\"text\":%s,\"style\":%lu,\"exstyle\":%lu,"
           "\"visible\":%s,\"rect\":%s",
           before, HandleToULong(h), Json(cls), (long)GetWindowLongPtrA(h, GWLP_ID),
           JsonW(text, GetTextW(h, text, 1024)), (ULONG)GetWindowLongA(h, GWL_STYLE),
           (ULONG)GetWindowLongA(h, GWL_EXSTYLE), JSON_BOOL(IsWindowVisible(h)), JsonRect(&r));
    if (!parent)
    {
        SetRect(&screen, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        printf(",\"pid\":%lu,\"tid\":%lu,\"enabled\":%s,\"owner\":%lu,\"screen\":%s,\"workarea\":%s,"
               "\"centred_screen\":%s,\"centred_workarea\":%s",
               pid, tid, JSON_BOOL(IsWindowEnabled(h)), HandleToULong(GetWindow(h, GW_OWNER)),
               JsonRect(&screen), JsonRect(&work), JSON_BOOL(IsCentred(&r, &screen)), JSON_BOOL(IsCentred(&r, &work)));
    }
    printf("%s", after);
}

typedef struct { DWORD pid; BOOL visible; HWND except, *found; int max, count; } LISTWINDOWS;

static BOOL CALLBACK ListWindowsProc(HWND h, LPARAM lp)
{
    LISTWINDOWS *lw = (LISTWINDOWS *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if ((!lw->pid || pid == lw->pid) && h != lw->except && (!lw->visible || IsWindowVisible(h)))
        lw->found[lw->count++] = h;
    return lw->count < lw->max;
}

/* At most max top-level windows of a process (pid 0: any) in Z order,
   but one, and only the visible ones if asked. */
int ListWindows(DWORD pid, BOOL visible, HWND except, HWND *found, int max)
{
    LISTWINDOWS lw = { pid, visible, except, found, max, 0 };
    EnumWindows(ListWindowsProc, (LPARAM)&lw);
    return lw.count;
}

/* Polls find() every poll ms until it gives a window, the process (if
   given) ends, or the time is up. */
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

BOOL OpenDib(DIB *dib, int width, int height)
{
    BITMAPINFO bi = { .bmiHeader = { .biSize = sizeof(BITMAPINFOHEADER), .biWidth = width,
                                     .biHeight = -height, .biPlanes = 1, .biBitCount = 32,
                                     .biCompression = BI_RGB, .biSizeImage = width * height * 4 } };

    memset(dib, 0, sizeof(*dib));
    dib->bh = bi.bmiHeader;
    if (!(dib->dc = CreateCompatibleDC(NULL))
        || !(dib->bmp = CreateDIBSection(dib->dc, &bi, DIB_RGB_COLORS, (void **)&dib->bits, NULL, 0)))
        return FALSE;
    dib->old = SelectObject(dib->dc, dib->bmp);
    return TRUE;
}

void CloseDib(DIB *dib)
{
    if (dib->old) SelectObject(dib->dc, dib->old);
    if (dib->bmp) DeleteObject(dib->bmp);
    if (dib->dc) DeleteDC(dib->dc);
}
