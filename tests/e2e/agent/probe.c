/*
 * The commands that read what an executable carries the way Windows itself
 * reads it (version API, resource API, the dialog manager) and what a
 * running process has loaded.  No parsing of the file of our own: every
 * value comes back from a platform call.
 */

#include "agent.h"
#include <tlhelp32.h>

/* A file's resources, without running any of its code. */
static HMODULE LoadResources(const char *path)
{
    return LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
}

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

/* ---- version --------------------------------------------------------- */

static const char *const version_keys[] = {
    "Comments", "CompanyName", "FileDescription", "FileVersion", "InternalName",
    "LegalCopyright", "LegalTrademarks", "OriginalFilename", "PrivateBuild",
    "ProductName", "ProductVersion", "SpecialBuild",
};

/* A file's version block (free it) and its fixed part; NULL, and what
   failed in *error, if there is none. */
static BYTE *ReadVersion(const char *path, VS_FIXEDFILEINFO **ffi, const char **error)
{
    DWORD handle = 0, size = GetFileVersionInfoSizeA(path, &handle);
    BYTE *info = size ? (BYTE *)malloc(size) : NULL;
    UINT len;

    *error = "GetFileVersionInfoSizeA failed";
    if (!info) return NULL;
    *error = "GetFileVersionInfoA failed";
    if (GetFileVersionInfoA(path, 0, size, info))
    {
        *error = "no fixed file info";
        if (VerQueryValueA(info, "\\", (void **)ffi, &len) && len >= sizeof(**ffi)) return info;
    }
    free(info);
    return NULL;
}

/* The buffer GetFileVersionInfoA fills is the documented VS_VERSIONINFO
   tree: each node is wLength, wValueLength, wType, a key, then its value
   and its children, each aligned on 4 bytes. */
static const BYTE *Align4(const BYTE *p)
{
    return (const BYTE *)(((ULONG_PTR)p + 3) & ~3);
}

static const WCHAR *NodeKey(const BYTE *node)
{
    return (const WCHAR *)(node + 6);
}

static const BYTE *FirstChild(const BYTE *node)
{
    const BYTE *value = Align4((const BYTE *)(NodeKey(node) + lstrlenW(NodeKey(node)) + 1));
    return Align4(value + *(const WORD *)(node + 2));
}

/* The keys of the strings below StringFileInfo\<table>, in the order the
   block holds them; depth 0 is the root. */
static void PutTableKeys(const BYTE *node, int depth, const WCHAR *table, int *count)
{
    const BYTE *end = node + *(const WORD *)node, *p;
    for (p = FirstChild(node); p + 6 < end && *(const WORD *)p; p = Align4(p + *(const WORD *)p))
    {
        if (depth == 0 && !lstrcmpW(NodeKey(p), L"StringFileInfo")) PutTableKeys(p, 1, table, count);
        else if (depth == 1 && !lstrcmpiW(NodeKey(p), table)) PutTableKeys(p, 2, table, count);
        else if (depth == 2)
        {
            printf("%s", (*count)++ ? "," : "");
            PutJsonStringW(NodeKey(p), lstrlenW(NodeKey(p)));
        }
    }
}

/* version <file>: the fixed part, the translation list and the
   "040904b0" strings, each read back with VerQueryValueA. */
int CmdVersion(int argc, char **argv)
{
    VS_FIXEDFILEINFO *ffi;
    const char *error;
    WORD *trans;
    UINT len, i;
    BYTE *info;
    int keys = 0;

    if (argc < 1) return Usage("version <file>");
    SetLastError(0xdeadbeef);
    if (!(info = ReadVersion(argv[0], &ffi, &error))) return Fail(error);
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
    for (i = 0; i < ARRAY_SIZE(version_keys); i++)
    {
        char query[128];
        char *value;
        sprintf(query, "\\StringFileInfo\\040904b0\\%s", version_keys[i]);
        printf("%s\"%s\":", i ? "," : "", version_keys[i]);
        if (VerQueryValueA(info, query, (void **)&value, &len)) PutJsonStringA(value);
        else printf("null");
    }
    printf("},\"keys\":[");
    PutTableKeys(info, 0, L"040904b0", &keys);
    printf("]}\n");
    free(info);
    return 0;
}

/* ---- resources ------------------------------------------------------- */

static void PutResId(LPCSTR id)
{
    if (IS_INTRESOURCE(id)) printf("%u", (unsigned)(ULONG_PTR)id);
    else PutJsonStringA(id);
}

static BOOL CALLBACK EnumLangProc(HMODULE mod, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR lp)
{
    int *count = (int *)lp;
    DWORD size;
    LockRes(mod, type, name, lang, &size);
    printf("%s{\"type\":", (*count)++ ? "," : "");
    PutResId(type);
    printf(",\"name\":");
    PutResId(name);
    printf(",\"lang\":%u,\"size\":%lu}", lang, size);
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
int CmdResources(int argc, char **argv)
{
    HMODULE mod;
    int count = 0;

    if (argc < 1) return Usage("resources <file>");
    if (!(mod = LoadResources(argv[0]))) return Fail("cannot load the file");
    printf("{\"ok\":true,\"resources\":[");
    EnumResourceTypesA(mod, EnumTypeProc, (LONG_PTR)&count);
    printf("]}\n");
    FreeLibrary(mod);
    return 0;
}

/* resource <file> <type> <name> <lang>: the bytes of one resource, found
   with FindResourceExA for exactly that language. */
int CmdResource(int argc, char **argv)
{
    HMODULE mod;
    const BYTE *p;
    DWORD size;

    if (argc < 4) return Usage("resource <file> <type> <name> <lang>");
    if (!(mod = LoadResources(argv[0]))) return Fail("cannot load the file");
    SetLastError(0xdeadbeef);
    if (!(p = LockRes(mod, MAKEINTRESOURCEA(strtoul(argv[1], NULL, 0)),
                      MAKEINTRESOURCEA(strtoul(argv[2], NULL, 0)), (WORD)strtoul(argv[3], NULL, 0), &size)))
        return FailFree(mod, "no such resource");
    printf("{\"ok\":true,\"size\":%lu,\"bytes\":", size);
    PutHex(p, size);
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
    DWORD size;
    const BYTE *p = LockRes(mod, (LPCSTR)RT_ICON, MAKEINTRESOURCEA(id), lang, &size);
    HICON icon = p ? CreateIconFromResourceEx((BYTE *)p, size, TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR)
                   : NULL;
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
           ((const BITMAPINFOHEADER *)p)->biBitCount);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
    DestroyIcon(icon);
}

/* icongroup <file> <id> <lang>: the group directory's entries, the images
   they name, and which image the system picks for 32 x 32 and 16 x 16. */
int CmdIconGroup(int argc, char **argv)
{
    HMODULE mod;
    const GRPICONDIR *dir;
    DWORD size;
    WORD lang;
    int i;

    if (argc < 3) return Usage("icongroup <file> <id> <lang>");
    if (!(mod = LoadResources(argv[0]))) return Fail("cannot load the file");
    lang = (WORD)strtoul(argv[2], NULL, 0);
    SetLastError(0xdeadbeef);
    if (!(dir = (const GRPICONDIR *)LockRes(mod, (LPCSTR)RT_GROUP_ICON,
                                            MAKEINTRESOURCEA(strtoul(argv[1], NULL, 0)), lang, &size)))
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

/* ---- dialog templates ------------------------------------------------ */

static INT_PTR CALLBACK ProbeDialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    (void)h; (void)wp; (void)lp;
    return msg == WM_INITDIALOG;
}

/* An icon drawn at 32 x 32 on white, as 32-bit pixels. */
static BOOL DrawIconPixels(HICON icon, DWORD *pixels)
{
    HDC screen = GetDC(NULL), mem = CreateCompatibleDC(screen);
    DWORD *bits;
    HBITMAP bmp;
    BOOL ok = FALSE;

    if ((bmp = CreateDib32(screen, 32, 32, &bits)))
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
int CmdDialog(int argc, char **argv)
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
    if (!dlg) return FailFree(mod, "CreateDialogParamA failed");
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
            HICON app = LoadIconA(mod, MAKEINTRESOURCEA(IDI_APP));
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

/* ---- strings --------------------------------------------------------- */

/* loadstring <module> <id>: a string table entry, read without running the
   module's code.  "text" holds exactly the stored characters; "ansi" is
   what a program that loads the string as 8-bit text in the ANSI code page
   "acp" and shows it again gets back. */
int CmdLoadString(int argc, char **argv)
{
    const WCHAR *p = NULL;
    char ansi[4096];
    WCHAR back[4096];
    HMODULE mod;
    UINT id;
    int len, alen;

    if (argc < 2) return Usage("loadstring <module> <id>");
    if (!(mod = LoadResources(argv[0]))) return Fail("cannot load the module");
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

/* ---- a running process ----------------------------------------------- */

/* The file version of a module file, as "a.b.c.d", or null. */
static void PutFileVersion(const char *path)
{
    VS_FIXEDFILEINFO *ffi;
    const char *error;
    BYTE *info = ReadVersion(path, &ffi, &error);

    if (!info) printf("null");
    else printf("\"%u.%u.%u.%u\"", HIWORD(ffi->dwFileVersionMS), LOWORD(ffi->dwFileVersionMS),
                HIWORD(ffi->dwFileVersionLS), LOWORD(ffi->dwFileVersionLS));
    free(info);
}

/* modules <pid|exe name>: every module the process has loaded, with its
   path and its file version. */
int CmdModules(int argc, char **argv)
{
    MODULEENTRY32 me;
    HANDLE snap;
    DWORD pid;
    int n = 0;

    if (argc < 1) return Usage("modules <pid|exe name>");
    if (!(pid = ArgProcess(argv[0])))
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
int CmdNoDependency(int argc, char **argv)
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

