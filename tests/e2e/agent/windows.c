/*
 * The commands that look at and drive another program's windows, the way a
 * user would: finding, reading, clicking, typing, and the screen itself.
 */

#include "agent.h"

#define DEFAULT_TIMEOUT_MS 10000
#define POLL_MS 50

static DWORD ArgTimeout(int argc, char **argv, int i)
{
    return i < argc ? strtoul(argv[i], NULL, 0) : DEFAULT_TIMEOUT_MS;
}

/* A window handle that names a window; NULL if it names none. */
static HWND ArgWindow(const char *s)
{
    HWND h = ArgHwnd(s);
    return IsWindow(h) ? h : NULL;
}

/* ---- finding windows ------------------------------------------------- */

#define MAX_LISTED 256

typedef struct
{
    WCHAR caption[512];
    const char *process; /* pid or exe name; NULL: any process */
} FINDCAPTION;

static HWND FindCaption(void *ctx)
{
    const FINDCAPTION *fc = (const FINDCAPTION *)ctx;
    HWND windows[MAX_LISTED];
    /* The process may not have started yet: look it up each round. */
    DWORD pid = fc->process ? ArgProcess(fc->process) : 0;
    int i, n = !fc->process || pid ? ListWindows(pid, TRUE, NULL, windows, MAX_LISTED) : 0;

    for (i = 0; i < n; i++)
        if (HasCaption(windows[i], fc->caption)) return windows[i];
    return NULL;
}

/* wait <caption> [timeout_ms] [pid|exe name]: the first visible top-level
   window with exactly this caption, of that process if one is named. */
int CmdWait(int argc, char **argv)
{
    FINDCAPTION fc;
    DWORD start = GetTickCount();
    HWND found;

    if (argc < 1) return Usage("wait <caption> [timeout_ms] [pid|exe name]");
    MultiByteToWideChar(CP_ACP, 0, argv[0], -1, fc.caption, 512);
    fc.process = argc > 2 ? argv[2] : NULL;
    if (WaitWindow(FindCaption, &fc, NULL, ArgTimeout(argc, argv, 1), POLL_MS, &found) != WAIT_FOUND)
    {
        SetLastError(ERROR_TIMEOUT);
        return Fail("no visible window with that caption");
    }
    printf("{\"ok\":true,");
    PutWindowFields(found);
    printf(",\"waited_ms\":%lu}\n", GetTickCount() - start);
    return 0;
}

/* gone <hwnd> [timeout_ms]: waits until the window no longer exists. */
int CmdGone(int argc, char **argv)
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

/* ---- reading windows ------------------------------------------------- */

/* window <hwnd>: the fields of one window. */
int CmdWindow(int argc, char **argv)
{
    HWND h;
    if (argc < 1) return Usage("window <hwnd>");
    if (!(h = ArgWindow(argv[0]))) return Fail("no such window");
    printf("{\"ok\":true,");
    PutWindowFields(h);
    printf("}\n");
    return 0;
}

/* windows <pid|exe name>: every top-level window of one process, hidden
   ones included (each entry says whether it is visible). */
int CmdWindows(int argc, char **argv)
{
    HWND windows[MAX_LISTED];
    DWORD pid;
    int i, n;

    if (argc < 1) return Usage("windows <pid|exe name>");
    if (!(pid = ArgProcess(argv[0])))
    {
        SetLastError(ERROR_NOT_FOUND);
        return Fail("no such process");
    }
    n = ListWindows(pid, FALSE, NULL, windows, MAX_LISTED);
    printf("{\"ok\":true,\"pid\":%lu,\"windows\":[", pid);
    for (i = 0; i < n; i++)
    {
        printf("%s{", i ? "," : "");
        PutWindowFields(windows[i]);
        printf("}");
    }
    printf("]}\n");
    return 0;
}

/* text <hwnd> <control id>: a control's text. */
int CmdText(int argc, char **argv)
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

/* A window rectangle in the client coordinates of its parent. */
void PutChildRect(HWND parent, HWND h)
{
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(NULL, parent, (POINT *)&r, 2);
    PutRect("rect", &r);
}

/* children <hwnd>: the child windows of another process's window, in
   Z order (template order for a dialog): class, id, text, style, and the
   rectangle in the parent's client coordinates. */
int CmdChildren(int argc, char **argv)
{
    HWND parent, h;
    WCHAR text[1024];
    char cls[256];
    int len, n = 0;

    if (argc < 1) return Usage("children <hwnd>");
    if (!(parent = ArgWindow(argv[0]))) return Fail("no such window");
    printf("{\"ok\":true,\"children\":[");
    for (h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
    {
        GetClassNameA(h, cls, sizeof(cls));
        len = GetTextW(h, text, 1024);
        printf("%s{\"hwnd\":%lu,\"class\":", n++ ? "," : "", (ULONG)(ULONG_PTR)h);
        PutJsonStringA(cls);
        printf(",\"id\":%ld,\"text\":", (long)GetWindowLongPtrA(h, GWLP_ID));
        PutJsonStringW(text, len > 0 ? len : 0);
        printf(",\"style\":%lu,\"visible\":%s", (ULONG)GetWindowLongA(h, GWL_STYLE),
               IsWindowVisible(h) ? "true" : "false");
        PutChildRect(parent, h);
        printf("}");
    }
    printf("]}\n");
    return 0;
}

/* ---- message boxes --------------------------------------------------- */

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
int CmdMsgBox(int argc, char **argv)
{
    MSGBOXCHILDREN mc = { NULL, 0 };
    HWND h;
    int red, blue, yellow;
    const char *icon;

    if (argc < 1) return Usage("msgbox <hwnd>");
    if (!(h = ArgWindow(argv[0]))) return Fail("no such window");
    printf("{\"ok\":true,");
    PutWindowFields(h);
    printf(",\"message\":");
    PutWindowText(GetDlgItem(h, MSGBOX_TEXT_ID));
    printf(",\"buttons\":[");
    EnumChildWindows(h, MsgBoxChildProc, (LPARAM)&mc);
    printf("]");
    icon = ClassifyIcon(mc.icon, &red, &blue, &yellow);
    printf(",\"icon\":\"%s\",\"icon_pixels\":{\"red\":%d,\"blue\":%d,\"yellow\":%d}}\n",
           icon, red, blue, yellow);
    return 0;
}

/* ---- thread state ---------------------------------------------------- */

/* focus <hwnd>: the control that has the keyboard focus in the window's
   thread, read from that thread's state, not the agent's; also the active
   window of that thread and the system's foreground window. */
int CmdFocus(int argc, char **argv)
{
    GUITHREADINFO gti;

    if (argc < 1) return Usage("focus <hwnd>");
    if (!GetThreadState(ArgHwnd(argv[0]), &gti)) return Fail("GetGUIThreadInfo failed");
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

/* threadstate <hwnd>: the GUI state of the window's thread; "flags" has
   GUI_INMOVESIZE (2) while the system's move or size loop runs. */
int CmdThreadState(int argc, char **argv)
{
    GUITHREADINFO gti;
    HWND h;

    if (argc < 1) return Usage("threadstate <hwnd>");
    h = ArgHwnd(argv[0]);
    if (!GetThreadState(h, &gti)) return Fail("GetGUIThreadInfo failed");
    printf("{\"ok\":true,\"flags\":%lu,\"active\":%lu,\"focus\":%lu,\"capture\":%lu,"
           "\"movesize\":%lu,\"iconic\":%s,\"style\":%lu}\n",
           gti.flags, (ULONG)(ULONG_PTR)gti.hwndActive, (ULONG)(ULONG_PTR)gti.hwndFocus,
           (ULONG)(ULONG_PTR)gti.hwndCapture, (ULONG)(ULONG_PTR)gti.hwndMoveSize,
           IsIconic(h) ? "true" : "false", (ULONG)GetWindowLongA(h, GWL_STYLE));
    return 0;
}

/* ---- driving windows ------------------------------------------------- */

/* click <hwnd> <control id> [more hwnds...]: presses a button, in each
   window given, one right after the other (a double start pressed at
   once).  Posted, never sent: the handler may open a modal box and would
   block the agent. */
int CmdClick(int argc, char **argv)
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
int CmdKey(int argc, char **argv)
{
    static const struct { const char *name; UINT vk; } keys[] = {
        { "enter", VK_RETURN }, { "escape", VK_ESCAPE }, { "tab", VK_TAB }, { "space", VK_SPACE },
    };
    GUITHREADINFO gti;
    HWND h, target;
    UINT vk = 0, scan, i;

    if (argc < 2) return Usage("key <hwnd> <enter|escape|tab|space|vk>");
    h = ArgHwnd(argv[0]);
    for (i = 0; i < ARRAY_SIZE(keys); i++)
        if (!lstrcmpiA(argv[1], keys[i].name)) vk = keys[i].vk;
    if (!vk) vk = strtoul(argv[1], NULL, 0);
    target = GetThreadState(h, &gti) && gti.hwndFocus ? gti.hwndFocus : h;
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
int CmdActivate(int argc, char **argv)
{
    HWND h;
    if (argc < 1) return Usage("activate <hwnd>");
    if (!(h = ArgWindow(argv[0]))) return Fail("no such window");
    SetForegroundWindow(GetDesktopWindow());
    Sleep(100);
    if (!SetForegroundWindow(h)) return Fail("SetForegroundWindow failed");
    printf("{\"ok\":true,\"foreground\":%lu}\n", (ULONG)(ULONG_PTR)GetForegroundWindow());
    return 0;
}

/* syscommand <hwnd> <SC_ value>: a window-menu command, posted. */
int CmdSysCommand(int argc, char **argv)
{
    if (argc < 2) return Usage("syscommand <hwnd> <SC_ value>");
    if (!PostMessageA(ArgHwnd(argv[0]), WM_SYSCOMMAND, strtoul(argv[1], NULL, 0), 0))
        return Fail("PostMessage failed");
    printf("{\"ok\":true}\n");
    return 0;
}

/* ---- the screen ------------------------------------------------------ */

/* screenshot <file.bmp>: the whole screen as a 32-bit top-down BMP. */
int CmdScreenshot(int argc, char **argv)
{
    BITMAPFILEHEADER bf;
    BITMAPINFOHEADER bh;
    RECT r;
    DWORD *bits, written;
    HBITMAP bmp;
    HANDLE f;
    BOOL ok;

    if (argc < 1) return Usage("screenshot <file.bmp>");
    SetRect(&r, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    if (!(bmp = CaptureScreen(&r, &bits))) return Fail("CreateDIBSection failed");
    InitDib32(&bh, r.right, r.bottom);
    memset(&bf, 0, sizeof(bf));
    bf.bfType = 0x4D42; /* "BM" */
    bf.bfOffBits = sizeof(bf) + sizeof(bh);
    bf.bfSize = bf.bfOffBits + bh.biSizeImage;
    f = CreateFileA(argv[0], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE)
    {
        DeleteObject(bmp);
        return Fail("cannot create the file");
    }
    ok = WriteFile(f, &bf, sizeof(bf), &written, NULL) && WriteFile(f, &bh, sizeof(bh), &written, NULL)
         && WriteFile(f, bits, bh.biSizeImage, &written, NULL);
    CloseHandle(f);
    DeleteObject(bmp);
    if (!ok) return Fail("cannot write the file");
    printf("{\"ok\":true,\"width\":%ld,\"height\":%ld}\n", r.right, r.bottom);
    return 0;
}

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

/* The characters of text that come out as the font's missing-glyph box:
   each one is drawn and compared with the drawing of a private-use
   character no font here has, so font linking counts as it does on
   screen.  At most 64, as \uXXXX escapes. */
static void PutMissing(HDC dc, HFONT font, const WCHAR *text, int len)
{
    static DWORD box[GLYPH_CELL * GLYPH_CELL], drawn[GLYPH_CELL * GLYPH_CELL];
    HDC mem = CreateCompatibleDC(dc);
    DWORD *bits;
    HBITMAP bmp = CreateDib32(dc, GLYPH_CELL, GLYPH_CELL, &bits);
    int i, missing = 0;

    if (len && mem && bmp)
    {
        HGDIOBJ oldbmp = SelectObject(mem, bmp), old = SelectObject(mem, font);
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
    if (bmp) DeleteObject(bmp);
    if (mem) DeleteDC(mem);
}

/* font <face> [charset] [text]: the font the system really gives for a
   face name (9 points, like the dialogs): the face name the DC reports and
   the family and full names inside the font file, which tell a substitute
   apart.  With a text (in the ANSI code page), "missing" lists the
   characters that come out as the font's missing-glyph box. */
int CmdFont(int argc, char **argv)
{
    OUTLINETEXTMETRICA *otm;
    char face[LF_FACESIZE];
    WCHAR text[1024];
    HDC dc;
    HFONT font;
    HGDIOBJ old;
    UINT size;
    int charset, len = 0;
    BOOL ok;

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
    if ((ok = otm && GetOutlineTextMetricsA(dc, size, otm)))
    {
        printf("{\"ok\":true,\"face\":");
        PutJsonStringA(face);
        printf(",\"family\":");
        PutJsonStringA((char *)otm + (ULONG_PTR)otm->otmpFamilyName);
        printf(",\"full\":");
        PutJsonStringA((char *)otm + (ULONG_PTR)otm->otmpFullName);
        printf(",\"charset\":%d,\"missing\":\"", GetTextCharset(dc));
    }
    free(otm);
    SelectObject(dc, old);
    if (ok)
    {
        PutMissing(dc, font, text, len);
        printf("\"}\n");
    }
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    return ok ? 0 : Fail("no outline font");
}
