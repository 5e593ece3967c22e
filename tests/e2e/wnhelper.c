/*
 * wnhelper: looks at and drives another program's windows from inside the
 * same Wine prefix, the way a user would, and lays out the registry for it.
 *
 *   wnhelper <command> [arguments...]
 *
 * Every command prints exactly one JSON object on one line to stdout:
 * {"ok":true,...} and exit code 0, or {"ok":false,"error":"...",...} and
 * exit code 1 (2 for wrong arguments).  Window handles are printed and read as decimal numbers.
 * Texts read from windows are read as UTF-16 and written as \uXXXX escapes,
 * so the caller sees the exact characters whatever the code page.
 */

#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <tlhelp32.h>
#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wnshared.h"

#define DEFAULT_TIMEOUT_MS 10000
#define POLL_MS 50
#define MSGBOX_TEXT_ID 0xFFFF

/* ---- output ---------------------------------------------------------- */

static void PutRect(const char *name, const RECT *r)
{
    printf(",\"%s\":[%ld,%ld,%ld,%ld]", name, r->left, r->top, r->right, r->bottom);
}

/* ---- arguments ------------------------------------------------------- */

static HWND ArgHwnd(const char *s)
{
    return (HWND)(ULONG_PTR)strtoul(s, NULL, 0);
}

static DWORD ArgTimeout(int argc, char **argv, int i)
{
    return i < argc ? strtoul(argv[i], NULL, 0) : DEFAULT_TIMEOUT_MS;
}

/* ---- reading other windows ------------------------------------------- */

static BOOL IsCentred(const RECT *w, const RECT *area)
{
    /* Centring divides by two: allow one pixel either way. */
    int dx = (w->left - area->left) - (area->right - w->right);
    int dy = (w->top - area->top) - (area->bottom - w->bottom);
    return dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1;
}

/* The common fields of a window: identity, styles, geometry, owner. */
static void PutWindowFields(HWND h)
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

typedef struct
{
    WCHAR caption[512];
    DWORD pid; /* 0: any process */
    HWND found;
} FINDCAPTION;

static BOOL CALLBACK FindCaptionProc(HWND h, LPARAM lp)
{
    FINDCAPTION *fc = (FINDCAPTION *)lp;
    WCHAR text[512];
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (!IsWindowVisible(h) || (fc->pid && pid != fc->pid)) return TRUE;
    if (GetTextW(h, text, 512) < 0 || lstrcmpW(text, fc->caption)) return TRUE;
    fc->found = h;
    return FALSE;
}

/* A process given by id or by executable name; 0 if there is none. */
static DWORD ArgProcess(const char *s)
{
    char *end;
    DWORD pid = strtoul(s, &end, 0);
    return *end ? FindProcessId(s) : pid;
}

/* ---- screen capture -------------------------------------------------- */

/* A 32-bit top-down copy of a screen rectangle, read from the screen DC:
   under Wine's virtual desktop this sees what the user sees, where an X
   screenshot of the root shows some windows as black. */
static HBITMAP CaptureScreen(const RECT *r, DWORD **bits)
{
    BITMAPINFO bi;
    HDC screen = GetDC(NULL), mem = CreateCompatibleDC(screen);
    HBITMAP bmp;

    memset(&bi, 0, sizeof(bi));
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = r->right - r->left;
    bi.bmiHeader.biHeight = -(r->bottom - r->top);
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, (void **)bits, NULL, 0);
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

/* Icon handles mean nothing in another process, so a message box's icon is
   told by the colours it put on the screen. */
static const char *ClassifyIcon(HWND icon, int *red, int *blue, int *yellow)
{
    RECT r;
    DWORD *bits;
    HBITMAP bmp;
    int i, n;

    *red = *blue = *yellow = 0;
    if (!icon || !IsWindowVisible(icon)) return "none";
    /* Make sure the icon is painted before it is looked at. */
    RedrawWindow(icon, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    GetWindowRect(icon, &r);
    if (IsRectEmpty(&r) || !(bmp = CaptureScreen(&r, &bits))) return "none";
    n = (r.right - r.left) * (r.bottom - r.top);
    for (i = 0; i < n; i++)
    {
        int b = bits[i] & 0xFF, g = (bits[i] >> 8) & 0xFF, rd = (bits[i] >> 16) & 0xFF;
        if (rd >= 160 && g < 110 && b < 110) (*red)++;
        else if (b >= 160 && rd < 110 && g < 170) (*blue)++;
        else if (rd >= 180 && g >= 150 && b < 100) (*yellow)++;
    }
    DeleteObject(bmp);
    /* A dozen pixels is far below any icon and far above stray anti-aliasing. */
    if (*red >= 12 && *red >= *blue && *red >= *yellow) return "stop";
    if (*blue >= 12 && *blue >= *yellow) return "information";
    if (*yellow >= 12) return "warning";
    return "none";
}

/* ---- commands -------------------------------------------------------- */

/* wait <caption> [timeout_ms] [pid|exe name]: the first visible top-level
   window with exactly this caption, of that process if one is named. */
static int CmdWait(int argc, char **argv)
{
    FINDCAPTION fc;
    DWORD start = GetTickCount(), timeout;

    if (argc < 1) return Usage("wait <caption> [timeout_ms] [pid|exe name]");
    timeout = ArgTimeout(argc, argv, 1);
    MultiByteToWideChar(CP_ACP, 0, argv[0], -1, fc.caption, 512);
    for (;;)
    {
        fc.found = NULL;
        /* The process may not have started yet: look it up each round. */
        fc.pid = argc > 2 ? ArgProcess(argv[2]) : 0;
        if (argc <= 2 || fc.pid) EnumWindows(FindCaptionProc, (LPARAM)&fc);
        if (fc.found) break;
        if (GetTickCount() - start >= timeout)
        {
            SetLastError(ERROR_TIMEOUT);
            return Fail("no visible window with that caption");
        }
        Sleep(POLL_MS);
    }
    printf("{\"ok\":true,");
    PutWindowFields(fc.found);
    printf(",\"waited_ms\":%lu}\n", GetTickCount() - start);
    return 0;
}

/* gone <hwnd> [timeout_ms]: waits until the window no longer exists. */
static int CmdGone(int argc, char **argv)
{
    HWND h;
    DWORD start = GetTickCount(), timeout;

    if (argc < 1) return Usage("gone <hwnd> [timeout_ms]");
    h = ArgHwnd(argv[0]);
    timeout = ArgTimeout(argc, argv, 1);
    while (IsWindow(h))
    {
        if (GetTickCount() - start >= timeout)
        {
            SetLastError(ERROR_TIMEOUT);
            return Fail("window still exists");
        }
        Sleep(POLL_MS);
    }
    printf("{\"ok\":true,\"waited_ms\":%lu}\n", GetTickCount() - start);
    return 0;
}

/* window <hwnd>: the fields of one window. */
static int CmdWindow(int argc, char **argv)
{
    HWND h;
    if (argc < 1) return Usage("window <hwnd>");
    h = ArgHwnd(argv[0]);
    if (!IsWindow(h)) return Fail("no such window");
    printf("{\"ok\":true,");
    PutWindowFields(h);
    printf("}\n");
    return 0;
}

typedef struct
{
    DWORD pid;
    int count;
} LISTWINDOWS;

static BOOL CALLBACK ListWindowsProc(HWND h, LPARAM lp)
{
    LISTWINDOWS *lw = (LISTWINDOWS *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != lw->pid) return TRUE;
    printf("%s{", lw->count++ ? "," : "");
    PutWindowFields(h);
    printf("}");
    return TRUE;
}

/* windows <pid|exe name>: every top-level window of one process, hidden
   ones included (each entry says whether it is visible). */
static int CmdWindows(int argc, char **argv)
{
    LISTWINDOWS lw;

    if (argc < 1) return Usage("windows <pid|exe name>");
    if (!(lw.pid = ArgProcess(argv[0])))
    {
        SetLastError(ERROR_NOT_FOUND);
        return Fail("no such process");
    }
    lw.count = 0;
    printf("{\"ok\":true,\"pid\":%lu,\"windows\":[", lw.pid);
    EnumWindows(ListWindowsProc, (LPARAM)&lw);
    printf("]}\n");
    return 0;
}

/* text <hwnd> <control id>: a control's text. */
static int CmdText(int argc, char **argv)
{
    WCHAR text[4096];
    HWND ctl;
    int len;

    if (argc < 2) return Usage("text <hwnd> <control id>");
    ctl = GetDlgItem(ArgHwnd(argv[0]), strtol(argv[1], NULL, 0));
    if (!ctl) return Fail("no such control");
    if ((len = GetTextW(ctl, text, 4096)) < 0) return Fail("WM_GETTEXT failed");
    printf("{\"ok\":true,\"text\":");
    PutJsonStringW(text, len);
    printf(",\"visible\":%s}\n", IsWindowVisible(ctl) ? "true" : "false");
    return 0;
}

typedef struct
{
    HWND icon;
    int count;
} MSGBOXCHILDREN;

static BOOL CALLBACK MsgBoxChildProc(HWND h, LPARAM lp)
{
    MSGBOXCHILDREN *mc = (MSGBOXCHILDREN *)lp;
    char cls[64];
    WCHAR text[256];
    int len;

    GetClassNameA(h, cls, sizeof(cls));
    if (!lstrcmpiA(cls, "Static") && (GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        mc->icon = h;
    if (lstrcmpiA(cls, "Button") || !IsWindowVisible(h)) return TRUE;
    len = GetTextW(h, text, 256);
    printf("%s{\"id\":%ld,\"text\":", mc->count++ ? "," : "", (long)GetWindowLongPtrA(h, GWLP_ID));
    PutJsonStringW(text, len > 0 ? len : 0);
    printf("}");
    return TRUE;
}

/* msgbox <hwnd>: a message box's caption, text, owner, visible buttons and
   icon kind: stop (red), information (blue; a question mark is blue too),
   warning (yellow) or none, with the pixel counts behind the verdict. */
static int CmdMsgBox(int argc, char **argv)
{
    MSGBOXCHILDREN mc;
    WCHAR text[4096];
    HWND h, label;
    int len, red, blue, yellow;
    const char *icon;

    if (argc < 1) return Usage("msgbox <hwnd>");
    h = ArgHwnd(argv[0]);
    if (!IsWindow(h)) return Fail("no such window");
    label = GetDlgItem(h, MSGBOX_TEXT_ID);
    len = label ? GetTextW(label, text, 4096) : -1;
    printf("{\"ok\":true,");
    PutWindowFields(h);
    printf(",\"message\":");
    if (len < 0) printf("null");
    else PutJsonStringW(text, len);
    mc.icon = NULL;
    mc.count = 0;
    printf(",\"buttons\":[");
    EnumChildWindows(h, MsgBoxChildProc, (LPARAM)&mc);
    printf("]");
    icon = ClassifyIcon(mc.icon, &red, &blue, &yellow);
    printf(",\"icon\":\"%s\",\"icon_pixels\":{\"red\":%d,\"blue\":%d,\"yellow\":%d}}\n",
           icon, red, blue, yellow);
    return 0;
}

/* focus <hwnd>: the control that has the keyboard focus in the window's
   thread, read from that thread's state, not the helper's; also the active
   window of that thread and the system's foreground window. */
static int CmdFocus(int argc, char **argv)
{
    GUITHREADINFO gti;
    HWND h;

    if (argc < 1) return Usage("focus <hwnd>");
    h = ArgHwnd(argv[0]);
    gti.cbSize = sizeof(gti);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(h, NULL), &gti))
        return Fail("GetGUIThreadInfo failed");
    printf("{\"ok\":true,\"foreground\":%lu,\"active\":%lu,\"focus\":%lu",
           (ULONG)(ULONG_PTR)GetForegroundWindow(), (ULONG)(ULONG_PTR)gti.hwndActive,
           (ULONG)(ULONG_PTR)gti.hwndFocus);
    if (gti.hwndFocus)
    {
        printf(",\"window\":{");
        PutWindowFields(gti.hwndFocus);
        printf("}");
    }
    printf("}\n");
    return 0;
}

/* click <hwnd> <control id> [more hwnds...]: presses a button, in each
   window given, one right after the other (a double start pressed at
   once).  Posted, never sent: the handler may open a modal box and would
   block the helper. */
static int CmdClick(int argc, char **argv)
{
    HWND ctl[8];
    DWORD start;
    int i, count;

    if (argc < 2 || argc > 9) return Usage("click <hwnd> <control id> [up to 7 more hwnds]");
    count = argc - 1;
    for (i = 0; i < count; i++)
        if (!(ctl[i] = GetDlgItem(ArgHwnd(argv[i ? i + 1 : 0]), strtol(argv[1], NULL, 0))))
            return Fail("no such control");
    start = GetTickCount();
    for (i = 0; i < count; i++)
        if (!PostMessageA(ctl[i], BM_CLICK, 0, 0)) return Fail("PostMessage failed");
    printf("{\"ok\":true,\"control\":%lu,\"spread_ms\":%lu}\n", (ULONG)(ULONG_PTR)ctl[0],
           GetTickCount() - start);
    return 0;
}

/* key <hwnd> <enter|escape|tab|space|virtual key code>: a key press sent
   to whichever control of that window's thread has the focus, where the
   dialog's own message loop picks it up as it would a typed key. */
static int CmdKey(int argc, char **argv)
{
    static const struct { const char *name; UINT vk; } keys[] = {
        { "enter", VK_RETURN }, { "escape", VK_ESCAPE }, { "tab", VK_TAB }, { "space", VK_SPACE },
    };
    GUITHREADINFO gti;
    HWND h, target;
    UINT vk = 0, scan, i;

    if (argc < 2) return Usage("key <hwnd> <enter|escape|tab|space|vk>");
    h = ArgHwnd(argv[0]);
    for (i = 0; i < sizeof(keys) / sizeof(keys[0]); i++)
        if (!lstrcmpiA(argv[1], keys[i].name)) vk = keys[i].vk;
    if (!vk) vk = strtoul(argv[1], NULL, 0);
    gti.cbSize = sizeof(gti);
    target = GetGUIThreadInfo(GetWindowThreadProcessId(h, NULL), &gti) && gti.hwndFocus
                 ? gti.hwndFocus : h;
    scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    if (!PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16)) ||
        !PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000))
        return Fail("PostMessage failed");
    printf("{\"ok\":true,\"target\":%lu,\"vk\":%u}\n", (ULONG)(ULONG_PTR)target, vk);
    return 0;
}

/* activate <hwnd>: makes the window the foreground window, as a user's
   click elsewhere and back on it would.  Under Wine a message box that is
   the first window of its process can be the active window and still keep
   the caption of an inactive one until the activation changes. */
static int CmdActivate(int argc, char **argv)
{
    HWND h;
    if (argc < 1) return Usage("activate <hwnd>");
    h = ArgHwnd(argv[0]);
    if (!IsWindow(h)) return Fail("no such window");
    SetForegroundWindow(GetDesktopWindow());
    Sleep(100);
    if (!SetForegroundWindow(h)) return Fail("SetForegroundWindow failed");
    printf("{\"ok\":true,\"foreground\":%lu}\n", (ULONG)(ULONG_PTR)GetForegroundWindow());
    return 0;
}

/* syscommand <hwnd> <SC_ value>: a window-menu command, posted. */
static int CmdSysCommand(int argc, char **argv)
{
    if (argc < 2) return Usage("syscommand <hwnd> <SC_ value>");
    if (!PostMessageA(ArgHwnd(argv[0]), WM_SYSCOMMAND, strtoul(argv[1], NULL, 0), 0))
        return Fail("PostMessage failed");
    printf("{\"ok\":true}\n");
    return 0;
}

/* screenshot <file.bmp>: the whole screen as a 32-bit top-down BMP. */
static int CmdScreenshot(int argc, char **argv)
{
    BITMAPFILEHEADER bf;
    BITMAPINFOHEADER bh;
    RECT r;
    DWORD *bits, size, written;
    HBITMAP bmp;
    HANDLE f;
    BOOL ok;

    if (argc < 1) return Usage("screenshot <file.bmp>");
    SetRect(&r, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    if (!(bmp = CaptureScreen(&r, &bits))) return Fail("CreateDIBSection failed");
    size = r.right * r.bottom * 4;
    memset(&bh, 0, sizeof(bh));
    bh.biSize = sizeof(bh);
    bh.biWidth = r.right;
    bh.biHeight = -r.bottom;
    bh.biPlanes = 1;
    bh.biBitCount = 32;
    bh.biCompression = BI_RGB;
    bh.biSizeImage = size;
    memset(&bf, 0, sizeof(bf));
    bf.bfType = 0x4D42; /* "BM" */
    bf.bfOffBits = sizeof(bf) + sizeof(bh);
    bf.bfSize = bf.bfOffBits + size;
    f = CreateFileA(argv[0], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE)
    {
        DeleteObject(bmp);
        return Fail("cannot create the file");
    }
    ok = WriteFile(f, &bf, sizeof(bf), &written, NULL) && WriteFile(f, &bh, sizeof(bh), &written, NULL)
         && WriteFile(f, bits, size, &written, NULL);
    CloseHandle(f);
    DeleteObject(bmp);
    if (!ok) return Fail("cannot write the file");
    printf("{\"ok\":true,\"width\":%ld,\"height\":%ld}\n", r.right, r.bottom);
    return 0;
}

/* regset <HKCU\key> <value name> <type> <hex bytes|->: stores exactly the
   given bytes under any type number (1 REG_SZ, 3 REG_BINARY, 4 REG_DWORD,
   or anything else); "-" stores no bytes at all. */
static int CmdRegSet(int argc, char **argv)
{
    BYTE data[1024];
    const char *sub, *hex;
    DWORD type, n = 0;
    HKEY root, key;
    LONG err;

    if (argc < 4) return Usage("regset <HKCU\\key> <value> <type> <hex bytes|->");
    if (!(root = ParseKey(argv[0], &sub))) return Usage("key must start with HKCU\\ or HKLM\\");
    type = strtoul(argv[2], NULL, 0);
    for (hex = strcmp(argv[3], "-") ? argv[3] : ""; hex[0]; hex += 2)
    {
        if (HexDigit(hex[0]) < 0 || !hex[1] || HexDigit(hex[1]) < 0 || n == sizeof(data))
            return Usage("bytes must be pairs of hex digits, at most 1024 bytes");
        data[n++] = (BYTE)(HexDigit(hex[0]) * 16 + HexDigit(hex[1]));
    }
    if ((err = RegCreateKeyExA(root, sub, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL)))
    {
        SetLastError(err);
        return Fail("RegCreateKeyExA failed");
    }
    err = RegSetValueExA(key, argv[1], 0, type, data, n);
    RegCloseKey(key);
    if (err)
    {
        SetLastError(err);
        return Fail("RegSetValueExA failed");
    }
    printf("{\"ok\":true,\"size\":%lu}\n", n);
    return 0;
}

/* regdel <HKCU\key>: deletes the key with everything under it; a key that
   is already absent is no error. */
static int CmdRegDel(int argc, char **argv)
{
    const char *sub;
    HKEY root;
    LONG err;

    if (argc < 1) return Usage("regdel <HKCU\\key>");
    if (!(root = ParseKey(argv[0], &sub)) || !sub[0]) return Usage("key must be below HKCU\\ or HKLM\\");
    /* With a subkey name, RegDeleteTreeA removes that key itself as well. */
    err = RegDeleteTreeA(root, sub);
    if (err && err != ERROR_FILE_NOT_FOUND)
    {
        SetLastError(err);
        return Fail("cannot delete the key");
    }
    printf("{\"ok\":true,\"existed\":%s}\n", err ? "false" : "true");
    return 0;
}

/* loadstring <module> <id>: a string table entry, read without running the
   module's code.  "text" holds exactly the stored characters; "ansi" is
   what a program that loads the string as 8-bit text in the ANSI code page
   "acp" and shows it again gets back. */
static int CmdLoadString(int argc, char **argv)
{
    const WCHAR *p = NULL;
    char ansi[4096];
    WCHAR back[4096];
    HMODULE mod;
    UINT id;
    int len, alen;

    if (argc < 2) return Usage("loadstring <module> <id>");
    if (!(mod = LoadLibraryExA(argv[0], NULL, LOAD_LIBRARY_AS_DATAFILE)))
        return Fail("cannot load the module");
    id = strtoul(argv[1], NULL, 0);
    /* A zero-length buffer returns a pointer into the resource itself. */
    len = LoadStringW(mod, id, (WCHAR *)&p, 0);
    alen = LoadStringA(mod, id, ansi, sizeof(ansi));
    alen = MultiByteToWideChar(CP_ACP, 0, ansi, alen, back, 4096);
    printf("{\"ok\":true,\"acp\":%u,\"text\":", GetACP());
    PutJsonStringW(p ? p : L"", p ? len : 0);
    printf(",\"ansi\":");
    PutJsonStringW(back, alen);
    printf("}\n");
    FreeLibrary(mod);
    return 0;
}

/* ---- fonts ----------------------------------------------------------- */

/* One character drawn black on white into a small 32-bit bitmap. */
#define GLYPH_CELL 48
static void DrawCharacter(HDC mem, const DWORD *bits, DWORD *copy, WCHAR c)
{
    PatBlt(mem, 0, 0, GLYPH_CELL, GLYPH_CELL, WHITENESS);
    /* Away from the edges: marks that combine are drawn left of the origin. */
    TextOutW(mem, GLYPH_CELL / 4, GLYPH_CELL / 4, &c, 1);
    GdiFlush();
    memcpy(copy, bits, GLYPH_CELL * GLYPH_CELL * sizeof(DWORD));
}

/* font <face> [charset] [text]: the font the system really gives for a
   face name (9 points, like the dialogs): the face name the DC reports and
   the family and full names inside the font file, which tell a substitute
   apart.  With a text (in the ANSI code page), "missing" lists the
   characters that come out as the font's missing-glyph box: each one is
   drawn and compared with the drawing of a private-use character no font
   here has, so font linking is taken into account as it is on screen. */
static int CmdFont(int argc, char **argv)
{
    static DWORD box[GLYPH_CELL * GLYPH_CELL], drawn[GLYPH_CELL * GLYPH_CELL];
    OUTLINETEXTMETRICA *otm;
    BITMAPINFO bi;
    char face[LF_FACESIZE];
    WCHAR text[1024];
    HDC dc, mem;
    HFONT font;
    HBITMAP bmp;
    HGDIOBJ old, oldbmp;
    DWORD *bits;
    UINT size;
    int charset, len = 0, i, missing = 0;

    if (argc < 1) return Usage("font <face> [charset] [text]");
    charset = argc > 1 ? (int)strtol(argv[1], NULL, 0) : DEFAULT_CHARSET;
    if (argc > 2 && (len = MultiByteToWideChar(CP_ACP, 0, argv[2], -1, text, 1024)) > 0) len--;
    dc = GetDC(NULL);
    font = CreateFontA(-MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                       FALSE, FALSE, charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, argv[0]);
    old = SelectObject(dc, font);
    face[0] = 0;
    GetTextFaceA(dc, sizeof(face), face);
    size = GetOutlineTextMetricsA(dc, 0, NULL);
    otm = size ? (OUTLINETEXTMETRICA *)malloc(size) : NULL;
    if (!otm || !GetOutlineTextMetricsA(dc, size, otm))
    {
        free(otm);
        SelectObject(dc, old);
        DeleteObject(font);
        ReleaseDC(NULL, dc);
        return Fail("no outline font");
    }
    printf("{\"ok\":true,\"face\":");
    PutJsonStringA(face);
    printf(",\"family\":");
    PutJsonStringA((char *)otm + (ULONG_PTR)otm->otmpFamilyName);
    printf(",\"full\":");
    PutJsonStringA((char *)otm + (ULONG_PTR)otm->otmpFullName);
    printf(",\"charset\":%d,\"missing\":\"", GetTextCharset(dc));
    free(otm);
    SelectObject(dc, old);

    memset(&bi, 0, sizeof(bi));
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = GLYPH_CELL;
    bi.bmiHeader.biHeight = -GLYPH_CELL;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    mem = CreateCompatibleDC(dc);
    bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void **)&bits, NULL, 0);
    if (len && mem && bmp)
    {
        oldbmp = SelectObject(mem, bmp);
        old = SelectObject(mem, font);
        DrawCharacter(mem, bits, box, 0xE000);
        for (i = 0; i < len; i++)
        {
            if (text[i] < 0x20) continue;  /* line breaks have no glyph anywhere */
            DrawCharacter(mem, bits, drawn, text[i]);
            if (!memcmp(drawn, box, sizeof(box)) && missing++ < 64)
                printf("\\u%04x", (unsigned)text[i]);
        }
        SelectObject(mem, old);
        SelectObject(mem, oldbmp);
    }
    printf("\"}\n");
    if (bmp) DeleteObject(bmp);
    if (mem) DeleteDC(mem);
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    return 0;
}

/* ---- driver installation --------------------------------------------- */

/* infcopy <inf path> [copy style]: registers an INF the way the installer
   does (SetupCopyOEMInfA, SPOST_PATH, default SP_COPY_NOOVERWRITE) and
   reports the answer as it is: "result", "lasterror" and the stored name. */
static int CmdInfCopy(int argc, char **argv)
{
    char name[MAX_PATH];
    char *component = NULL;
    DWORD style, err;
    BOOL ret;

    if (argc < 1) return Usage("infcopy <inf path> [copy style]");
    style = argc > 1 ? strtoul(argv[1], NULL, 0) : SP_COPY_NOOVERWRITE;
    name[0] = 0;
    SetLastError(0xdeadbeef);
    ret = SetupCopyOEMInfA(argv[0], NULL, SPOST_PATH, style, name, MAX_PATH, NULL, &component);
    err = GetLastError();
    printf("{\"ok\":true,\"result\":%d,\"lasterror\":%lu,\"name\":", ret ? 1 : 0, err);
    PutJsonStringA(name);
    printf("}\n");
    return 0;
}

/* hold <file or folder> <timeout_ms> <release file> [access sharing]: opens
   it as another program that has it open would, by default for reading and
   shared with nobody (access and sharing as numbers, e.g. 0x40000000 7 for
   a writer that shares everything); says so at once, then keeps it open
   until the release file exists or the time is up, and ends. */
static int CmdHold(int argc, char **argv)
{
    HANDLE f;
    DWORD start, timeout, access, sharing;
    BOOL released;

    if (argc < 3) return Usage("hold <file or folder> <timeout_ms> <release file> [access sharing]");
    access = argc > 3 ? strtoul(argv[3], NULL, 0) : GENERIC_READ;
    sharing = argc > 4 ? strtoul(argv[4], NULL, 0) : 0;
    f = CreateFileA(argv[0], access, sharing, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (f == INVALID_HANDLE_VALUE) return Fail("cannot open the file");
    timeout = strtoul(argv[1], NULL, 0);
    printf("{\"ok\":true,\"held\":");
    PutJsonStringA(argv[0]);
    printf("}\n");
    fflush(stdout);
    start = GetTickCount();
    while (!(released = GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES) &&
           GetTickCount() - start < timeout)
        Sleep(POLL_MS);
    CloseHandle(f);
    /* The answer is out already: the exit code says how the hold ended. */
    return released ? 0 : 3;
}

static const COMMAND commands[] = {
    { "wait", CmdWait },
    { "gone", CmdGone },
    { "window", CmdWindow },
    { "windows", CmdWindows },
    { "text", CmdText },
    { "msgbox", CmdMsgBox },
    { "focus", CmdFocus },
    { "click", CmdClick },
    { "key", CmdKey },
    { "syscommand", CmdSysCommand },
    { "activate", CmdActivate },
    { "screenshot", CmdScreenshot },
    { "regset", CmdRegSet },
    { "regdel", CmdRegDel },
    { "loadstring", CmdLoadString },
    { "infcopy", CmdInfCopy },
    { "font", CmdFont },
    { "hold", CmdHold },
};

int main(int argc, char **argv)
{
    return RunCommand(commands, sizeof(commands) / sizeof(commands[0]), argc, argv,
                      "wnhelper <wait|gone|window|windows|text|msgbox|focus|click|key|syscommand|activate|"
                      "screenshot|regset|regdel|loadstring|infcopy|font|hold> ...");
}
