/*
 * The commands that look at and drive another program's windows, the way a
 * user would: finding, reading, clicking, typing, and the screen itself.
 */

#include "agent.h"

#define DEFAULT_TIMEOUT_MS 10000
#define POLL_MS 50
#define MAX_LISTED 256

#define ArgTimeout(s) ((s) ? strtoul((s), NULL, 0) : DEFAULT_TIMEOUT_MS)
#define ArgHwnd(s) ((HWND)(ULONG_PTR)strtoul((s), NULL, 0))

/* A window handle that names a window; NULL if it names none. */
static HWND ArgWindow(const char *s)
{
    HWND h = ArgHwnd(s);
    return IsWindow(h) ? h : NULL;
}

/* The GUI state of the window's thread: active, focus, capture, move loop. */
static BOOL GetThreadState(HWND h, GUITHREADINFO *gti)
{
    gti->cbSize = sizeof(*gti);
    return GetGUIThreadInfo(GetWindowThreadProcessId(h, NULL), gti);
}

typedef struct { WCHAR caption[512]; const char *process; /* pid or exe name; NULL: any */ } FINDCAPTION;

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

/* The first visible top-level window with exactly this caption, of that
   process if one is named. */
int CmdWait(char **argv)
{
    FINDCAPTION fc;
    DWORD start = GetTickCount();
    HWND found;

    MultiByteToWideChar(CP_ACP, 0, argv[0], -1, fc.caption, 512);
    fc.process = argv[1] ? argv[2] : NULL;
    if (WaitWindow(FindCaption, &fc, NULL, ArgTimeout(argv[1]), POLL_MS, &found) != WAIT_FOUND)
        return FailWith(ERROR_TIMEOUT, "no visible window with that caption");
    PutWindowFields("{\"ok\":true,", NULL, found, "");
    printf(",\"waited_ms\":%lu}\n", GetTickCount() - start);
    return 0;
}

/* Waits until the window no longer exists. */
int CmdGone(char **argv)
{
    HWND h = ArgHwnd(argv[0]);
    DWORD start = GetTickCount(), timeout = ArgTimeout(argv[1]);

    for (; IsWindow(h); Sleep(POLL_MS))
        if (GetTickCount() - start >= timeout) return FailWith(ERROR_TIMEOUT, "window still exists");
    printf("{\"ok\":true,\"waited_ms\":%lu}\n", GetTickCount() - start);
    return 0;
}

int CmdWindow(char **argv)
{
    HWND h = ArgWindow(argv[0]);

    if (!h) return Fail("no such window");
    PutWindowFields("{\"ok\":true,", NULL, h, "}\n");
    return 0;
}

/* Every top-level window of one process, hidden ones included. */
int CmdWindows(char **argv)
{
    HWND windows[MAX_LISTED];
    DWORD pid = ArgProcess(argv[0]);
    int i, n = pid ? ListWindows(pid, FALSE, NULL, windows, MAX_LISTED) : 0;

    if (!pid) return FailWith(ERROR_NOT_FOUND, "no such process");
    printf("{\"ok\":true,\"pid\":%lu,\"windows\":[", pid);
    for (i = 0; i < n; i++) PutWindowFields(i ? ",{" : "{", NULL, windows[i], "}");
    printf("]}\n");
    return 0;
}

int CmdText(char **argv)
{
    WCHAR text[4096];
    HWND ctl = GetDlgItem(ArgHwnd(argv[0]), strtol(argv[1], NULL, 0));
    int len;

    if (!ctl) return Fail("no such control");
    if ((len = GetTextW(ctl, text, 4096)) < 0) return Fail("WM_GETTEXT failed");
    printf("{\"ok\":true,\"text\":%s,\"visible\":%s}\n", JsonW(text, len), JSON_BOOL(IsWindowVisible(ctl)));
    return 0;
}

/* In Z order: template order for a dialog. */
int CmdChildren(char **argv)
{
    HWND parent = ArgWindow(argv[0]), h;
    int n = 0;

    if (!parent) return Fail("no such window");
    printf("{\"ok\":true,\"children\":[");
    for (h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        PutWindowFields(n++ ? ",{" : "{", parent, h, "}");
    printf("]}\n");
    return 0;
}

/* A copy of a screen rectangle from the screen DC: under Wine's virtual
   desktop an X screenshot of the root shows some windows as black. */
static BOOL CaptureScreen(DIB *dib, const RECT *r)
{
    HDC screen = GetDC(NULL);
    BOOL ok = OpenDib(dib, r->right - r->left, r->bottom - r->top);

    if (ok)
        BitBlt(dib->dc, 0, 0, r->right - r->left, r->bottom - r->top, screen, r->left, r->top,
               SRCCOPY | CAPTUREBLT);
    GdiFlush();
    ReleaseDC(NULL, screen);
    return ok;
}

/* Icon handles mean nothing in another process, so a message box's icon is
   told by the colours it put on the screen. */
static const char *ClassifyIcon(HWND icon, int *red, int *blue, int *yellow)
{
    RECT r;
    DIB dib;
    int i, n;

    *red = *blue = *yellow = 0;
    if (!icon || !IsWindowVisible(icon)) return "none";
    /* Make sure the icon is painted before it is looked at. */
    RedrawWindow(icon, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    if (!GetWindowRect(icon, &r) || IsRectEmpty(&r)) return "none";
    n = CaptureScreen(&dib, &r) ? (r.right - r.left) * (r.bottom - r.top) : 0;
    for (i = 0; i < n; i++)
    {
        int b = dib.bits[i] & 0xFF, g = (dib.bits[i] >> 8) & 0xFF, rd = (dib.bits[i] >> 16) & 0xFF;
        if (rd >= 160 && g < 110 && b < 110) (*red)++;
        else if (b >= 160 && rd < 110 && g < 170) (*blue)++;
        else if (rd >= 180 && g >= 150 && b < 100) (*yellow)++;
    }
    CloseDib(&dib);
    /* A dozen pixels is far below any icon and far above stray anti-aliasing. */
    if (*red >= 12 && *red >= *blue && *red >= *yellow) return "stop";
    if (*blue >= 12 && *blue >= *yellow) return "information";
    if (*yellow >= 12) return "warning";
    return "none";
}

typedef struct { HWND icon; int count; } MSGBOXCHILDREN;

static BOOL CALLBACK MsgBoxChildProc(HWND h, LPARAM lp)
{
    MSGBOXCHILDREN *mc = (MSGBOXCHILDREN *)lp;
    char cls[64] = "";
    WCHAR text[256];

    if (IsIconStatic(h)) mc->icon = h;
    GetClassNameA(h, cls, sizeof(cls));
    if (!lstrcmpiA(cls, "Button") && IsWindowVisible(h))
        printf("%s{\"id\":%ld,\"text\":%s}", mc->count++ ? "," : "", (long)GetWindowLongPtrA(h, GWLP_ID),
               JsonW(text, GetTextW(h, text, 256)));
    return TRUE;
}

/* A message box's fields, visible buttons and icon: stop (red),
   information (blue; a question mark too), warning (yellow) or none. */
int CmdMsgBox(char **argv)
{
    MSGBOXCHILDREN mc = { NULL, 0 };
    HWND h = ArgWindow(argv[0]);
    int red, blue, yellow;
    const char *icon;

    if (!h) return Fail("no such window");
    PutWindowFields("{\"ok\":true,", NULL, h, "");
    printf(",\"message\":%s,\"buttons\":[", JsonText(GetDlgItem(h, MSGBOX_TEXT_ID)));
    EnumChildWindows(h, MsgBoxChildProc, (LPARAM)&mc);
    icon = ClassifyIcon(mc.icon, &red, &blue, &yellow);
    printf("],\"icon\":\"%s\",\"icon_pixels\":{\"red\":%d,\"blue\":%d,\"yellow\":%d}}\n",
           icon, red, blue, yellow);
    return 0;
}

/* The GUI state of the window's thread as that thread has it, not the
   agent's, with the focus window's fields; and the system's foreground
   window.  "flags" has GUI_INMOVESIZE (2) while a move or size loop runs. */
int CmdThreadState(char **argv)
{
    GUITHREADINFO gti;
    HWND h = ArgHwnd(argv[0]);

    if (!GetThreadState(h, &gti)) return Fail("GetGUIThreadInfo failed");
    printf("{\"ok\":true,\"flags\":%lu,\"foreground\":%lu,\"active\":%lu,\"focus\":%lu,\"capture\":%lu,"
           "\"movesize\":%lu,\"iconic\":%s,\"style\":%lu",
           gti.flags, HandleToULong(GetForegroundWindow()), HandleToULong(gti.hwndActive),
           HandleToULong(gti.hwndFocus), HandleToULong(gti.hwndCapture), HandleToULong(gti.hwndMoveSize),
           JSON_BOOL(IsIconic(h)), (ULONG)GetWindowLongA(h, GWL_STYLE));
    if (gti.hwndFocus) PutWindowFields(",\"window\":{", NULL, gti.hwndFocus, "}");
    printf("}\n");
    return 0;
}

int CmdFocus(char **argv)
{
    return CmdThreadState(argv);
}

/* Presses a button in each window given, one right after the other (a
   double start pressed at once); posted, as the handler may run a modal box. */
int CmdClick(char **argv)
{
    HWND ctl[8];
    DWORD start;
    int i, count = 0;

    while (argv[count + 1]) count++;
    if (count > 8) return Usage("click <hwnd> <control id> [up to 7 more hwnds]");
    for (i = 0; i < count; i++)
        if (!(ctl[i] = GetDlgItem(ArgHwnd(argv[i ? i + 1 : 0]), strtol(argv[1], NULL, 0))))
            return Fail("no such control");
    start = GetTickCount();
    for (i = 0; i < count; i++)
        if (!PostMessageA(ctl[i], BM_CLICK, 0, 0)) return Fail("PostMessage failed");
    printf("{\"ok\":true,\"control\":%lu,\"spread_ms\":%lu}\n", HandleToULong(ctl[0]),
           GetTickCount() - start);
    return 0;
}

/* Posted to the control that has the focus, where the dialog's own
   message loop picks it up as a typed key. */
int CmdKey(char **argv)
{
    static const struct { const char *name; UINT vk; } keys[] = {
        { "enter", VK_RETURN }, { "escape", VK_ESCAPE }, { "tab", VK_TAB }, { "space", VK_SPACE },
    };
    GUITHREADINFO gti;
    HWND h = ArgHwnd(argv[0]), target;
    UINT vk = 0, scan, i;

    for (i = 0; i < ARRAY_SIZE(keys); i++)
        if (!lstrcmpiA(argv[1], keys[i].name)) vk = keys[i].vk;
    if (!vk) vk = strtoul(argv[1], NULL, 0);
    target = GetThreadState(h, &gti) && gti.hwndFocus ? gti.hwndFocus : h;
    scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    if (!PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16)) ||
        !PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000))
        return Fail("PostMessage failed");
    printf("{\"ok\":true,\"target\":%lu,\"vk\":%u}\n", HandleToULong(target), vk);
    return 0;
}

/* As a user's click elsewhere and back: under Wine a message box that is
   the first window of its process can be active and still keep the
   caption of an inactive one until the activation changes. */
int CmdActivate(char **argv)
{
    HWND h = ArgWindow(argv[0]);

    if (!h) return Fail("no such window");
    SetForegroundWindow(GetDesktopWindow());
    Sleep(100);
    if (!SetForegroundWindow(h)) return Fail("SetForegroundWindow failed");
    printf("{\"ok\":true,\"foreground\":%lu}\n", HandleToULong(GetForegroundWindow()));
    return 0;
}

int CmdSysCommand(char **argv)
{
    if (!PostMessageA(ArgHwnd(argv[0]), WM_SYSCOMMAND, strtoul(argv[1], NULL, 0), 0))
        return Fail("PostMessage failed");
    printf("{\"ok\":true}\n");
    return 0;
}

int CmdScreenshot(char **argv)
{
    BITMAPFILEHEADER bf = { 0x4D42 /* "BM" */, 0, 0, 0, sizeof(bf) + sizeof(BITMAPINFOHEADER) };
    RECT r;
    DIB dib;
    const char *error = NULL;
    FILE *f = NULL;

    SetRect(&r, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    bf.bfSize = bf.bfOffBits + r.right * r.bottom * 4;
    if (!CaptureScreen(&dib, &r)) error = "CreateDIBSection failed";
    else if (!(f = fopen(argv[0], "wb"))) error = "cannot create the file";
    else if (!fwrite(&bf, sizeof(bf), 1, f) || !fwrite(&dib.bh, sizeof(dib.bh), 1, f)
             || !fwrite(dib.bits, dib.bh.biSizeImage, 1, f))
        error = "cannot write the file";
    if (f && fclose(f) && !error) error = "cannot write the file";
    CloseDib(&dib);
    if (error) return Fail(error);
    printf("{\"ok\":true,\"width\":%ld,\"height\":%ld}\n", r.right, r.bottom);
    return 0;
}

/* One character drawn black on white into the glyph cell. */
#define GLYPH_CELL 48
static const DWORD *DrawCharacter(const DIB *dib, WCHAR c)
{
    PatBlt(dib->dc, 0, 0, GLYPH_CELL, GLYPH_CELL, WHITENESS);
    /* Away from the edges: marks that combine are drawn left of the origin. */
    TextOutW(dib->dc, GLYPH_CELL / 4, GLYPH_CELL / 4, &c, 1);
    GdiFlush();
    return dib->bits;
}

/* The characters of text (at most 64, as \uXXXX) drawn as the drawing of
   a private-use character no font here has: the missing-glyph box, font
   linking counted as on screen. */
static void PutMissing(HFONT font, const WCHAR *text, int len)
{
    static DWORD box[GLYPH_CELL * GLYPH_CELL];
    DIB dib;
    int i, missing = 0;

    if (len && OpenDib(&dib, GLYPH_CELL, GLYPH_CELL))
    {
        HGDIOBJ old = SelectObject(dib.dc, font);
        memcpy(box, DrawCharacter(&dib, 0xE000), sizeof(box));
        for (i = 0; i < len; i++)
            if (text[i] >= 0x20  /* line breaks have no glyph anywhere */
                && !memcmp(DrawCharacter(&dib, text[i]), box, sizeof(box)) && missing++ < 64)
                printf("\\u%04x", (unsigned)text[i]);
        SelectObject(dib.dc, old);
    }
    if (len) CloseDib(&dib);
}

/* The font the system gives for a face name at 9 points, as the dialogs:
   the DC's face name and the family and full names inside the font file,
   which tell a substitute apart; with a text (ANSI code page), "missing". */
int CmdFont(char **argv)
{
    OUTLINETEXTMETRICA *otm = NULL;
    char face[LF_FACESIZE] = "";
    WCHAR text[1024];
    int charset = argv[1] ? (int)strtol(argv[1], NULL, 0) : DEFAULT_CHARSET, len = 0;
    HDC dc = GetDC(NULL);
    HFONT font = CreateFontA(-MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                             FALSE, FALSE, charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, argv[0]);
    HGDIOBJ old = SelectObject(dc, font);
    UINT size = GetOutlineTextMetricsA(dc, 0, NULL);
    BOOL ok;

    if (argv[1] && argv[2] && (len = MultiByteToWideChar(CP_ACP, 0, argv[2], -1, text, 1024)) > 0) len--;
    GetTextFaceA(dc, sizeof(face), face);
    if ((ok = size && (otm = (OUTLINETEXTMETRICA *)malloc(size)) && GetOutlineTextMetricsA(dc, size, otm)))
        printf("{\"ok\":true,\"face\":%s,\"family\":%s,\"full\":%s,\"charset\":%d,\"missing\":\"",
               Json(face), Json((char *)otm + (ULONG_PTR)otm->otmpFamilyName),
               Json((char *)otm + (ULONG_PTR)otm->otmpFullName), GetTextCharset(dc));
    free(otm);
    SelectObject(dc, old);
    if (ok)
    {
        PutMissing(font, text, len);
        printf("\"}\n");
    }
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    return ok ? 0 : Fail("no outline font");
}
