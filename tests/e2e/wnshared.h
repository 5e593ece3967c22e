/*
 * What wnhelper, wnprobe and wnsweep share: one JSON object per command on
 * stdout, texts as \uXXXX escapes so the caller sees the exact characters
 * whatever the code page, reading another process's window texts, and
 * finding a process by its executable's name.
 */
#ifndef WNSHARED_H
#define WNSHARED_H

#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

static void PutJsonStringW(const WCHAR *s, int len)
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

static void PutJsonStringA(const char *s)
{
    WCHAR w[2048];
    int len = MultiByteToWideChar(CP_ACP, 0, s, -1, w, 2048);
    PutJsonStringW(w, len > 0 ? len - 1 : 0);
}

static int Fail(const char *what)
{
    DWORD err = GetLastError();
    printf("{\"ok\":false,\"error\":");
    PutJsonStringA(what);
    printf(",\"lasterror\":%lu}\n", err);
    return 1;
}

static int Usage(const char *usage)
{
    printf("{\"ok\":false,\"error\":\"usage\",\"usage\":");
    PutJsonStringA(usage);
    printf("}\n");
    return 2;
}

#define SEND_TIMEOUT_MS 5000

/* WM_GETTEXT is marshalled across processes; the timeout keeps a hung
   target from hanging the caller.  -1 when it does not answer. */
static __inline int GetTextW(HWND h, WCHAR *buf, int cch)
{
    DWORD_PTR len = 0;
    buf[0] = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, cch, (LPARAM)buf, SMTO_ABORTIFHUNG,
                             SEND_TIMEOUT_MS, &len))
        return -1;
    return (int)len;
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

typedef struct
{
    const char *name;
    int (*run)(int argc, char **argv);
} COMMAND;

/* Runs argv[1] from the table; one JSON line out, whole, even into a pipe. */
static int RunCommand(const COMMAND *commands, size_t count, int argc, char **argv,
                      const char *usage)
{
    const COMMAND *command = NULL;
    size_t i;
    int ret;

    setvbuf(stdout, NULL, _IOFBF, 1 << 20);
    for (i = 0; argc >= 2 && i < count && !command; i++)
        if (!strcmp(argv[1], commands[i].name)) command = &commands[i];
    ret = command ? command->run(argc - 2, argv + 2) : Usage(usage);
    fflush(stdout);
    return ret;
}

/* "HKCU\\..." or "HKLM\\...": the root key, and *sub the rest. */
static __inline HKEY ParseKey(const char *path, const char **sub)
{
    static const struct { const char *name; HKEY root; } roots[] = {
        { "HKCU\\", HKEY_CURRENT_USER }, { "HKLM\\", HKEY_LOCAL_MACHINE },
    };
    size_t i;
    for (i = 0; i < sizeof(roots) / sizeof(roots[0]); i++)
        if (!strncmp(path, roots[i].name, 5))
        {
            *sub = path + 5;
            return roots[i].root;
        }
    return NULL;
}

static __inline int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

#endif
