/*
 * What wnagent and wnbench share inside the Wine prefix: JSON output,
 * registry writes, starting, waiting for and ending a program, reading
 * another process's windows, 32-bit DIBs.  Output is one JSON object per
 * line; texts go out as \uXXXX escapes, exact whatever the code page, and
 * window handles as decimal numbers.
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
#define JSON_BOOL(b) ((b) ? "true" : "false")

/* JSON values as text for printf's %s, each valid for the next 15 calls. */
char *TempString(size_t size);
const char *Json(const char *s);             /* ANSI text */
const char *JsonW(const WCHAR *s, int len);  /* len < 0: "" */
const char *JsonHex(const BYTE *p, DWORD n);
const char *JsonRect(const RECT *r);
int FailWith(DWORD err, const char *what);   /* {"ok":false,...}; 1 */
#define Fail(what) FailWith(GetLastError(), (what))

DWORD ArgProcess(const char *s);             /* by id or exe name; 0 if none */
int ParseHex(const char *hex, BYTE *data, DWORD max);

HKEY ParseKey(const char *path, const char **sub);
LONG OpenRegKey(const char *path, REGSAM access, BOOL create, HKEY *key);
LONG SetRegValue(const char *path, const char *name, DWORD type, BYTE *data, DWORD n);
LONG DeleteRegKey(const char *path, BOOL *existed);

BOOL StartProgram(const char *exe, PROCESS_INFORMATION *pi);
BOOL EndProgram(PROCESS_INFORMATION *pi, DWORD timeout, DWORD *code);

int GetTextW(HWND h, WCHAR *buf, int cch);
const char *JsonText(HWND h);                /* null for no window or no answer */
BOOL HasCaption(HWND h, const WCHAR *caption);
BOOL IsIconStatic(HWND h);
void PutWindowFields(const char *before, HWND parent, HWND h, const char *after);  /* parent: of a child */
int ListWindows(DWORD pid, BOOL visible, HWND except, HWND *found, int max);

typedef enum { WAIT_FOUND, WAIT_ENDED, WAIT_TIMED_OUT } WAITRESULT;
typedef HWND (*FINDWINDOW)(void *ctx);
WAITRESULT WaitWindow(FINDWINDOW find, void *ctx, HANDLE process, DWORD timeout, DWORD poll,
                      HWND *found);

/* A memory DC with a 32-bit top-down DIB selected: one DWORD per pixel,
   the first row on top.  CloseDib undoes OpenDib, even a failed one. */
typedef struct { BITMAPINFOHEADER bh; HDC dc; HBITMAP bmp; HGDIOBJ old; DWORD *bits; } DIB;

BOOL OpenDib(DIB *dib, int width, int height);
void CloseDib(DIB *dib);

#endif
