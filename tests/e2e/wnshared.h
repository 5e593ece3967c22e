/*
 * What wnhelper and wnprobe share: one JSON object per command on stdout,
 * texts as \uXXXX escapes so the caller sees the exact characters whatever
 * the code page, and finding a process by its executable's name.
 */
#ifndef WNSHARED_H
#define WNSHARED_H

#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>

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

#endif
