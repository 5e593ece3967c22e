// Modules: the executable (resources from a compiled .res file) and the
// language modules that tests register by path with their string tables.
#include "simwin/state.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace simwin {

std::string NarrowUtf16(const BYTE* p, size_t chars)
{
    std::string s;
    for (size_t i = 0; i < chars; ++i) {
        unsigned c = p[2 * i] | (p[2 * i + 1] << 8);
        s += c < 0x80 ? char(c) : '?';
    }
    return s;
}

static size_t Align4(size_t n) { return (n + 3) & ~size_t(3); }

// Reads a name-or-ordinal field; string names are not used by this program.
static WORD ReadId(const std::vector<BYTE>& f, size_t& at)
{
    WORD first = WORD(f[at] | (f[at + 1] << 8));
    if (first == 0xFFFF) {
        WORD id = WORD(f[at + 2] | (f[at + 3] << 8));
        at += 4;
        return id;
    }
    while (f[at] || f[at + 1]) at += 2;
    at += 2;
    return 0;
}

std::vector<Resource> ParseResFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<BYTE> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Resource> out;
    size_t at = 0;
    while (at + 32 <= f.size()) {
        DWORD dataSize, headerSize;
        memcpy(&dataSize, &f[at], 4);
        memcpy(&headerSize, &f[at + 4], 4);
        size_t p = at + 8;
        Resource r;
        r.type = ReadId(f, p);
        r.name = ReadId(f, p);
        p = Align4(p);
        memcpy(&r.language, &f[p + 6], 2);
        size_t data = at + headerSize;
        if (data + dataSize > f.size()) break;
        r.data.assign(f.begin() + long(data), f.begin() + long(data + dataSize));
        if (r.type && r.name) out.push_back(r);
        at = Align4(data + dataSize);
    }
    return out;
}

static void LoadStringBlocks(HINSTANCE__* m)
{
    for (const Resource& r : m->resources) {
        if (r.type != 6) continue;
        size_t at = 0;
        for (UINT i = 0; i < 16 && at + 2 <= r.data.size(); ++i) {
            WORD len = WORD(r.data[at] | (r.data[at + 1] << 8));
            at += 2;
            if (len) m->strings[(r.name - 1u) * 16u + i] = NarrowUtf16(&r.data[at], len);
            at += 2u * len;
        }
    }
}

HINSTANCE SetExecutable(const std::string& path, const std::string& resFile)
{
    W().exe.reset(new HINSTANCE__);
    W().exe->path = path;
    W().exe->isExecutable = true;
    W().exe->resources = ParseResFile(resFile);
    LoadStringBlocks(W().exe.get());
    AddFile(path, {'M', 'Z'});
    return W().exe.get();
}

HINSTANCE Executable() { return W().exe.get(); }

void AddLanguageModule(const std::string& path, const std::map<UINT, std::string>& strings)
{
    W().moduleDefs[Lower(path)].strings = strings;
    AddFile(path, {'M', 'Z'});
}

void RemoveExecutableString(UINT id) { W().exe->strings.erase(id); }

int LoadedModuleCount()
{
    int n = 0;
    for (const auto& m : W().loaded) n += m->refs;
    return n;
}

HINSTANCE__* FindModule(HMODULE h)
{
    if (h && h == W().exe.get()) return W().exe.get();
    for (const auto& m : W().loaded)
        if (m.get() == h) return m.get();
    return nullptr;
}

const Resource* FindResource(HINSTANCE__* m, WORD type, WORD name)
{
    for (const Resource& r : m->resources)
        if (r.type == type && r.name == name) return &r;
    return nullptr;
}

const Resource* FindExecutableResource(WORD type, WORD name)
{
    return FindResource(W().exe.get(), type, name);
}

std::string IconName(HICON icon) { return icon ? icon->name : std::string(); }

}  // namespace simwin

using namespace simwin;

HMODULE LoadLibraryA(LPCSTR lpLibFileName)
{
    std::string path = lpLibFileName ? lpLibFileName : "";
    Log("LoadLibraryA " + path);
    if (path.size() >= 260) {  // beyond MAX_PATH the loader gives up
        SetLastError(206);     // ERROR_FILENAME_EXCED_RANGE
        return nullptr;
    }
    std::string key = Lower(path);
    for (const auto& m : W().loaded) {
        if (Lower(m->path) == key) {
            ++m->refs;
            return m.get();
        }
    }
    auto def = W().moduleDefs.find(key);
    if (def != W().moduleDefs.end() && FileExists(path)) {
        std::unique_ptr<HINSTANCE__> m(new HINSTANCE__);
        m->path = path;
        m->refs = 1;
        m->strings = def->second.strings;
        W().loaded.push_back(std::move(m));
        return W().loaded.back().get();
    }
    if (FolderExists(path))
        SetLastError(ERROR_ACCESS_DENIED);
    else if (FileExists(path))
        SetLastError(ERROR_BAD_EXE_FORMAT);
    else
        SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule)
{
    for (auto it = W().loaded.begin(); it != W().loaded.end(); ++it) {
        if (it->get() != hLibModule) continue;
        Log("FreeLibrary " + (*it)->path);
        if (--(*it)->refs == 0) W().loaded.erase(it);
        return TRUE;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType)
{
    HINSTANCE__* m = FindModule(hModule);
    if (!m || !IS_INTRESOURCE(lpName) || !IS_INTRESOURCE(lpType)) return nullptr;
    const Resource* r = FindResource(m, LOWORD(lpType), LOWORD(lpName));
    if (!r) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    m->handles.push_back({r});
    return &m->handles.back();
}

HGLOBAL LoadResource(HMODULE, HRSRC hResInfo)
{
    return hResInfo ? const_cast<BYTE*>(hResInfo->res->data.data()) : nullptr;
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

DWORD SizeofResource(HMODULE, HRSRC hResInfo)
{
    return hResInfo ? DWORD(hResInfo->res->data.size()) : 0;
}

int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    HINSTANCE__* m = FindModule(hInstance);
    Log("LoadStringA " + std::to_string(uID) + " " + (m ? m->path : std::string("?")));
    if (cchBufferMax <= 0) return 0;
    lpBuffer[0] = 0;
    if (!m) return 0;
    auto it = m->strings.find(uID);
    if (it == m->strings.end()) return 0;
    size_t n = std::min(it->second.size(), size_t(cchBufferMax - 1));
    memcpy(lpBuffer, it->second.data(), n);
    lpBuffer[n] = 0;
    return int(n);
}

HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    HINSTANCE__* m = FindModule(hInstance);
    if (!m || !IS_INTRESOURCE(lpIconName)) return nullptr;
    WORD id = LOWORD(lpIconName);
    Log("LoadIconA " + std::to_string(id) + " " + m->path);
    if (!FindResource(m, 14, id)) return nullptr;
    std::unique_ptr<HICON__>& icon = m->icons[id];
    if (!icon) {
        icon.reset(new HICON__);
        icon->name = m->path + "#" + std::to_string(id);
    }
    return icon.get();
}
