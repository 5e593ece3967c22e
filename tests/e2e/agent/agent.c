/*
 * wnagent <command> [arguments...]: the Wine suite's program inside the
 * prefix.  It drives the program under test as a user would, reads files
 * as Windows reads them, lays out the registry, and runs the program many
 * times from a case file.  Every command prints one JSON line:
 * {"ok":true,...} and exit code 0, or {"ok":false,"error":"...",...} and 1
 * (2 for wrong arguments).  Without a command it prints its usage and does
 * nothing else: the suite also runs it as "a program that does nothing".
 */

#include "agent.h"
#include <setupapi.h>

#define POLL_MS 50

/* Stores exactly the given bytes under any type number (1 REG_SZ,
   3 REG_BINARY, 4 REG_DWORD, or anything else); "-" stores no bytes. */
int CmdRegSet(char **argv)
{
    const char *sub;
    BYTE data[MAX_VALUE + 1];
    int n;
    LONG err;

    if (!ParseKey(argv[0], &sub)) return Usage("key must start with HKCU\\ or HKLM\\");
    if ((n = ParseHex(argv[3], data, MAX_VALUE)) < 0)
        return Usage("bytes must be pairs of hex digits, at most 1024 bytes");
    if ((err = SetRegValue(argv[0], argv[1], strtoul(argv[2], NULL, 0), data, n)))
        return FailWith(err, "cannot set the value");
    printf("{\"ok\":true,\"size\":%d}\n", n);
    return 0;
}

/* Deletes the key with everything under it; one already absent is no error. */
int CmdRegDel(char **argv)
{
    const char *sub;
    BOOL existed;
    LONG err;

    if (!ParseKey(argv[0], &sub) || !sub[0]) return Usage("key must be below HKCU\\ or HKLM\\");
    if ((err = DeleteRegKey(argv[0], &existed))) return FailWith(err, "cannot delete the key");
    printf("{\"ok\":true,\"existed\":%s}\n", JSON_BOOL(existed));
    return 0;
}

typedef BOOL (WINAPI *COPYOEMINF)(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR *);

/* Registers an INF as the installer does (SPOST_PATH, by default
   SP_COPY_NOOVERWRITE).  setupapi by full path, and only here: the agent
   also runs among planted DLLs as a program that does nothing. */
int CmdInfCopy(char **argv)
{
    char name[MAX_PATH] = "", path[MAX_PATH];
    char *component = NULL;
    DWORD style = argv[1] ? strtoul(argv[1], NULL, 0) : SP_COPY_NOOVERWRITE;
    COPYOEMINF copy;
    HMODULE setupapi;
    DWORD err;
    BOOL ret;

    GetSystemDirectoryA(path, MAX_PATH - 16);
    lstrcatA(path, "\\setupapi.dll");
    if (!(setupapi = LoadLibraryA(path))
        || !(copy = (COPYOEMINF)(void *)GetProcAddress(setupapi, "SetupCopyOEMInfA")))
        return Fail("cannot load setupapi");
    SetLastError(0xdeadbeef);
    ret = copy(argv[0], NULL, SPOST_PATH, style, name, MAX_PATH, NULL, &component);
    err = GetLastError();
    printf("{\"ok\":true,\"result\":%d,\"lasterror\":%lu,\"name\":%s}\n", ret ? 1 : 0, err, Json(name));
    return 0;
}

/* Opens a file or folder as another program would, by default for reading
   and shared with nobody, says so at once and keeps it open until the
   release file exists (exit 0) or the time is up (exit 3).  A program of
   the desktop, it brings the desktop up and keeps it: Wine closes a desktop
   1 s after its last other user ends. */
int CmdHold(char **argv)
{
    DWORD access = argv[3] ? strtoul(argv[3], NULL, 0) : GENERIC_READ;
    DWORD sharing = argv[3] && argv[4] ? strtoul(argv[4], NULL, 0) : 0;
    DWORD start = GetTickCount(), timeout = strtoul(argv[1], NULL, 0);
    HANDLE f = CreateFileA(argv[0], access, sharing, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    BOOL released;

    GetDesktopWindow();
    if (f == INVALID_HANDLE_VALUE) return Fail("cannot open the file");
    printf("{\"ok\":true,\"held\":%s}\n", Json(argv[0]));
    fflush(stdout);
    while (!(released = GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES) &&
           GetTickCount() - start < timeout)
        Sleep(POLL_MS);
    CloseHandle(f);
    return released ? 0 : 3;
}

int Usage(const char *usage)
{
    printf("{\"ok\":false,\"error\":\"usage\",\"usage\":%s}\n", Json(usage));
    return 2;
}

#define COMMAND_ROW(name, usage) { usage, Cmd##name },
static const struct
{
    const char *usage;
    int (*run)(char **argv);
} commands[] = { AGENT_COMMANDS(COMMAND_ROW) };

/* Runs argv[1] from the table; its JSON line goes out whole, even into a
   pipe that a crashing program's debugger writes into meanwhile. */
int main(int argc, char **argv)
{
    char usage[1024] = "wnagent <";
    const char *p;
    size_t i, len;
    int required, ret = -1;

    setvbuf(stdout, NULL, _IOFBF, 1 << 20);
    for (i = 0; i < ARRAY_SIZE(commands) && ret < 0; i++)
    {
        len = strcspn(commands[i].usage, " ");
        if (argc < 2 || strlen(argv[1]) != len || strncmp(argv[1], commands[i].usage, len)) continue;
        for (required = 0, p = commands[i].usage; (p = strchr(p, '<')); p++) required++;
        ret = argc - 2 < required ? Usage(commands[i].usage) : commands[i].run(argv + 2);
    }
    if (ret < 0)
    {
        for (i = 0; i < ARRAY_SIZE(commands); i++)
            sprintf(usage + strlen(usage), "%s%.*s", i ? "|" : "", (int)strcspn(commands[i].usage, " "),
                    commands[i].usage);
        ret = Usage(strcat(usage, "> ..."));
    }
    fflush(stdout);
    return ret;
}
