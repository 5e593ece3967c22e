// The one simulated machine that every simwin function reads and changes.
#pragma once

#include "simwin/simwin.h"
#include "simwin/install_state.h"

#include <list>
#include <set>

struct HKEY__ {
    std::string path;
    bool open;
};

struct HMENU__ {
    std::vector<simwin::MenuItem> items;
};

struct HICON__ {
    std::string name;  // "module-path#id"
};

struct HDC__ {
    HWND hWnd;
};

struct HRSRC__ {
    const simwin::Resource* res;
};

struct HINSTANCE__ {
    std::string path;
    bool isExecutable = false;
    int refs = 0;
    std::map<UINT, std::string> strings;
    std::vector<simwin::Resource> resources;
    std::list<HRSRC__> handles;             // stable HRSRC values
    std::map<WORD, std::unique_ptr<HICON__>> icons;  // shared icons, one per id
    bool dataFile = false;                  // mapped with LOAD_LIBRARY_AS_DATAFILE
    std::set<std::string> exports;          // system DLLs: what GetProcAddress finds
};

struct HWND__ {
    std::string className;
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    RECT rect = {0, 0, 0, 0};  // screen coordinates
    int clientWidth = 0;
    int clientHeight = 0;
    HWND owner = nullptr;      // dialogs
    HWND parent = nullptr;     // controls
    std::vector<std::unique_ptr<HWND__>> controls;
    DLGPROC proc = nullptr;
    LONG_PTR user = 0;
    LONG_PTR msgResult = 0;
    bool enabled = true;
    bool iconic = false;
    bool ended = false;
    bool destroyed = false;
    INT_PTR result = 0;
    HWND focus = nullptr;
    std::unique_ptr<HMENU__> sysMenu;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    HDC__ dc{};
};

namespace simwin {

unsigned NewObjectId();

struct FileEntry {
    unsigned id = NewObjectId();  // what a handle keeps when the name changes
    bool folder = false;
    bool readOnly = false;
    bool reparsePoint = false;  // a junction or a link
    DWORD links = 1;            // names of a file: more are hard links elsewhere
    std::vector<BYTE> data;
    std::map<char, std::string> security;  // SDDL part by letter ('O', 'D'...), as set
};

struct ModuleDef {
    std::map<UINT, std::string> strings;
    std::vector<Resource> resources;  // the string blocks the strings come from
};

struct World {
    DWORD version = 0x0A280105;  // Windows XP
    UINT acp = 1252;
    int mbcp = 0;                // msvcrt starts single-byte until _setmbcp
    DWORD lastError = 0;
    bool systemMenuAvailable = true;
    RECT workArea = {0, 0, 1024, 768};

    std::map<std::string, std::map<std::string, std::pair<DWORD, std::vector<BYTE>>>> userKeys;
    std::list<HKEY__> keys;

    std::map<std::string, FileEntry> files;      // lower-case path -> entry
    std::map<std::string, std::string> spelling;  // lower-case path -> path as created

    std::unique_ptr<HINSTANCE__> exe;
    std::map<std::string, ModuleDef> moduleDefs;  // lower-case path -> definition
    std::list<std::unique_ptr<HINSTANCE__>> loaded;
    // The system folder's DLLs by lower-case file name, with their exports,
    // and those mapped (kernel32 always is, once asked for).
    std::map<std::string, std::set<std::string>> systemDlls = {
        {"kernel32.dll", {"SetDefaultDllDirectories", "SetDllDirectoryA"}},
        {"setupapi.dll", {"SetupCopyOEMInfA"}},
        {"uxtheme.dll", {}},
        {"version.dll", {}},
        {"userenv.dll", {}},
    };
    std::list<std::unique_ptr<HINSTANCE__>> systemLoaded;

    std::deque<Action> script;
    std::vector<std::unique_ptr<HWND__>> dialogs;
    int scriptErrors = 0;

    std::vector<std::string> calls;
    std::vector<MessageBoxRecord> boxes;
    std::vector<DrawIconRecord> drawn;

    InstallWorld install;  // files read back, INF store, injected failures
};

World& W();
std::string Lower(const std::string& s);
std::string ParentOf(const std::string& lowerPath);  // empty for a bare name
bool IsDriveRoot(const std::string& lowerPath);       // "c:"
void Log(const std::string& call);
BOOL Fail(DWORD error);  // sets the last error, FALSE
// Open files and folders (simwin/filesystem.cpp): a handle's record, and
// the object it opened with its lower-case path now (null when it is gone).
OpenFileRecord* FindFileHandle(HANDLE h);
FileEntry* FindObject(unsigned id, std::string* lowerPath = nullptr);
HINSTANCE__* FindModule(HMODULE h);  // executable or a loaded module, else null
const Resource* FindResource(HINSTANCE__* m, WORD type, WORD name);
std::vector<Resource> ParseResFile(const std::string& path);
std::string NarrowUtf16(const BYTE* p, size_t chars);

}  // namespace simwin
