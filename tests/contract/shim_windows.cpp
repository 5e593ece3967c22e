// The contract's shim on Windows (and Wine): real calls, and threads that
// stand for another program holding a mutex.
#include "shim.h"

bool RunningOnWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }
bool UseAnsiCodePage(UINT codePage) { return GetACP() == codePage; }
void StartMachine(const std::string& root) { CreateDirectoryA(root.c_str(), nullptr); }  // the runner empties it
HWND MakeWindow()
{
    return CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 99, 99, nullptr, nullptr, nullptr, nullptr);
}
void Cleanup() { RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\WirenestContract"); }

void PutFile(const std::string& path, const std::string& bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

bool HoldElsewhere(const std::string& path, DWORD access, DWORD share)  // open until the contract ends
{
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return h != INVALID_HANDLE_VALUE;
}

// A mount point, as mklink /J makes one: tag, data length, reserved, the
// offsets and lengths of the two names, then "\??\target" and "target".
bool MakeJunction(const std::string& path, const std::string& target)
{
    if (!CreateDirectoryA(path.c_str(), nullptr)) return false;
    const std::wstring print(target.begin(), target.end()), substitute = L"\\??\\" + print;
    std::wstring data = {LOWORD(IO_REPARSE_TAG_MOUNT_POINT), HIWORD(IO_REPARSE_TAG_MOUNT_POINT), 0, 0, 0,
                         wchar_t(2 * substitute.size()), wchar_t(2 * substitute.size() + 2), wchar_t(2 * print.size())};
    data += substitute + L'\0' + print + L'\0';
    data[2] = wchar_t(2 * data.size() - 8);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    const BOOL made = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, data.data(), DWORD(2 * data.size()), nullptr, 0,
                                      &returned, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (!made) RemoveDirectoryA(path.c_str());
    SetLastError(error);
    return made;
}

bool MakeHardLink(const std::string& link, const std::string& existing)
{
    return CreateHardLinkA(link.c_str(), existing.c_str(), nullptr);
}

// One thread keeps its mutex; the other ends owning it, which abandons it.
static const HANDLE owned = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // set once Keep owns its mutex
static DWORD WINAPI Own(LPVOID name) { return !CreateMutexA(nullptr, TRUE, static_cast<LPCSTR>(name)); }
static DWORD WINAPI Keep(LPVOID name) { Own(name); SetEvent(owned); Sleep(INFINITE); return 0; }

void OwnMutexElsewhere(const char* name, bool ends)
{
    HANDLE thread = CreateThread(nullptr, 0, ends ? Own : Keep, const_cast<char*>(name), 0, nullptr);
    WaitForSingleObject(ends ? thread : owned, INFINITE);
    CloseHandle(thread);
}

void AddLanguageModule(const std::string& path)  // a copy of the one beside the executable
{
    char source[MAX_PATH];
    GetModuleFileNameA(nullptr, source, sizeof source);
    strcpy(strrchr(source, '\\') + 1, "contract_lang.dll");
    CopyFileA(source, path.c_str(), FALSE);
}

void SetUserValue(const char* key, const char* name, DWORD type, const std::string& bytes)
{
    RegSetKeyValueA(HKEY_CURRENT_USER, key, name, type, bytes.data(), DWORD(bytes.size()));
}

std::string DaclOf(const std::string& path)
{
    BYTE sd[4096];
    DWORD needed = 0;
    LPSTR sddl = nullptr;
    if (GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd, sizeof sd, &needed))
        ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, 0);
    const std::string dacl = sddl ? sddl : "(unreadable)";
    LocalFree(sddl);
    return dacl;
}

void RemoveStoredInf(const std::string& stored)
{
    SetupUninstallOEMInfA(stored.substr(stored.rfind('\\') + 1).c_str(), SUOI_FORCEDELETE, nullptr);
    DeleteFileA((stored.substr(0, stored.size() - 3) + "pnf").c_str());
}
