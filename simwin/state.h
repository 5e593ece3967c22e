// The one simulated machine that every simwin function reads and changes.
#pragma once

#include "simwin/simwin.h"

#include <algorithm>
#include <cstdlib>
#include <list>
#include <set>

struct HKEY__ { std::string path; bool open; };
struct HMENU__ { std::vector<simwin::MenuItem> items; };
struct HICON__ { std::string name; };  // "module-path#id"
struct HDC__ {};                        // a window's paint context

namespace simwin {
// A module's file in memory: committed, read-only pages.
struct Mapping {
    BYTE* base = nullptr;
    size_t size = 0;  // the file's size in whole pages
    DWORD type = 0;   // MEM_IMAGE or MEM_MAPPED
};
}  // namespace simwin

struct HINSTANCE__ {
    std::string path;
    int refs = 0;
    std::vector<simwin::Resource> resources;  // the executable's, for its dialogs and icons
    std::map<WORD, std::unique_ptr<HICON__>> icons;  // shared icons, one per id
    bool dataFile = false;                  // mapped with LOAD_LIBRARY_AS_DATAFILE
    simwin::Mapping map;                    // its base is the handle
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
    std::string name;             // the path as spelled when created or moved
    bool folder = false;
    bool readOnly = false;
    bool reparsePoint = false;  // a junction or a link
    std::string target;         // where a junction points, as spelled ("": nowhere we follow)
    DWORD links = 1;            // names of a file: more are hard links elsewhere
    std::vector<BYTE> data;
    std::map<char, std::string> security;  // SDDL part by letter ('O', 'D'...), as set
};

struct OpenFileRecord {
    std::string path;
    std::vector<unsigned char> data;  // read as it was when opened
    size_t at = 0;
    size_t piece = 0;  // most bytes one read hands out (0: all asked for)
    unsigned object = 0;  // the FileEntry opened, wherever its name goes
    DWORD access = 0;
    DWORD share = 0;
};

// Another user's program that opens a path the moment the program's last
// handle on it closes.
struct LaterOpen { DWORD access, share; };

// A copy that fails, having written this much of the file (npos: nothing,
// not even an empty file).
struct CopyFailure {
    DWORD error = 0;
    size_t written = std::string::npos;
};

// A named mutex; another process's hold on it is injected by tests.
struct MutexState {
    enum { kFree, kHeldElsewhere, kAbandoned } elsewhere = kFree;
    int ownedHere = 0;  // recursion count of this process's waits
};

struct MutexHandle { std::string name; };

struct World {
    // kernel32: the version and the last error; the file tree; handles open
    // here and in other programs, and the failures tests inject, by
    // lower-case path.
    DWORD version = 0x0A280105;  // Windows XP
    DWORD lastError = 0;
    std::map<std::string, FileEntry> files;      // lower-case path -> entry
    std::list<OpenFileRecord> handles;    // addresses are the HANDLE values
    std::list<OpenFileRecord> elsewhere;  // other programs' handles, for sharing
    std::map<std::string, CopyFailure> failCopyTo;
    std::map<std::string, DWORD> failDelete;
    std::map<std::string, std::string> vanishAfterCopy;  // target -> path that goes
    std::map<std::string, DWORD> failOpen;
    std::map<std::string, size_t> readPieces;
    std::map<std::string, DWORD> failAttributes;
    std::map<std::string, LaterOpen> openWhenClosed;     // by lower-case path
    std::map<std::string, std::string> swapForJunction;  // folder -> where it goes
    std::map<std::string, std::string> swapAfterLook;    // name -> where it goes
    // Drive volumes keep ACLs (NTFS) or not (FAT32); GetVolumeInformationA
    // fails with this error when not 0.
    bool volumeKeepsAcls = true;
    DWORD failVolume = 0;
    // Mutexes.
    std::map<std::string, MutexState> mutexes;  // by name, case-sensitive as on Windows
    std::list<MutexHandle> mutexHandles;        // addresses are the HANDLE values

    // The loader: the executable and the language modules.
    std::unique_ptr<HINSTANCE__> exe;
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

    // user32: the scripted user, the dialogs and what the program showed.
    bool systemMenuAvailable = true;
    RECT workArea = {0, 0, 1024, 768};
    std::deque<Action> script;
    std::vector<std::unique_ptr<HWND__>> dialogs;
    int scriptErrors = 0;
    std::vector<MessageBoxRecord> boxes;
    std::vector<DrawIconRecord> drawn;

    // advapi32: the registry; security descriptors and the failures to set them.
    std::map<std::string, std::map<std::string, std::pair<DWORD, std::vector<BYTE>>>> userKeys;
    std::list<HKEY__> keys;
    std::map<std::string, DWORD> failSecurity;
    std::list<std::string> descriptors;  // SDDL of the descriptors not yet freed

    // setupapi: the INF store refuses with this error (0: it does not), for
    // calls of this copy style (0: all).
    DWORD refuseError = 0;
    DWORD refuseStyle = 0;

    // msvcrt.
    UINT acp = 1252;
    int mbcp = 0;  // msvcrt starts single-byte until _setmbcp

    std::vector<std::string> calls;  // the call log
};

World& W();
std::string Lower(const std::string& s);
std::string ParentOf(const std::string& lowerPath);  // empty for a bare name
void Log(const std::string& call);
// An entry point's start: the call logged with its name or path argument,
// which comes back as a string ("" for none).
std::string Logged(const char* call, LPCSTR lpArgument);
// Sets the last error and answers what the entry point answers on failure:
// FALSE, null, or what is given.
template <class T = BOOL> T Fail(DWORD error, T result = T())
{
    SetLastError(error);
    return result;
}
std::string Hex(DWORD value, int digits = 1);  // "0x1F", at least digits long
// The error a test injected for this lower-case path, else 0.
DWORD Injected(const std::map<std::string, DWORD>& failures, const std::string& lowerPath);

// Handles are the addresses of records in a list: the entry that one names.
template <class T> T* AddressOf(T& record) { return &record; }
template <class T> T* AddressOf(std::unique_ptr<T>& record) { return record.get(); }
template <class List> typename List::iterator ByAddress(List& list, const void* h)
{
    return std::find_if(list.begin(), list.end(),
                        [h](typename List::value_type& r) { return AddressOf(r) == h; });
}
template <class List>
auto FindByAddress(List& list, const void* h) -> decltype(AddressOf(*list.begin()))
{
    auto it = ByAddress(list, h);
    return it == list.end() ? nullptr : AddressOf(*it);
}

// Files and folders (simwin/kernel32_files.cpp): what is at a lower-case path
// (null when nothing is), a handle's record, and the object it opened with
// its lower-case path now (null when it is gone).
FileEntry* FindPath(const std::string& lowerPath);
inline OpenFileRecord* FindFileHandle(HANDLE h) { return FindByAddress(W().handles, h); }
FileEntry* FindObject(unsigned id, std::string* lowerPath = nullptr);
// Modules (simwin/loader_resources.cpp).
HINSTANCE__* FindModule(HMODULE h);  // executable or a loaded module, else null
const Resource* FindResource(HINSTANCE__* m, WORD type, WORD name);  // in its resources list
std::string NarrowUtf16(const BYTE* p, size_t chars);  // in the ANSI code page, '?' where it has none
// Maps a module's file; false when its DOS header leads to no PE header.
bool MapFile(HINSTANCE__& m, const std::vector<BYTE>& file, DWORD type);

}  // namespace simwin
