/*
 * wnagent: the one program of the Wine suite that runs inside the prefix
 * beside the program under test.  It looks at and drives that program's
 * windows the way a user would, reads files the way Windows reads them,
 * lays out the registry, and runs the program many times from a case file.
 *
 *   wnagent <command> [arguments...]
 *
 * Every command prints one JSON object on one line to stdout:
 * {"ok":true,...} and exit code 0, or {"ok":false,"error":"...",...} and
 * exit code 1 (2 for wrong arguments).  Window handles are decimal
 * numbers.  Without a command it prints its usage and does nothing else:
 * the suite also runs it as "a program that does nothing".
 */

#include "agent.h"
#include <setupapi.h>

#define POLL_MS 50

/* ---- registry -------------------------------------------------------- */

/* regset <HKCU\key> <value name> <type> <hex bytes|->: stores exactly the
   given bytes under any type number (1 REG_SZ, 3 REG_BINARY, 4 REG_DWORD,
   or anything else); "-" stores no bytes at all. */
static int CmdRegSet(int argc, char **argv)
{
    const char *sub;
    BYTE data[MAX_VALUE + 1];
    int n;
    LONG err;

    if (argc < 4) return Usage("regset <HKCU\\key> <value> <type> <hex bytes|->");
    if (!ParseKey(argv[0], &sub)) return Usage("key must start with HKCU\\ or HKLM\\");
    if ((n = ParseHex(argv[3], data, MAX_VALUE)) < 0)
        return Usage("bytes must be pairs of hex digits, at most 1024 bytes");
    if ((err = SetRegValue(argv[0], argv[1], strtoul(argv[2], NULL, 0), data, n)))
    {
        SetLastError(err);
        return Fail("cannot set the value");
    }
    printf("{\"ok\":true,\"size\":%d}\n", n);
    return 0;
}

/* regdel <HKCU\key>: deletes the key with everything under it; a key that
   is already absent is no error. */
static int CmdRegDel(int argc, char **argv)
{
    const char *sub;
    BOOL existed;
    LONG err;

    if (argc < 1) return Usage("regdel <HKCU\\key>");
    if (!ParseKey(argv[0], &sub) || !sub[0]) return Usage("key must be below HKCU\\ or HKLM\\");
    if ((err = DeleteRegKey(argv[0], &existed)))
    {
        SetLastError(err);
        return Fail("cannot delete the key");
    }
    printf("{\"ok\":true,\"existed\":%s}\n", existed ? "true" : "false");
    return 0;
}

/* ---- files and the driver store -------------------------------------- */

typedef BOOL (WINAPI *COPYOEMINF)(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR *);

/* infcopy <inf path> [copy style]: registers an INF the way the installer
   does (SetupCopyOEMInfA, SPOST_PATH, default SP_COPY_NOOVERWRITE) and
   reports the answer as it is: "result", "lasterror" and the stored name.
   setupapi is loaded by full path only here: the suite plants a
   setupapi.dll beside programs, and runs the agent among them as a
   program that does nothing, which must not load it. */
static int CmdInfCopy(int argc, char **argv)
{
    char name[MAX_PATH], path[MAX_PATH];
    char *component = NULL;
    COPYOEMINF copy;
    HMODULE setupapi;
    DWORD style, err;
    BOOL ret;

    if (argc < 1) return Usage("infcopy <inf path> [copy style]");
    style = argc > 1 ? strtoul(argv[1], NULL, 0) : SP_COPY_NOOVERWRITE;
    GetSystemDirectoryA(path, MAX_PATH - 16);
    lstrcatA(path, "\\setupapi.dll");
    if (!(setupapi = LoadLibraryA(path))
        || !(copy = (COPYOEMINF)(void *)GetProcAddress(setupapi, "SetupCopyOEMInfA")))
        return Fail("cannot load setupapi");
    name[0] = 0;
    SetLastError(0xdeadbeef);
    ret = copy(argv[0], NULL, SPOST_PATH, style, name, MAX_PATH, NULL, &component);
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
    /* windows */
    { "wait", CmdWait },
    { "gone", CmdGone },
    { "window", CmdWindow },
    { "windows", CmdWindows },
    { "text", CmdText },
    { "children", CmdChildren },
    { "msgbox", CmdMsgBox },
    { "focus", CmdFocus },
    { "threadstate", CmdThreadState },
    { "click", CmdClick },
    { "key", CmdKey },
    { "syscommand", CmdSysCommand },
    { "activate", CmdActivate },
    { "screenshot", CmdScreenshot },
    { "font", CmdFont },
    /* files as Windows reads them */
    { "version", CmdVersion },
    { "resources", CmdResources },
    { "resource", CmdResource },
    { "icongroup", CmdIconGroup },
    { "dialog", CmdDialog },
    { "loadstring", CmdLoadString },
    { "modules", CmdModules },
    { "nodependency", CmdNoDependency },
    /* the machine */
    { "regset", CmdRegSet },
    { "regdel", CmdRegDel },
    { "infcopy", CmdInfCopy },
    { "hold", CmdHold },
    /* many runs of the program */
    { "sweep", CmdSweep },
};

int main(int argc, char **argv)
{
    return RunCommand("wnagent", commands, ARRAY_SIZE(commands), argc, argv);
}
