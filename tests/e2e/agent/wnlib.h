/*
 * What the programs that run inside the Wine prefix share (wnagent and
 * wnbench): JSON and hex output, registry writes, starting, waiting for
 * and ending a program, reading another process's windows, 32-bit DIBs.
 *
 * Output is one JSON object per line on stdout; texts go out as \uXXXX
 * escapes, so the caller sees the exact characters whatever the code page.
 */
#ifndef WNLIB_H
#define WNLIB_H

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MSGBOX_TEXT_ID 0xFFFF  /* the text of a MessageBox */
#define SEND_TIMEOUT_MS 5000
#define MAX_VALUE 1024         /* bytes of one registry value */
#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))

/* ---- output ---------------------------------------------------------- */

void PutJsonStringW(const WCHAR *s, int len);
void PutJsonStringA(const char *s);
void PutHex(const BYTE *p, DWORD n);
void PutRect(const char *name, const RECT *r);
int Fail(const char *what);
int Usage(const char *usage);

typedef struct
{
    const char *name;
    int (*run)(int argc, char **argv);
} COMMAND;

int RunCommand(const char *program, const COMMAND *commands, size_t count, int argc, char **argv);

/* ---- arguments ------------------------------------------------------- */

HWND ArgHwnd(const char *s);
DWORD ArgProcess(const char *s);
int ParseHex(const char *hex, BYTE *data, DWORD max);

/* ---- registry -------------------------------------------------------- */

HKEY ParseKey(const char *path, const char **sub);
LONG SetRegValue(const char *path, const char *name, DWORD type, BYTE *data, DWORD n);
LONG DeleteRegKey(const char *path, BOOL *existed);

/* ---- programs -------------------------------------------------------- */

BOOL StartProgram(const char *exe, PROCESS_INFORMATION *pi);
BOOL EndProgram(PROCESS_INFORMATION *pi, DWORD timeout, DWORD *code);

/* ---- windows --------------------------------------------------------- */

int GetTextW(HWND h, WCHAR *buf, int cch);
void PutWindowText(HWND h);
BOOL HasCaption(HWND h, const WCHAR *caption);
void PutWindowFields(HWND h);
BOOL GetThreadState(HWND h, GUITHREADINFO *gti);
int ListWindows(DWORD pid, BOOL visible, HWND except, HWND *found, int max);

typedef enum { WAIT_FOUND, WAIT_ENDED, WAIT_TIMED_OUT } WAITRESULT;
typedef HWND (*FINDWINDOW)(void *ctx);
WAITRESULT WaitWindow(FINDWINDOW find, void *ctx, HANDLE process, DWORD timeout, DWORD poll,
                      HWND *found);

/* ---- pictures -------------------------------------------------------- */

void InitDib32(BITMAPINFOHEADER *bh, int width, int height);
HBITMAP CreateDib32(HDC dc, int width, int height, DWORD **bits);
HBITMAP CaptureScreen(const RECT *r, DWORD **bits);

#endif
