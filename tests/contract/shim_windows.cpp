// The contract's shim on Windows (and Wine): real calls, and threads for
// another program's mutex.
#include "shim.h"

#include <vector>

namespace {

const char* const kKey = "Software\\WirenestContract";
std::vector<HANDLE> held;  // other programs' handles: closed by Cleanup

void RemoveTree(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE find = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? INVALID_HANDLE_VALUE
                                                              : FindFirstFileA((path + "\\*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found))
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            RemoveTree(path + "\\" + found.cFileName);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    RemoveDirectoryA(path.c_str());
}

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

void StartMachine(const char* root)
{
    Cleanup(root);
    CreateDirectoryA(root, nullptr);
}

void Cleanup(const char* root)
{
    for (HANDLE h : held) CloseHandle(h);
    held.clear();
    RemoveTree(root);
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

void PutFile(const char* path, const std::string& bytes, bool readOnly)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    if (readOnly) SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY);
}

bool HoldElsewhere(const char* path, DWORD access, DWORD share)
{
    HANDLE h = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    held.push_back(h);
    return true;
}

// A mount-point reparse point, as mklink /J makes one.
bool MakeJunction(const char* path, const char* target)
{
    if (!CreateDirectoryA(path, nullptr)) return false;
    std::wstring printName(target, target + strlen(target)), substitute = L"\\??\\" + printName;
    std::vector<WORD> data = {0, 0, 0, 0, 0, 0, 0, 0};  // tag (2 words), length, reserved, 4 name fields
    const WORD subBytes = WORD(2 * substitute.size()), printBytes = WORD(2 * printName.size());
    data.insert(data.end(), substitute.begin(), substitute.end());
    data.push_back(0);
    data.insert(data.end(), printName.begin(), printName.end());
    data.push_back(0);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(data.data(), &tag, 4);
    data[2] = WORD(2 * data.size() - 8);
    data[5] = subBytes;
    data[6] = WORD(subBytes + 2);
    data[7] = printBytes;
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    const BOOL made = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, data.data(), DWORD(2 * data.size()), nullptr, 0,
                                      &returned, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (!made) RemoveDirectoryA(path);
    SetLastError(error);
    return made;
}

bool MakeHardLink(const char* link, const char* existing) { return CreateHardLinkA(link, existing, nullptr); }

void HoldMutexElsewhere(const char* name) { OwnElsewhere(name, false); }
void AbandonMutexElsewhere(const char* name) { OwnElsewhere(name, true); }

// Resource-only modules are copied from beside the contract's executable.
void AddLanguageModule(const char* path)
{
    char source[MAX_PATH];
    GetModuleFileNameA(nullptr, source, sizeof source);
    strcpy(strrchr(source, '\\') + 1, "contract_lang.dll");
    CopyFileA(source, path, FALSE);
}

void SetUserValue(const char* key, const char* name, DWORD type, const std::string& bytes)
{
    HKEY h;
    RegCreateKeyA(HKEY_CURRENT_USER, key, &h);
    RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
    RegCloseKey(h);
}

bool UseAnsiCodePage(UINT codePage) { return GetACP() == codePage; }

std::string DaclOf(const char* path)
{
    BYTE sd[4096];
    DWORD needed = 0;
    LPSTR text = nullptr;
    if (!GetFileSecurityA(path, DACL_SECURITY_INFORMATION, sd, sizeof sd, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                              nullptr))
        return "(unreadable)";
    std::string dacl = text;
    LocalFree(text);
    return dacl;
}

void RemoveStoredInf(const char* stored)
{
    SetupUninstallOEMInfA(strrchr(stored, '\\') + 1, SUOI_FORCEDELETE, nullptr);
    std::string pnf = stored;
    DeleteFileA(pnf.replace(pnf.size() - 3, 3, "pnf").c_str());
}
