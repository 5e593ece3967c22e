/*
 * The commands that read what an executable carries as Windows reads it
 * (version API, resource API, dialog manager), never by parsing the file
 * ourselves, and what a running process has loaded.
 */

#include "agent.h"
#include <tlhelp32.h>

/* Without running any of the file's code. */
#define LoadResources(path) LoadLibraryExA((path), NULL, LOAD_LIBRARY_AS_DATAFILE)
#define ArgResId(s) MAKEINTRESOURCEA(strtoul((s), NULL, 0))

/* The failure, told before the module is let go. */
static int FailFree(HMODULE mod, const char *what)
{
    int ret = Fail(what);
    FreeLibrary(mod);
    return ret;
}

/* One resource's bytes, found for exactly that language; NULL if none. */
static const BYTE *LockRes(HMODULE mod, LPCSTR type, LPCSTR name, WORD lang, DWORD *size)
{
    HRSRC res = FindResourceExA(mod, type, name, lang);
    HGLOBAL data = res ? LoadResource(mod, res) : NULL;
    *size = res ? SizeofResource(mod, res) : 0;
    return data ? (const BYTE *)LockResource(data) : NULL;
}

/* GetFileVersionInfoA fills in the documented VS_VERSIONINFO tree: each
   node is wLength, wValueLength, wType, a key, its value and children,
   each aligned on 4 bytes. */
#define Align4(p) ((const BYTE *)(((ULONG_PTR)(p) + 3) & ~3))
#define NodeKey(node) ((const WCHAR *)((node) + 6))

static const BYTE *FirstChild(const BYTE *node)
{
    const BYTE *value = Align4((const BYTE *)(NodeKey(node) + lstrlenW(NodeKey(node)) + 1));
    return Align4(value + *(const WORD *)(node + 2));
}

/* [key, value] of each string below StringFileInfo\040904b0 of the block
   info, in stored order, the value read back with VerQueryValueA; node at
   depth 0: the root. */
static void PutStrings(const BYTE *info, const BYTE *node, int depth, int *count)
{
    const BYTE *end = node + *(const WORD *)node, *p;
    char key[256], query[300], *value;
    UINT len;

    for (p = FirstChild(node); p + 6 < end && *(const WORD *)p; p = Align4(p + *(const WORD *)p))
    {
        if (depth == 0 && !lstrcmpW(NodeKey(p), L"StringFileInfo")) PutStrings(info, p, 1, count);
        else if (depth == 1 && !lstrcmpiW(NodeKey(p), L"040904b0")) PutStrings(info, p, 2, count);
        else if (depth == 2 && WideCharToMultiByte(CP_ACP, 0, NodeKey(p), -1, key, sizeof(key), NULL, NULL))
        {
            sprintf(query, "\\StringFileInfo\\040904b0\\%s", key);
            printf("%s[%s,%s]", (*count)++ ? "," : "", Json(key),
                   VerQueryValueA(info, query, (void **)&value, &len) ? Json(value) : "null");
        }
    }
}

#define VERSION_ARGS(ms, ls) HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls)

/* The fixed part, the translation list and the "040904b0" strings. */
int CmdVersion(char **argv)
{
    VS_FIXEDFILEINFO *ffi;
    const char *error = NULL;
    DWORD handle = 0, size;
    WORD *trans;
    UINT len, i;
    BYTE *info = NULL;
    int strings = 0;

    SetLastError(0xdeadbeef);
    if (!(size = GetFileVersionInfoSizeA(argv[0], &handle)) || !(info = (BYTE *)malloc(size)))
        error = "GetFileVersionInfoSizeA failed";
    else if (!GetFileVersionInfoA(argv[0], 0, size, info)) error = "GetFileVersionInfoA failed";
    else if (!VerQueryValueA(info, "\\", (void **)&ffi, &len) || len < sizeof(*ffi)) error = "no fixed file info";
    if (error)
    {
        free(info);
        return Fail(error);
    }
    printf("{\"ok\":true,\"signature\":%lu,\"struc_version\":%lu,"
           "\"file_version\":[%u,%u,%u,%u],\"product_version\":[%u,%u,%u,%u],"
           "\"flags_mask\":%lu,\"flags\":%lu,\"os\":%lu,\"type\":%lu,\"subtype\":%lu,"
           "\"date\":[%lu,%lu],\"translations\":[",
           ffi->dwSignature, ffi->dwStrucVersion, VERSION_ARGS(ffi->dwFileVersionMS, ffi->dwFileVersionLS),
           VERSION_ARGS(ffi->dwProductVersionMS, ffi->dwProductVersionLS), ffi->dwFileFlagsMask,
           ffi->dwFileFlags, ffi->dwFileOS, ffi->dwFileType, ffi->dwFileSubtype, ffi->dwFileDateMS,
           ffi->dwFileDateLS);
    if (VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&trans, &len))
        for (i = 0; i < len / 4; i++)
            printf("%s[%u,%u]", i ? "," : "", trans[2 * i], trans[2 * i + 1]);
    printf("],\"strings\":[");
    PutStrings(info, info, 0, &strings);
    printf("]}\n");
    free(info);
    return 0;
}

static const char *JsonResId(LPCSTR id)
{
    char *number = IS_INTRESOURCE(id) ? TempString(12) : NULL;
    if (number) sprintf(number, "%u", (unsigned)(ULONG_PTR)id);
    return number ? number : Json(id);
}

static BOOL CALLBACK EnumLangProc(HMODULE mod, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR lp)
{
    int *count = (int *)lp;
    DWORD size;
    LockRes(mod, type, name, lang, &size);
    printf("%s{\"type\":%s,\"name\":%s,\"lang\":%u,\"size\":%lu}", (*count)++ ? "," : "", JsonResId(type),
           JsonResId(name), lang, size);
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

int CmdResources(char **argv)
{
    HMODULE mod = LoadResources(argv[0]);
    int count = 0;

    if (!mod) return Fail("cannot load the file");
    printf("{\"ok\":true,\"resources\":[");
    EnumResourceTypesA(mod, EnumTypeProc, (LONG_PTR)&count);
    printf("]}\n");
    FreeLibrary(mod);
    return 0;
}

int CmdResource(char **argv)
{
    HMODULE mod = LoadResources(argv[0]);
    const BYTE *p;
    DWORD size;

    if (!mod) return Fail("cannot load the file");
    SetLastError(0xdeadbeef);
    if (!(p = LockRes(mod, ArgResId(argv[1]), ArgResId(argv[2]), (WORD)strtoul(argv[3], NULL, 0), &size)))
        return FailFree(mod, "no such resource");
    printf("{\"ok\":true,\"size\":%lu,\"bytes\":%s}\n", size, JsonHex(p, size));
    FreeLibrary(mod);
    return 0;
}

#pragma pack(push, 2)
typedef struct { BYTE bWidth, bHeight, bColorCount, bReserved; WORD wPlanes, wBitCount; DWORD dwBytesInRes; WORD nID; }
    GRPICONDIRENTRY;
typedef struct { WORD idReserved, idType, idCount; GRPICONDIRENTRY idEntries[1]; } GRPICONDIR;
#pragma pack(pop)

/* Colour bitmap (all zero if monochrome) and mask. */
static BOOL GetIconBitmaps(HICON icon, BITMAP *color, BITMAP *mask)
{
    ICONINFO ii;

    memset(color, 0, sizeof(*color));
    memset(mask, 0, sizeof(*mask));
    if (!icon || !GetIconInfo(icon, &ii)) return FALSE;
    if (ii.hbmColor) GetObjectA(ii.hbmColor, sizeof(*color), color);
    GetObjectA(ii.hbmMask, sizeof(*mask), mask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
    return TRUE;
}

/* An icon image as the system creates it from the resource. */
static void PutIconImage(HMODULE mod, WORD id, WORD lang)
{
    DWORD size;
    const BYTE *p = LockRes(mod, (LPCSTR)RT_ICON, MAKEINTRESOURCEA(id), lang, &size);
    HICON icon = p ? CreateIconFromResourceEx((BYTE *)p, size, TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR)
                   : NULL;
    BITMAP color, mask;

    /* A created icon's colour bitmap takes the screen's depth: the depth
       the file holds is in the BITMAPINFOHEADER the resource starts with. */
    if (GetIconBitmaps(icon, &color, &mask))
        printf(",\"image\":{\"width\":%ld,\"height\":%ld,\"mask_height\":%ld,\"header_bits\":%u}",
               color.bmWidth ? color.bmWidth : mask.bmWidth,
               color.bmHeight ? color.bmHeight : mask.bmHeight / 2, mask.bmHeight,
               ((const BITMAPINFOHEADER *)p)->biBitCount);
    else printf(",\"image\":null");
    if (icon) DestroyIcon(icon);
}

/* The group's entries, their images, and the system's picks for 32 and 16. */
int CmdIconGroup(char **argv)
{
    HMODULE mod = LoadResources(argv[0]);
    WORD lang = (WORD)strtoul(argv[2], NULL, 0);
    const GRPICONDIR *dir;
    DWORD size;
    int i;

    if (!mod) return Fail("cannot load the file");
    SetLastError(0xdeadbeef);
    if (!(dir = (const GRPICONDIR *)LockRes(mod, (LPCSTR)RT_GROUP_ICON, ArgResId(argv[1]), lang, &size)))
        return FailFree(mod, "no such icon group");
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

static INT_PTR CALLBACK ProbeDialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    (void)h, (void)wp, (void)lp;
    return msg == WM_INITDIALOG;
}

static BOOL DrawIconPixels(HICON icon, DWORD *pixels)
{
    DIB dib;
    BOOL ok = OpenDib(&dib, 32, 32);

    if (ok)
    {
        PatBlt(dib.dc, 0, 0, 32, 32, WHITENESS);
        ok = DrawIconEx(dib.dc, 0, 0, icon, 32, 32, 0, NULL, DI_NORMAL);
        GdiFlush();
        memcpy(pixels, dib.bits, 32 * 32 * 4);
    }
    CloseDib(&dib);
    return ok;
}

/* Drawn the same: the control's copy has a handle of its own. */
static BOOL SameIconPixels(HICON a, HICON b)
{
    static DWORD pa[32 * 32], pb[32 * 32];
    return DrawIconPixels(a, pa) && DrawIconPixels(b, pb) && !memcmp(pa, pb, sizeof(pa));
}

static void PutIconControl(HMODULE mod, HWND h)
{
    HICON icon = (HICON)SendMessageA(h, STM_GETICON, 0, 0), app = LoadIconA(mod, MAKEINTRESOURCEA(IDI_APP));
    BITMAP color, mask;

    printf(",\"has_icon\":%s,\"icon_is_128\":%s", JSON_BOOL(icon),
           JSON_BOOL(icon && app && SameIconPixels(icon, app)));
    if (GetIconBitmaps(icon, &color, &mask))
        printf(",\"icon_size\":[%ld,%ld]", mask.bmWidth, color.bmWidth ? mask.bmHeight : mask.bmHeight / 2);
}

/* The dialog the dialog manager builds from the file's template, with its
   base units (MapDialogRect) and every control in template order. */
int CmdDialog(char **argv)
{
    HMODULE mod = LoadResources(argv[0]);
    HWND dlg, h;
    HFONT font;
    LOGFONTW lf;
    RECT units, client, window;
    WCHAR text[1024];
    HDC dc;
    int dpi, n = 0;

    if (!mod) return Fail("cannot load the file");
    SetLastError(0xdeadbeef);
    if (!(dlg = CreateDialogParamA(mod, ArgResId(argv[1]), NULL, ProbeDialogProc, 0)))
        return FailFree(mod, "CreateDialogParamA failed");
    /* 4 x 8 dialog units are one base unit each way. */
    SetRect(&units, 0, 0, 4, 8);
    MapDialogRect(dlg, &units);
    GetClientRect(dlg, &client);
    /* Without an owner the template's position is a screen position. */
    GetWindowRect(dlg, &window);
    memset(&lf, 0, sizeof(lf));
    if ((font = (HFONT)SendMessageW(dlg, WM_GETFONT, 0, 0))) GetObjectW(font, sizeof(lf), &lf);
    dc = GetDC(dlg);
    dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(dlg, dc);
    printf("{\"ok\":true,\"caption\":%s,\"style\":%lu,\"exstyle\":%lu,\"base\":[%ld,%ld],"
           "\"client\":[%ld,%ld],\"window\":%s,\"font\":{\"face\":%s,\"height\":%ld,\"points\":%d,"
           "\"weight\":%ld,\"italic\":%u,\"charset\":%u,\"dpi\":%d},\"controls\":[",
           JsonW(text, GetWindowTextW(dlg, text, 1024)), (ULONG)GetWindowLongA(dlg, GWL_STYLE),
           (ULONG)GetWindowLongA(dlg, GWL_EXSTYLE), units.right, units.bottom, client.right,
           client.bottom, JsonRect(&window), JsonW(lf.lfFaceName, lstrlenW(lf.lfFaceName)), lf.lfHeight,
           lf.lfHeight < 0 ? MulDiv(-lf.lfHeight, 72, dpi) : 0, lf.lfWeight, lf.lfItalic, lf.lfCharSet,
           dpi);
    for (h = GetWindow(dlg, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
    {
        PutWindowFields(n++ ? ",{" : "{", dlg, h, "");
        if (IsIconStatic(h)) PutIconControl(mod, h);
        printf("}");
    }
    printf("]}\n");
    DestroyWindow(dlg);
    FreeLibrary(mod);
    return 0;
}

/* "text" holds exactly the stored characters; "ansi" is what a program
   that loads the string as 8-bit text in code page "acp" shows again. */
int CmdLoadString(char **argv)
{
    const WCHAR *p = NULL;
    char ansi[4096];
    WCHAR back[4096];
    HMODULE mod = LoadResources(argv[0]);
    UINT id = strtoul(argv[1], NULL, 0);
    int len, alen;

    if (!mod) return Fail("cannot load the module");
    /* A zero-length buffer returns a pointer into the resource itself. */
    len = LoadStringW(mod, id, (WCHAR *)&p, 0);
    alen = LoadStringA(mod, id, ansi, sizeof(ansi));
    alen = MultiByteToWideChar(CP_ACP, 0, ansi, alen, back, 4096);
    printf("{\"ok\":true,\"acp\":%u,\"text\":%s,\"ansi\":%s}\n", GetACP(), JsonW(p, p ? len : 0),
           JsonW(back, alen));
    FreeLibrary(mod);
    return 0;
}

int CmdModules(char **argv)
{
    MODULEENTRY32 me;
    HANDLE snap;
    DWORD pid = ArgProcess(argv[0]);
    int n = 0;

    if (!pid) return FailWith(ERROR_NOT_FOUND, "no such process");
    snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) return Fail("CreateToolhelp32Snapshot failed");
    me.dwSize = sizeof(me);
    printf("{\"ok\":true,\"pid\":%lu,\"modules\":[", pid);
    for (BOOL more = Module32First(snap, &me); more; more = Module32Next(snap, &me))
        printf("%s{\"name\":%s,\"base\":%lu,\"path\":%s}", n++ ? "," : "", Json(me.szModule),
               (ULONG)(ULONG_PTR)me.modBaseAddr, Json(me.szExePath));
    printf("]}\n");
    CloseHandle(snap);
    return 0;
}
