/*
 * wnprobe: reads what an executable carries the way Windows itself reads it
 * (version API, resource API, the dialog manager) and what a running
 * process has loaded.  No parsing of the file of our own: every value comes
 * back from a platform call.
 *
 *   wnprobe <command> [arguments...]
 *
 * Like wnhelper, every command prints one JSON object on one line:
 * {"ok":true,...} and exit code 0, or {"ok":false,"error":"...",...} and
 * exit code 1.  Texts are written with \uXXXX escapes; byte strings as hex.
 */

#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wnshared.h"

/* ---- output ---------------------------------------------------------- */

static void PutHex(const BYTE *p, DWORD n)
{
    DWORD i;
    putchar('"');
    for (i = 0; i < n; i++) printf("%02x", p[i]);
    putchar('"');
}

/* A file's resources, without running any of its code. */
static HMODULE LoadResources(const char *path)
{
    return LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
}

/* ---- version --------------------------------------------------------- */

static const char *const version_keys[] = {
    "Comments", "CompanyName", "FileDescription", "FileVersion", "InternalName",
    "LegalCopyright", "LegalTrademarks", "OriginalFilename", "PrivateBuild",
    "ProductName", "ProductVersion", "SpecialBuild",
};

/* The keys of one string table, in the order the block holds them.  The
   buffer GetFileVersionInfoA fills is the documented VS_VERSIONINFO tree:
   each node is wLength, wValueLength, wType, a key, then its value and its
   children, each aligned on 4 bytes. */
static void PutStringTableKeys(const BYTE *info, const char *table)
{
    const BYTE *root = info, *end, *p;
    WCHAR want[16];
    int first = 1;

    MultiByteToWideChar(CP_ACP, 0, table, -1, want, 16);
    printf(",\"keys\":[");
    /* Children of the root start after its key and the fixed part. */
    p = root + 6;
    p += (lstrlenW((const WCHAR *)p) + 1) * 2;
    p = (const BYTE *)(((ULONG_PTR)p + 3) & ~3);
    p += *(const WORD *)(root + 2);
    end = root + *(const WORD *)root;
    for (; p + 6 < end; p = (const BYTE *)(((ULONG_PTR)(p + *(const WORD *)p) + 3) & ~3))
    {
        const BYTE *q, *qend;
        if (!*(const WORD *)p) break;
        if (lstrcmpW((const WCHAR *)(p + 6), L"StringFileInfo")) continue;
        q = p + 6 + (lstrlenW((const WCHAR *)(p + 6)) + 1) * 2;
        qend = p + *(const WORD *)p;
        for (q = (const BYTE *)(((ULONG_PTR)q + 3) & ~3); q + 6 < qend;
             q = (const BYTE *)(((ULONG_PTR)(q + *(const WORD *)q) + 3) & ~3))
        {
            const BYTE *s, *send;
            if (!*(const WORD *)q) break;
            if (lstrcmpiW((const WCHAR *)(q + 6), want)) continue;
            s = q + 6 + (lstrlenW((const WCHAR *)(q + 6)) + 1) * 2;
            send = q + *(const WORD *)q;
            for (s = (const BYTE *)(((ULONG_PTR)s + 3) & ~3); s + 6 < send;
                 s = (const BYTE *)(((ULONG_PTR)(s + *(const WORD *)s) + 3) & ~3))
            {
                if (!*(const WORD *)s) break;
                printf("%s", first ? "" : ",");
                first = 0;
                PutJsonStringW((const WCHAR *)(s + 6), lstrlenW((const WCHAR *)(s + 6)));
            }
        }
    }
    printf("]");
}

/* version <file>: the fixed part, the translation list and the
   "040904b0" strings, each read back with VerQueryValueA. */
static int CmdVersion(int argc, char **argv)
{
    VS_FIXEDFILEINFO *ffi;
    WORD *trans;
    UINT len, i;
    DWORD size, handle = 0;
    BYTE *info;

    if (argc < 1) return Usage("version <file>");
    SetLastError(0xdeadbeef);
    if (!(size = GetFileVersionInfoSizeA(argv[0], &handle)))
        return Fail("GetFileVersionInfoSizeA failed");
    info = (BYTE *)malloc(size);
    if (!GetFileVersionInfoA(argv[0], 0, size, info))
    {
        free(info);
        return Fail("GetFileVersionInfoA failed");
    }
    if (!VerQueryValueA(info, "\\", (void **)&ffi, &len) || len < sizeof(*ffi))
    {
        free(info);
        return Fail("no fixed file info");
    }
    printf("{\"ok\":true,\"signature\":%lu,\"struc_version\":%lu,"
           "\"file_version\":[%u,%u,%u,%u],\"product_version\":[%u,%u,%u,%u],"
           "\"flags_mask\":%lu,\"flags\":%lu,\"os\":%lu,\"type\":%lu,\"subtype\":%lu,"
           "\"date\":[%lu,%lu]",
           ffi->dwSignature, ffi->dwStrucVersion,
           HIWORD(ffi->dwFileVersionMS), LOWORD(ffi->dwFileVersionMS),
           HIWORD(ffi->dwFileVersionLS), LOWORD(ffi->dwFileVersionLS),
           HIWORD(ffi->dwProductVersionMS), LOWORD(ffi->dwProductVersionMS),
           HIWORD(ffi->dwProductVersionLS), LOWORD(ffi->dwProductVersionLS),
           ffi->dwFileFlagsMask, ffi->dwFileFlags, ffi->dwFileOS, ffi->dwFileType,
           ffi->dwFileSubtype, ffi->dwFileDateMS, ffi->dwFileDateLS);
    printf(",\"translations\":[");
    if (VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&trans, &len))
        for (i = 0; i < len / 4; i++)
            printf("%s[%u,%u]", i ? "," : "", trans[2 * i], trans[2 * i + 1]);
    printf("],\"strings\":{");
    for (i = 0; i < sizeof(version_keys) / sizeof(version_keys[0]); i++)
    {
        char query[128];
        char *value;
        sprintf(query, "\\StringFileInfo\\040904b0\\%s", version_keys[i]);
        printf("%s\"%s\":", i ? "," : "", version_keys[i]);
        if (VerQueryValueA(info, query, (void **)&value, &len)) PutJsonStringA(value);
        else printf("null");
    }
    printf("}");
    PutStringTableKeys(info, "040904b0");
    printf("}\n");
    free(info);
    return 0;
}

/* ---- resources ------------------------------------------------------- */

static void PutResId(LPCSTR id)
{
    if (IS_INTRESOURCE(id)) printf("%u", (unsigned)(ULONG_PTR)id);
    else PutJsonStringA(id);
}

typedef struct
{
    int count;
} ENUMSTATE;

static BOOL CALLBACK EnumLangProc(HMODULE mod, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR lp)
{
    ENUMSTATE *st = (ENUMSTATE *)lp;
    HRSRC res = FindResourceExA(mod, type, name, lang);
    printf("%s{\"type\":", st->count++ ? "," : "");
    PutResId(type);
    printf(",\"name\":");
    PutResId(name);
    printf(",\"lang\":%u,\"size\":%lu}", lang, res ? SizeofResource(mod, res) : 0);
    return TRUE;
}

static BOOL CALLBACK EnumNameProc(HMODULE mod, LPCSTR type, LPSTR name, LONG_PTR lp)
{
    EnumResourceLanguagesA(mod, type, name, EnumLangProc, lp);
    return TRUE;
}

static BOOL CALLBACK EnumTypeProc(HMODULE mod, LPSTR type, LONG_PTR lp)
{
    EnumResourceNamesA(mod, type, EnumNameProc, lp);
    return TRUE;
}

/* resources <file>: every resource as type, name, language and size. */
static int CmdResources(int argc, char **argv)
{
    ENUMSTATE st = { 0 };
    HMODULE mod;

    if (argc < 1) return Usage("resources <file>");
    if (!(mod = LoadResources(argv[0]))) return Fail("cannot load the file");
    printf("{\"ok\":true,\"resources\":[");
    EnumResourceTypesA(mod, EnumTypeProc, (LONG_PTR)&st);
    printf("]}\n");
    FreeLibrary(mod);
    return 0;
}

/* resource <file> <type> <name> <lang>: the bytes of one resource, found
   with FindResourceExA for exactly that language. */
static int CmdResource(int argc, char **argv)
{
    HMODULE mod;
    HRSRC res;
    HGLOBAL data;
    const BYTE *p;

    if (argc < 4) return Usage("resource <file> <type> <name> <lang>");
    if (!(mod = LoadResources(argv[0]))) return Fail("cannot load the file");
    SetLastError(0xdeadbeef);
    res = FindResourceExA(mod, MAKEINTRESOURCEA(strtoul(argv[1], NULL, 0)),
                          MAKEINTRESOURCEA(strtoul(argv[2], NULL, 0)),
                          (WORD)strtoul(argv[3], NULL, 0));
    if (!res || !(data = LoadResource(mod, res)) || !(p = (const BYTE *)LockResource(data)))
    {
        int ret = Fail("no such resource");
        FreeLibrary(mod);
        return ret;
    }
    printf("{\"ok\":true,\"size\":%lu,\"bytes\":", SizeofResource(mod, res));
    PutHex(p, SizeofResource(mod, res));
    printf("}\n");
    FreeLibrary(mod);
    return 0;
}

/* ---- icon group ------------------------------------------------------ */

#pragma pack(push, 2)
typedef struct
{
    BYTE bWidth, bHeight, bColorCount, bReserved;
    WORD wPlanes, wBitCount;
    DWORD dwBytesInRes;
    WORD nID;
} GRPICONDIRENTRY;
typedef struct
{
    WORD idReserved, idType, idCount;
    GRPICONDIRENTRY idEntries[1];
} GRPICONDIR;
#pragma pack(pop)

/* An icon image made by the system: its size and colour depth as the
   created icon's bitmaps report them. */
static void PutIconImage(HMODULE mod, WORD id, WORD lang)
{
    HRSRC res = FindResourceExA(mod, (LPCSTR)RT_ICON, MAKEINTRESOURCEA(id), lang);
    HGLOBAL data = res ? LoadResource(mod, res) : NULL;
    BYTE *p = data ? (BYTE *)LockResource(data) : NULL;
    HICON icon = p ? CreateIconFromResourceEx(p, SizeofResource(mod, res), TRUE, 0x00030000,
                                              0, 0, LR_DEFAULTCOLOR) : NULL;
    ICONINFO ii;
    BITMAP color, mask;

    printf(",\"image\":");
    if (!icon || !GetIconInfo(icon, &ii))
    {
        printf("null");
        if (icon) DestroyIcon(icon);
        return;
    }
    memset(&color, 0, sizeof(color));
    memset(&mask, 0, sizeof(mask));
    if (ii.hbmColor) GetObjectA(ii.hbmColor, sizeof(color), &color);
    GetObjectA(ii.hbmMask, sizeof(mask), &mask);
    /* The stored header's bit count: a created icon's colour bitmap takes
       the screen's depth, so the depth the file holds is read from the
       BITMAPINFOHEADER the resource starts with. */
    printf("{\"width\":%ld,\"height\":%ld,\"mask_height\":%ld,\"header_bits\":%u}",
           color.bmWidth ? color.bmWidth : mask.bmWidth,
           color.bmHeight ? color.bmHeight : mask.bmHeight / 2, mask.bmHeight,
           ((BITMAPINFOHEADER *)p)->biBitCount);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
    DestroyIcon(icon);
}

/* icongroup <file> <id> <lang>: the group directory's entries, the images
   they name, and which image the system picks for 32 x 32 and 16 x 16. */
static int CmdIconGroup(int argc, char **argv)
{
    HMODULE mod;
    HRSRC res;
    const GRPICONDIR *dir;
    WORD lang;
    int i;

    if (argc < 3) return Usage("icongroup <file> <id> <lang>");
    if (!(mod = LoadResources(argv[0]))) return Fail("cannot load the file");
    lang = (WORD)strtoul(argv[2], NULL, 0);
    SetLastError(0xdeadbeef);
    res = FindResourceExA(mod, (LPCSTR)RT_GROUP_ICON, MAKEINTRESOURCEA(strtoul(argv[1], NULL, 0)),
                          lang);
    if (!res || !(dir = (const GRPICONDIR *)LockResource(LoadResource(mod, res))))
    {
        int ret = Fail("no such icon group");
        FreeLibrary(mod);
        return ret;
    }
    printf("{\"ok\":true,\"type\":%u,\"entries\":[", dir->idType);
    for (i = 0; i < dir->idCount; i++)
    {
        const GRPICONDIRENTRY *e = &dir->idEntries[i];
        printf("%s{\"width\":%u,\"height\":%u,\"colors\":%u,\"planes\":%u,\"bits\":%u,"
               "\"bytes\":%lu,\"id\":%u",
               i ? "," : "", e->bWidth, e->bHeight, e->bColorCount, e->wPlanes, e->wBitCount,
               e->dwBytesInRes, e->nID);
        PutIconImage(mod, e->nID, lang);
        printf("}");
    }
    printf("],\"pick_32\":%d,\"pick_16\":%d}\n",
           LookupIconIdFromDirectoryEx((BYTE *)dir, TRUE, 32, 32, LR_DEFAULTCOLOR),
           LookupIconIdFromDirectoryEx((BYTE *)dir, TRUE, 16, 16, LR_DEFAULTCOLOR));
    FreeLibrary(mod);
    return 0;
}

/* ---- dialog templates ------------------------------------------------ */

static INT_PTR CALLBACK ProbeDialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    (void)h; (void)wp; (void)lp;
    return msg == WM_INITDIALOG;
}

/* A window rectangle in the client coordinates of its dialog. */
static void PutChildRect(HWND dlg, HWND h)
{
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(NULL, dlg, (POINT *)&r, 2);
    printf(",\"rect\":[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
}

/* An icon drawn at 32 x 32 on white, as 32-bit pixels. */
static BOOL DrawIconPixels(HICON icon, DWORD *pixels)
{
    BITMAPINFO bi;
    HDC screen = GetDC(NULL), mem = CreateCompatibleDC(screen);
    DWORD *bits;
    HBITMAP bmp;
    BOOL ok = FALSE;

    memset(&bi, 0, sizeof(bi));
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 32;
    bi.bmiHeader.biHeight = -32;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    if ((bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, (void **)&bits, NULL, 0)))
    {
        HGDIOBJ old = SelectObject(mem, bmp);
        PatBlt(mem, 0, 0, 32, 32, WHITENESS);
        ok = DrawIconEx(mem, 0, 0, icon, 32, 32, 0, NULL, DI_NORMAL);
        GdiFlush();
        memcpy(pixels, bits, 32 * 32 * 4);
        SelectObject(mem, old);
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return ok;
}

/* Two icon handles showing the same picture (handles differ between the
   control's copy and ours). */
static BOOL SameIconPixels(HICON a, HICON b)
{
    static DWORD pa[32 * 32], pb[32 * 32];
    return DrawIconPixels(a, pa) && DrawIconPixels(b, pb) && !memcmp(pa, pb, sizeof(pa));
}

/* dialog <file> <id>: the dialog the dialog manager builds from the
   file's template: caption, styles, font, client size, dialog base units
   (through MapDialogRect) and every control in template order. */
static int CmdDialog(int argc, char **argv)
{
    HMODULE mod;
    HWND dlg, h;
    HFONT font;
    LOGFONTW lf;
    RECT units, client, window;
    WCHAR text[1024];
    char cls[256];
    HDC dc;
    int len, dpi, n = 0;

    if (argc < 2) return Usage("dialog <file> <id>");
    if (!(mod = LoadResources(argv[0]))) return Fail("cannot load the file");
    SetLastError(0xdeadbeef);
    dlg = CreateDialogParamA(mod, MAKEINTRESOURCEA(strtoul(argv[1], NULL, 0)), NULL,
                             ProbeDialogProc, 0);
    if (!dlg)
    {
        int ret = Fail("CreateDialogParamA failed");
        FreeLibrary(mod);
        return ret;
    }
    /* 4 x 8 dialog units are one base unit each way. */
    SetRect(&units, 0, 0, 4, 8);
    MapDialogRect(dlg, &units);
    GetClientRect(dlg, &client);
    GetWindowRect(dlg, &window);
    len = GetWindowTextW(dlg, text, 1024);
    printf("{\"ok\":true,\"caption\":");
    PutJsonStringW(text, len);
    printf(",\"style\":%lu,\"exstyle\":%lu,\"base\":[%ld,%ld],\"client\":[%ld,%ld]",
           (ULONG)GetWindowLongA(dlg, GWL_STYLE), (ULONG)GetWindowLongA(dlg, GWL_EXSTYLE),
           units.right, units.bottom, client.right, client.bottom);
    /* Without an owner the template's position is a screen position. */
    printf(",\"window\":[%ld,%ld,%ld,%ld]", window.left, window.top, window.right, window.bottom);

    memset(&lf, 0, sizeof(lf));
    font = (HFONT)SendMessageW(dlg, WM_GETFONT, 0, 0);
    if (font) GetObjectW(font, sizeof(lf), &lf);
    dc = GetDC(dlg);
    dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(dlg, dc);
    printf(",\"font\":{\"face\":");
    PutJsonStringW(lf.lfFaceName, lstrlenW(lf.lfFaceName));
    printf(",\"height\":%ld,\"points\":%d,\"weight\":%ld,\"italic\":%u,\"charset\":%u,\"dpi\":%d}",
           lf.lfHeight, lf.lfHeight < 0 ? MulDiv(-lf.lfHeight, 72, dpi) : 0, lf.lfWeight,
           lf.lfItalic, lf.lfCharSet, dpi);

    printf(",\"controls\":[");
    for (h = GetWindow(dlg, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
    {
        GetClassNameA(h, cls, sizeof(cls));
        len = GetWindowTextW(h, text, 1024);
        printf("%s{\"class\":", n++ ? "," : "");
        PutJsonStringA(cls);
        printf(",\"id\":%ld,\"text\":", (long)GetWindowLongPtrA(h, GWLP_ID));
        PutJsonStringW(text, len);
        printf(",\"style\":%lu,\"exstyle\":%lu", (ULONG)GetWindowLongA(h, GWL_STYLE),
               (ULONG)GetWindowLongA(h, GWL_EXSTYLE));
        PutChildRect(dlg, h);
        if ((GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && !lstrcmpiA(cls, "Static"))
        {
            HICON icon = (HICON)SendMessageA(h, STM_GETICON, 0, 0);
            ICONINFO ii;
            BITMAP bm;
            HICON app = LoadIconA(mod, MAKEINTRESOURCEA(128));
            printf(",\"has_icon\":%s,\"icon_is_128\":%s", icon ? "true" : "false",
                   icon && app && SameIconPixels(icon, app) ? "true" : "false");
            if (icon && GetIconInfo(icon, &ii))
            {
                GetObjectA(ii.hbmMask, sizeof(bm), &bm);
                printf(",\"icon_size\":[%ld,%ld]", bm.bmWidth, ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2);
                if (ii.hbmColor) DeleteObject(ii.hbmColor);
                DeleteObject(ii.hbmMask);
            }
        }
        printf("}");
    }
    printf("]}\n");
    DestroyWindow(dlg);
    FreeLibrary(mod);
    return 0;
}

/* ---- a running process ----------------------------------------------- */

/* The file version of a module file, as "a.b.c.d", or null. */
static void PutFileVersion(const char *path)
{
    DWORD handle = 0, size = GetFileVersionInfoSizeA(path, &handle);
    VS_FIXEDFILEINFO *ffi;
    UINT len;
    BYTE *info;

    if (!size || !(info = (BYTE *)malloc(size)))
    {
        printf("null");
        return;
    }
    if (GetFileVersionInfoA(path, 0, size, info) && VerQueryValueA(info, "\\", (void **)&ffi, &len)
        && len >= sizeof(*ffi))
        printf("\"%u.%u.%u.%u\"", HIWORD(ffi->dwFileVersionMS), LOWORD(ffi->dwFileVersionMS),
               HIWORD(ffi->dwFileVersionLS), LOWORD(ffi->dwFileVersionLS));
    else
        printf("null");
    free(info);
}

/* modules <pid|exe name>: every module the process has loaded, with its
   path and its file version. */
static int CmdModules(int argc, char **argv)
{
    MODULEENTRY32 me;
    HANDLE snap;
    DWORD pid;
    char *end;
    int n = 0;

    if (argc < 1) return Usage("modules <pid|exe name>");
    pid = strtoul(argv[0], &end, 0);
    if (*end) pid = FindProcessId(argv[0]);
    if (!pid)
    {
        SetLastError(ERROR_NOT_FOUND);
        return Fail("no such process");
    }
    snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) return Fail("CreateToolhelp32Snapshot failed");
    me.dwSize = sizeof(me);
    printf("{\"ok\":true,\"pid\":%lu,\"modules\":[", pid);
    for (BOOL more = Module32First(snap, &me); more; more = Module32Next(snap, &me))
    {
        printf("%s{\"name\":", n++ ? "," : "");
        PutJsonStringA(me.szModule);
        printf(",\"base\":%lu,\"path\":", (ULONG)(ULONG_PTR)me.modBaseAddr);
        PutJsonStringA(me.szExePath);
        printf(",\"version\":");
        PutFileVersion(me.szExePath);
        printf("}");
    }
    printf("]}\n");
    CloseHandle(snap);
    return 0;
}

/* children <hwnd>: the child windows of another process's window, in
   Z order (template order for a dialog): class, id, text, style, and the
   rectangle in the parent's client coordinates. */
static int CmdChildren(int argc, char **argv)
{
    HWND parent, h;
    WCHAR text[1024];
    char cls[256];
    DWORD_PTR len;
    int n = 0;

    if (argc < 1) return Usage("children <hwnd>");
    parent = (HWND)(ULONG_PTR)strtoul(argv[0], NULL, 0);
    if (!IsWindow(parent)) return Fail("no such window");
    printf("{\"ok\":true,\"children\":[");
    for (h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
    {
        GetClassNameA(h, cls, sizeof(cls));
        text[0] = 0;
        if (!SendMessageTimeoutW(h, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &len))
            len = 0;
        printf("%s{\"hwnd\":%lu,\"class\":", n++ ? "," : "", (ULONG)(ULONG_PTR)h);
        PutJsonStringA(cls);
        printf(",\"id\":%ld,\"text\":", (long)GetWindowLongPtrA(h, GWLP_ID));
        PutJsonStringW(text, (int)len);
        printf(",\"style\":%lu,\"visible\":%s", (ULONG)GetWindowLongA(h, GWL_STYLE),
               IsWindowVisible(h) ? "true" : "false");
        PutChildRect(parent, h);
        printf("}");
    }
    printf("]}\n");
    return 0;
}

/* threadstate <hwnd>: the GUI state of the window's thread; "flags" has
   GUI_INMOVESIZE (2) while the system's move or size loop runs. */
static int CmdThreadState(int argc, char **argv)
{
    GUITHREADINFO gti;
    HWND h;

    if (argc < 1) return Usage("threadstate <hwnd>");
    h = (HWND)(ULONG_PTR)strtoul(argv[0], NULL, 0);
    gti.cbSize = sizeof(gti);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(h, NULL), &gti))
        return Fail("GetGUIThreadInfo failed");
    printf("{\"ok\":true,\"flags\":%lu,\"active\":%lu,\"focus\":%lu,\"capture\":%lu,"
           "\"movesize\":%lu,\"iconic\":%s,\"style\":%lu}\n",
           gti.flags, (ULONG)(ULONG_PTR)gti.hwndActive, (ULONG)(ULONG_PTR)gti.hwndFocus,
           (ULONG)(ULONG_PTR)gti.hwndCapture, (ULONG)(ULONG_PTR)gti.hwndMoveSize,
           IsIconic(h) ? "true" : "false", (ULONG)GetWindowLongA(h, GWL_STYLE));
    return 0;
}

/* nodependency <source> <copy>: a copy of the executable whose manifest
   (type 24, ID 1, language 1028) is replaced, through the resource update
   API, by one that names no dependency: the control case for what the
   dependency changes.  (Wine 8 keeps a resource that UpdateResource is
   asked to delete, so it is replaced rather than removed.)  It names the
   processor of this build, as the program's own does: the x86_64 build of
   the suite would otherwise compare against a manifest that cannot be
   activated at all. */
#ifdef _WIN64
#define MANIFEST_ARCH "amd64"
#else
#define MANIFEST_ARCH "X86"
#endif
static int CmdNoDependency(int argc, char **argv)
{
    static const char plain[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "\t<assemblyIdentity version=\"0.1.0.0\" processorArchitecture=\"" MANIFEST_ARCH "\" "
        "name=\"Ombrel.Wirenest\" type=\"win32\"/>\r\n"
        "</assembly>\r\n";
    HANDLE upd;

    if (argc < 2) return Usage("nodependency <source> <copy>");
    if (!CopyFileA(argv[0], argv[1], FALSE)) return Fail("CopyFileA failed");
    if (!(upd = BeginUpdateResourceA(argv[1], FALSE))) return Fail("BeginUpdateResourceA failed");
    if (!UpdateResourceA(upd, (LPCSTR)RT_MANIFEST, MAKEINTRESOURCEA(1),
                         MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), (void *)plain,
                         sizeof(plain) - 1))
    {
        int ret = Fail("UpdateResourceA failed");
        EndUpdateResourceA(upd, TRUE);
        return ret;
    }
    if (!EndUpdateResourceA(upd, FALSE)) return Fail("EndUpdateResourceA failed");
    printf("{\"ok\":true,\"size\":%u}\n", (unsigned)(sizeof(plain) - 1));
    return 0;
}

static const COMMAND commands[] = {
    { "version", CmdVersion },
    { "resources", CmdResources },
    { "resource", CmdResource },
    { "icongroup", CmdIconGroup },
    { "dialog", CmdDialog },
    { "modules", CmdModules },
    { "children", CmdChildren },
    { "threadstate", CmdThreadState },
    { "nodependency", CmdNoDependency },
};

int main(int argc, char **argv)
{
    return RunCommand(commands, sizeof(commands) / sizeof(commands[0]), argc, argv,
                      "wnprobe <version|resources|resource|icongroup|dialog|modules|children|"
                      "threadstate|nodependency> ...");
}
