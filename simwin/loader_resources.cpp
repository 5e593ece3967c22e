// The loader's modules and their resources (kernel32): the executable, whose
// resources come from a compiled .res file, and the language modules that
// tests register by path with their string tables; resources found, loaded
// and seen through VirtualQuery as the regions of their module's image.
#include "simwin/state.h"

#include <cstdio>
#include <cstdlib>
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
    if (WordAt(f, at) == 0xFFFF) {
        WORD id = WordAt(f, at + 2);
        at += 4;
        return id;
    }
    while (f[at] || f[at + 1]) at += 2;
    at += 2;
    return 0;
}

static std::vector<Resource> ParseResFile(const std::string& path)
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

// Each byte of a test's text becomes one UTF-16 unit, so that any bytes,
// code page 932 ones included, come back unchanged from LoadStringA.
void PutString(std::vector<BYTE>& block, WORD len, const std::string& text)
{
    block.push_back(BYTE(len));
    block.push_back(BYTE(len >> 8));
    for (char c : text) {
        block.push_back(BYTE(c));
        block.push_back(0);
    }
}

static std::vector<Resource> EncodeStringBlocks(const std::map<UINT, std::string>& strings)
{
    std::map<WORD, std::vector<std::string>> blocks;
    for (const auto& s : strings) {
        std::vector<std::string>& block = blocks[WORD(s.first / 16 + 1)];
        block.resize(16);
        block[s.first % 16] = s.second;
    }
    std::vector<Resource> out;
    for (const auto& b : blocks) {
        Resource r{LOWORD(RT_STRING), b.first, 0, {}};
        for (const std::string& text : b.second) PutString(r.data, WORD(text.size()), text);
        out.push_back(r);
    }
    return out;
}

// What Windows does on reading memory that is not there: the process stops.
[[noreturn]] static void AccessViolation(const std::string& what)
{
    fprintf(stderr, "simwin: access violation: %s\n", what.c_str());
    fflush(stderr);
    std::abort();
}

HINSTANCE SetExecutable(const std::string& path, const std::string& resFile)
{
    W().exe.reset(new HINSTANCE__);
    W().exe->path = path;
    W().exe->resources = ParseResFile(resFile);
    AddFile(path, {'M', 'Z'});
    return W().exe.get();
}

HINSTANCE Executable() { return W().exe.get(); }

void AddLanguageModule(const std::string& path, const std::map<UINT, std::string>& strings)
{
    AddLanguageModuleBlocks(path, EncodeStringBlocks(strings));
}

void AddLanguageModuleBlocks(const std::string& path, const std::vector<Resource>& blocks)
{
    W().moduleBlocks[Lower(path)] = blocks;
    AddFile(path, {'M', 'Z'});
}

// The string becomes empty, which LoadStringA answers as no string.
void RemoveExecutableString(UINT id)
{
    const Resource* block = FindExecutableResource(LOWORD(RT_STRING), WORD(id / 16 + 1));
    if (!block) return;
    std::vector<BYTE>& d = const_cast<std::vector<BYTE>&>(block->data);  // this run's own copy
    const size_t at = StringAt(*block, id, "RemoveExecutableString");
    d.erase(d.begin() + long(at + 2), d.begin() + long(at + 2 + 2 * WordAt(d, at)));
    d[at] = d[at + 1] = 0;
}

int LoadedModuleCount()
{
    int n = 0;
    for (const auto& m : W().loaded) n += m->refs;
    return n;
}

HINSTANCE__* FindModule(HMODULE h)
{
    if (h && h == W().exe.get()) return W().exe.get();
    // A module mapped as data is handed out with its low bit set.
    const bool dataFile = reinterpret_cast<UINT_PTR>(h) & 1;
    HINSTANCE__* record = reinterpret_cast<HINSTANCE__*>(reinterpret_cast<UINT_PTR>(h) & ~UINT_PTR(3));
    HINSTANCE__* m = FindByAddress(W().loaded, record);
    if (m && m->dataFile == dataFile) return m;
    return FindByAddress(W().systemLoaded, h);
}

const Resource* FindResource(HINSTANCE__* m, WORD type, WORD name)
{
    for (const Resource& r : m->resources)
        if (r.type == type && r.name == name) return &r;
    return nullptr;
}

size_t StringAt(const Resource& block, UINT id, const std::string& where)
{
    if (!block.mapped) AccessViolation(where + ": block outside the image");
    if (!block.readable) AccessViolation(where + ": block on a page that cannot be read");
    size_t at = 0;
    for (UINT k = id % 16;; --k) {
        if (at + 2 > block.data.size()) AccessViolation(where + ": length word outside the block");
        const size_t len = WordAt(block.data, at);
        if (!k) {
            if (at + 2 + 2 * len > block.data.size()) AccessViolation(where + ": string runs past the block");
            return at;
        }
        at += 2 + 2 * len;
    }
}

const Resource* FindExecutableResource(WORD type, WORD name) { return FindResource(W().exe.get(), type, name); }

std::string IconName(HICON icon) { return icon ? icon->name : std::string(); }

}  // namespace simwin

using namespace simwin;

HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType)
{
    HINSTANCE__* m = FindModule(hModule);
    if (!m || !IS_INTRESOURCE(lpName) || !IS_INTRESOURCE(lpType)) return nullptr;
    const Resource* r = FindResource(m, LOWORD(lpType), LOWORD(lpName));
    if (!r) return Fail<HRSRC>(ERROR_RESOURCE_NAME_NOT_FOUND);
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

// Every mapped resource is one committed region of its module, read-only
// unless marked unreadable; everything else is free memory.
SIZE_T VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength)
{
    if (dwLength < sizeof(MEMORY_BASIC_INFORMATION)) return 0;
    const BYTE* p = static_cast<const BYTE*>(lpAddress);
    const BYTE* nextRegion = nullptr;
    std::vector<HINSTANCE__*> modules;
    if (W().exe) modules.push_back(W().exe.get());
    for (const auto& m : W().loaded) modules.push_back(m.get());
    for (HINSTANCE__* m : modules) {
        for (const Resource& r : m->resources) {
            if (!r.mapped || r.data.empty()) continue;
            const BYTE* begin = r.data.data();
            if (p >= begin && p < begin + r.data.size()) {
                *lpBuffer = {const_cast<BYTE*>(begin), m, PAGE_READONLY, r.data.size(),
                             MEM_COMMIT, r.readable ? DWORD(PAGE_READONLY) : DWORD(PAGE_NOACCESS),
                             m->dataFile ? DWORD(MEM_MAPPED) : DWORD(MEM_IMAGE)};
                return sizeof(MEMORY_BASIC_INFORMATION);
            }
            if (begin > p && (!nextRegion || begin < nextRegion)) nextRegion = begin;
        }
    }
    SIZE_T size = nextRegion ? SIZE_T(nextRegion - p) : SIZE_T(0) - UINT_PTR(p);
    *lpBuffer = {const_cast<BYTE*>(p), nullptr, 0, size, MEM_FREE, PAGE_NOACCESS, 0};
    return sizeof(MEMORY_BASIC_INFORMATION);
}
