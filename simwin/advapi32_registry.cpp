// advapi32's registry: HKEY_CURRENT_USER with typed values; the program only reads it.
#include "simwin/state.h"

#include <cstring>

namespace simwin {

void CreateUserKey(const std::string& keyPath) { W().userKeys[Lower(keyPath)]; }

void SetUserValue(const std::string& keyPath, const std::string& name, DWORD type,
                  const std::vector<BYTE>& data)
{
    W().userKeys[Lower(keyPath)][Lower(name)] = {type, data};
}

void SetUserDword(const std::string& keyPath, const std::string& name, DWORD value)
{
    std::vector<BYTE> data(4);
    memcpy(data.data(), &value, 4);
    SetUserValue(keyPath, name, REG_DWORD, data);
}

size_t OpenKeyCount()
{
    return size_t(std::count_if(W().keys.begin(), W().keys.end(), [](const HKEY__& k) { return k.open; }));
}

}  // namespace simwin

using namespace simwin;

static HKEY__* OpenedKey(HKEY hKey)
{
    HKEY__* k = FindByAddress(W().keys, hKey);
    return k && k->open ? k : nullptr;
}

LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    const std::string path = Lower(Logged("RegOpenKeyA", lpSubKey));
    if (hKey != HKEY_CURRENT_USER || !lpSubKey) return ERROR_INVALID_HANDLE;
    if (!W().userKeys.count(path)) return ERROR_FILE_NOT_FOUND;
    W().keys.push_back({path, true});
    *phkResult = &W().keys.back();
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData)
{
    const std::string name = Lower(Logged("RegQueryValueExA", lpValueName));
    HKEY__* key = OpenedKey(hKey);
    if (!key || lpReserved) return ERROR_INVALID_HANDLE;
    auto& values = W().userKeys[key->path];
    auto it = values.find(name);
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    const DWORD type = it->second.first;
    const std::vector<BYTE>& data = it->second.second;
    if (lpType) *lpType = type;
    if (!lpData) {
        if (lpcbData) *lpcbData = DWORD(data.size());
        return ERROR_SUCCESS;
    }
    if (!lpcbData) return ERROR_INVALID_HANDLE;
    if (data.size() > *lpcbData) {
        // The caller's buffer is left undefined; make that visible.
        memset(lpData, 0xCC, *lpcbData);
        *lpcbData = DWORD(data.size());
        return ERROR_MORE_DATA;
    }
    if (!data.empty()) memcpy(lpData, data.data(), data.size());
    *lpcbData = DWORD(data.size());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey)
{
    HKEY__* key = OpenedKey(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    key->open = false;
    return ERROR_SUCCESS;
}
