// Test-side control of the simulated Windows: lay out the machine (registry,
// files, modules, platform version, code page), script what the user does
// while a dialog is up, and read back what the program did. Grouped by the
// DLL whose behaviour each control steers.
#pragma once

#include "simwin/windows.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace simwin {

struct MenuItem {
    UINT flags;
    UINT_PTR id;
    std::string text;
};

struct MessageBoxRecord {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
};

struct DrawIconRecord {
    int x;
    int y;
    HICON icon;
};

// A resource as a .res file holds it, and where ModuleFile puts it: in the
// file, or as damage: its directory entry outside the file; its data cut by
// the file's end after `cut` bytes (the rest on the free page past the last
// one), far past that end, or in the module mapped before this one.
struct Resource {
    WORD type;
    WORD name;
    WORD language;
    std::vector<BYTE> data;
    enum Place { kInFile, kEntryOutside, kCut, kOutside, kForeign } place = kInFile;
    size_t cut = 0;
};

// What the user does while the topmost dialog runs.
struct Action {
    enum Kind { kCommand, kSysCommand, kPaint, kInspect } kind = kCommand;
    UINT id = 0;            // command or system-command id
    LPARAM lParam = 0;
    bool iconic = false;    // for kPaint
    int cx = 0, cy = 0;     // client size for kPaint
    std::function<void(HWND)> inspect = nullptr;
};

Action PressOK();
Action PressCancel();
Action SysCommand(UINT id, LPARAM lParam = 0);
Action Paint(bool iconic, int clientWidth, int clientHeight);
Action Inspect(std::function<void(HWND)> fn);

// Wipes the whole machine: registry, files, modules, logs, script.
void Reset();

// What happened: notable API calls in order.
const std::vector<std::string>& Calls();
bool Called(const std::string& prefix);
size_t CallIndex(const std::string& prefix);  // npos when absent

// ---------------------------------------------------------------------------
// kernel32: the platform version, files and folders, mutexes.

void SetVersion(DWORD version);

// File system with case-insensitive paths; drive roots always exist.
void AddFolder(const std::string& path);
void AddFile(const std::string& path, const std::vector<BYTE>& data);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::vector<std::string> ListPaths();  // every file and folder, for "nothing written" checks

std::vector<BYTE> FileData(const std::string& path);  // empty when there is no such file
size_t OpenFileHandles();  // CreateFileA and CreateMutexA handles not yet closed

// CopyFileA to this target fails with the error, and writes nothing or, given
// how much, creates it with the first bytes of the source (at most that
// many), as Wine does on a full disk and a power cut does anywhere.
void FailCopyTo(const std::string& target, DWORD error, size_t written = std::string::npos);
// DeleteFileA on this file fails with the error.
void FailDelete(const std::string& path, DWORD error);
// The file gets the read-only attribute: DeleteFileA refuses it.
void SetReadOnly(const std::string& path);
// Right after the CopyFileA to this target, what lies at path (a file or a
// folder with everything in it) disappears.
void VanishAfterCopy(const std::string& target, const std::string& path);
// Every injected copy, open, attribute, delete and vanishing failure is
// forgotten, as when a fault is cleared; files stay as they are.
void ClearInjectedFailures();
// Opening this file to read it fails: CreateFileA, and CopyFileA as a source.
void FailOpen(const std::string& path, DWORD error);
// ReadFile on this file hands out at most this many bytes at a time, as a
// file still being written can.
void ReadInPieces(const std::string& path, size_t bytes);
// GetFileAttributesA on this path fails.
void FailAttributes(const std::string& path, DWORD error);
// Other users' programs, for share modes, which hold for files and folders
// alike. Another program opens the path now, with this access and sharing:
// false when sharing refuses it.
bool HoldElsewhere(const std::string& path, DWORD access, DWORD share);
// Another user opens the path the moment the program's last handle on it
// closes, unless sharing or a DACL the program set on it keeps them out.
void OpenElsewhereWhenClosed(const std::string& path, DWORD access, DWORD share);
size_t HandlesElsewhere(const std::string& path);  // other programs' handles on it
// Right after the program first opens this folder, a user moves
// it to aside and plants a junction to it in its place, whatever handle is open.
void SwapForJunction(const std::string& folder, const std::string& aside);
// The same, right after the program's GetFileAttributesA on the name and so
// before its open: the race that only an open of the reparse point itself sees.
void SwapForJunctionAfterLook(const std::string& path, const std::string& aside);
// An existing file or folder becomes a reparse point that leads nowhere
// (a planted link).
void MakeReparsePoint(const std::string& path);
// The path (a folder, whose contents go, or a free name) becomes a junction
// to target. Paths through it lead there: for CreateDirectoryA, CopyFileA
// and CreateFileA, and for the last name too where the open does not ask
// for the reparse point itself; GetFileAttributesA and DeleteFileA see the
// junction.
void MakeJunction(const std::string& path, const std::string& target);
// An existing file has this many names: the others are hard links elsewhere.
void SetLinkCount(const std::string& path, DWORD links);

// Another process holds the named mutex and never lets go, or held it and
// ended without letting go (the next wait owns it, WAIT_ABANDONED).
void MutexHeldElsewhere(const std::string& name);
void MutexAbandonedElsewhere(const std::string& name);
bool MutexOwnedHere(const std::string& name);

// Drive volumes are NTFS unless told otherwise; FAT32 keeps no ACLs, so
// nothing is recorded. GetVolumeInformationA fails with the error.
void SetVolumeKeepsAcls(bool keeps);
void FailVolumeInformation(DWORD error);

// ---------------------------------------------------------------------------
// The loader: modules, their resources and the system folder's DLLs.

// Modules. The executable's resources come from a compiled .res file.
HINSTANCE SetExecutable(const std::string& path, const std::string& resFile);
HINSTANCE Executable();
// Its strings are UTF-8, held as UTF-16 as a resource compiler does; LoadStringA
// gives them in the ANSI code page (SetAnsiCodePage).
void AddLanguageModule(const std::string& path, const std::map<UINT, std::string>& strings);
// A resource-only PE32 DLL of these resources, for AddFile: say a language
// module of RT_STRING blocks (name: first ID / 16 + 1), damaged or not. A
// read outside every module stops the process, as it faults on Windows.
std::vector<BYTE> ModuleFile(const std::vector<Resource>& resources);
// Appends a counted string as a block holds it: the length word (which a
// damaged block may get wrong), then each byte of text as one UTF-16 unit.
void PutString(std::vector<BYTE>& block, WORD len, const std::string& text);
void RemoveExecutableString(UINT id);
int LoadedModuleCount();  // language modules currently loaded

// The system folder's DLLs, by file name, and the functions each exports.
// A fresh machine has kernel32.dll (with SetDefaultDllDirectories and
// SetDllDirectoryA, as on Windows 8), setupapi.dll (SetupCopyOEMInfA),
// uxtheme.dll, version.dll and userenv.dll. Loading a language module as an
// image runs its DllMain, which the call log shows as "DllMain <path>".
extern const char* const kSystemFolder;  // "C:\WINDOWS\system32"
void SetSystemDll(const std::string& name, const std::vector<std::string>& exports);
void RemoveSystemDll(const std::string& name);
const Resource* FindExecutableResource(WORD type, WORD name);

// ---------------------------------------------------------------------------
// user32: the scripted user, dialogs, message boxes, menus and icons.

// The script of user actions, consumed by dialogs in order.
void Script(std::initializer_list<Action> actions);
size_t ScriptLeft();
// Dialogs have a system menu unless told otherwise; without one
// GetSystemMenu answers null.
void SetSystemMenuAvailable(bool available);
// What the program showed.
const std::vector<MessageBoxRecord>& MessageBoxes();
const std::vector<DrawIconRecord>& DrawnIcons();
std::vector<HWND> Dialogs();  // every dialog created, in order; records outlive the window
int ScriptErrors();           // dialogs that were left running when the script ran out

// Reading a dialog record.
std::string WindowText(HWND hWnd);
std::string ControlText(HWND hDlg, int id);
HWND Focus(HWND hDlg);
int ControlId(HWND hCtl);
HMENU SystemMenuOf(HWND hDlg);
std::vector<MenuItem> MenuItems(HMENU hMenu);
HICON IconOf(HWND hDlg, int which);  // ICON_BIG or ICON_SMALL
RECT WindowRect(HWND hWnd);
std::vector<HWND> Controls(HWND hDlg);  // in template order
std::string ClassOf(HWND hWnd);
DWORD StyleOf(HWND hWnd);
HWND OwnerOf(HWND hWnd);
INT_PTR EndResult(HWND hDlg);
bool IsEnabled(HWND hWnd);
RECT WorkArea();
void SetWorkArea(const RECT& area);  // 0,0 to 1024,768 on a fresh machine
std::string IconName(HICON icon);  // "module-path#id", for comparing icons

// ---------------------------------------------------------------------------
// advapi32: the registry and the security of files and folders.

// Registry under HKEY_CURRENT_USER; key paths are case-insensitive.
void CreateUserKey(const std::string& keyPath);
void SetUserValue(const std::string& keyPath, const std::string& name, DWORD type,
                  const std::vector<BYTE>& data);
void SetUserDword(const std::string& keyPath, const std::string& name, DWORD value);
size_t OpenKeyCount();

// Setting the security of what is at this path fails with the error and
// changes nothing.
void FailSecurity(const std::string& path, DWORD error);
// What was set on the path, as SDDL in the order O, G, D, S: only the
// parts the information flags named ("" when nothing was set).
std::string SecurityOf(const std::string& path);
size_t HeldSecurityDescriptors();  // converted from SDDL and not yet given to LocalFree

// ---------------------------------------------------------------------------
// setupapi: the INF store.

// Where SetupCopyOEMInfA keeps the INFs it registers, as oemN.inf.
extern const char* const kInfStoreFolder;  // "C:\WINDOWS\inf"
std::vector<std::string> StoredInfs();  // paths of the INFs in the store
// SetupCopyOEMInfA refuses with the error: every call, or with copyStyle
// other than 0 only the calls made with exactly that copy style.
void RefuseInfStore(DWORD error, DWORD copyStyle = 0);

// ---------------------------------------------------------------------------
// msvcrt: the ANSI code page that _setmbcp picks up.

void SetAnsiCodePage(UINT codePage);
int CurrentMbcsCodePage();  // what _setmbcp left in force (0: single-byte)

}  // namespace simwin
