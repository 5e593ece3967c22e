// The contract's shim on Windows (and Wine): real calls, and threads that
// stand for another program holding a mutex.
#include "shim.h"

#include <vector>

namespace {

std::vector<HANDLE> held;  // other programs' handles: closed by Cleanup

struct MutexHolder {
    const char* name;
    bool ends;     // the thread ends owning it: abandoned
    HANDLE owned;  // set once the thread owns the mutex
};

DWORD WINAPI OwnMutex(LPVOID p)
{
    const MutexHolder holder = *static_cast<MutexHolder*>(p);
    CreateMutexA(nullptr, TRUE, holder.name);
    SetEvent(holder.owned);
    if (!holder.ends) Sleep(INFINITE);
    return 0;
}

void OwnElsewhere(const char* name, bool ends)
{
    MutexHolder holder{name, ends, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, OwnMutex, &holder, 0, nullptr);
    WaitForSingleObject(ends ? thread : holder.owned, INFINITE);
    CloseHandle(holder.owned);
    CloseHandle(thread);
}

}  // namespace

bool RunningOnWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// The runner removes the scratch folder before and after a run.
void StartMachine(const std::string& root) { CreateDirectoryA(root.c_str(), nullptr); }

void Cleanup(const std::string&)
{
    for (HANDLE h : held) CloseHandle(h);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\WirenestContract");
}

void PutFile(const std::string& path, const std::string& bytes, bool readOnly)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    if (readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

bool HoldElsewhere(const std::string& path, DWORD access, DWORD share)
{
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) held.push_back(h);
    return h != INVALID_HANDLE_VALUE;
}

// A mount point, as mklink /J makes one: tag, data length, reserved, the
// offsets and lengths of the two names, then "\??\target" and "target".
bool MakeJunction(const std::string& path, const std::string& target)
{
    if (!CreateDirectoryA(path.c_str(), nullptr)) return false;
    const std::wstring print(target.begin(), target.end()), substitute = L"\\??\\" + print;
    std::vector<WORD> data = {LOWORD(IO_REPARSE_TAG_MOUNT_POINT), HIWORD(IO_REPARSE_TAG_MOUNT_POINT), 0, 0, 0,
                              WORD(2 * substitute.size()), WORD(2 * substitute.size() + 2), WORD(2 * print.size())};
    data.insert(data.end(), substitute.c_str(), substitute.c_str() + substitute.size() + 1);
    data.insert(data.end(), print.c_str(), print.c_str() + print.size() + 1);
    data[2] = WORD(2 * data.size() - 8);
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

void HoldMutexElsewhere(const char* name) { OwnElsewhere(name, false); }
void AbandonMutexElsewhere(const char* name) { OwnElsewhere(name, true); }

// Resource-only modules are copied from beside the contract's executable.
void AddLanguageModule(const std::string& path)
{
    char source[MAX_PATH];
    GetModuleFileNameA(nullptr, source, sizeof source);
    strcpy(strrchr(source, '\\') + 1, "contract_lang.dll");
    CopyFileA(source, path.c_str(), FALSE);
}

void SetUserValue(const char* key, const char* name, DWORD type, const std::string& bytes)
{
    HKEY h;
    RegCreateKeyA(HKEY_CURRENT_USER, key, &h);
    RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
    RegCloseKey(h);
}

bool UseAnsiCodePage(UINT codePage) { return GetACP() == codePage; }

std::string DaclOf(const std::string& path)
{
    BYTE sd[4096];
    DWORD needed = 0;
    LPSTR text = nullptr;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd, sizeof sd, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                              nullptr))
        return "(unreadable)";
    const std::string dacl = text;
    LocalFree(text);
    return dacl;
}

void RemoveStoredInf(const std::string& stored)
{
    SetupUninstallOEMInfA(stored.substr(stored.rfind('\\') + 1).c_str(), SUOI_FORCEDELETE, nullptr);
    DeleteFileA((stored.substr(0, stored.size() - 3) + "pnf").c_str());
}
