// The loader's modules and their resources (kernel32): the executable, whose
// resources come from a compiled .res file, and the language modules that
// tests register by path with their string tables; resources found, loaded
// and seen through VirtualQuery as the regions of their module's image.
#include "simwin/state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iconv.h>
#include <iterator>

namespace simwin {


// Text through iconv, whose tables are the system's code pages: "" where a
// character has no place in the one asked for.
static std::string Convert(const std::string& to, const char* from, std::string in)
{
    iconv_t cd = iconv_open(to.c_str(), from);
    std::string out(4 * in.size() + 4, '\0');
    char *src = &in[0], *dst = &out[0];
    size_t left = in.size(), room = out.size();
    const bool ok = cd != iconv_t(-1) && iconv(cd, &src, &left, &dst, &room) != size_t(-1);
    if (cd != iconv_t(-1)) iconv_close(cd);
    return ok ? out.substr(0, out.size() - room) : std::string();
}

std::string AnsiOf(WORD unit)
{
    const std::string ansi = Convert("CP" + std::to_string(W().acp), "UTF-16LE", {char(unit), char(unit >> 8)});
    return ansi.empty() ? "?" : ansi;
}

std::string NarrowUtf16(const BYTE* p, size_t chars)
{
    std::string s;
    for (size_t i = 0; i < chars; ++i) s += AnsiOf(WORD(p[2 * i] | (p[2 * i + 1] << 8)));
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
        for (const std::string& text : b.second) {
            const std::string wide = Convert("UTF-16LE", "UTF-8", text);  // a test's text is UTF-8
            r.data.push_back(BYTE(wide.size() / 2));
            r.data.push_back(BYTE(wide.size() / 2 >> 8));
            r.data.insert(r.data.end(), wide.begin(), wide.end());
        }
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

static const size_t kPage = 4096;

static Mapping NewMapping(size_t pages, DWORD type)
{
    Mapping map;
    map.base.reset(static_cast<BYTE*>(std::aligned_alloc(kPage, pages * kPage)));
    memset(map.base.get(), 0, pages * kPage);
    map.pages.assign(pages, PAGE_READONLY);
    map.type = type;
    return map;
}

// The image starts with a header page; resources follow, one on a page that
// cannot be read having pages of its own. Those a damaged table points into
// another module lie in that module's pages; unmapped ones lie nowhere.
void MapImage(HINSTANCE__* m)
{
    size_t size = kPage, otherSize = 0;
    std::vector<size_t> at;
    for (const Resource& r : m->resources) {
        if (!r.readable) size = (size + kPage - 1) / kPage * kPage;
        at.push_back(r.foreign ? otherSize : size);
        (r.foreign ? otherSize : size) += r.mapped ? Align4(r.data.size()) : 0;
        if (!r.readable) size = (size + kPage - 1) / kPage * kPage;
    }
    m->mappings.push_back(NewMapping((size + kPage - 1) / kPage, m->dataFile ? MEM_MAPPED : MEM_IMAGE));
    m->mappings.push_back(NewMapping(otherSize / kPage + 1, MEM_IMAGE));
    for (size_t i = 0; i < m->resources.size(); ++i) {
        const Resource& r = m->resources[i];
        if (!r.mapped) continue;
        BYTE* p = m->mappings[r.foreign ? 1 : 0].base.get() + at[i];
        if (!r.data.empty()) memcpy(p, r.data.data(), r.data.size());
        m->placed[&r] = p;
        if (!r.readable)
            for (size_t page = at[i] / kPage; page * kPage < at[i] + r.data.size(); ++page)
                m->mappings[0].pages[page] = PAGE_NOACCESS;
    }
}

// A language module's handle is its image's base, with the low bit set when
// mapped as data.
HINSTANCE__* FindModule(HMODULE h)
{
    if (h && h == W().exe.get()) return W().exe.get();
    const UINT_PTR v = reinterpret_cast<UINT_PTR>(h);
    for (const auto& m : W().loaded)
        if (reinterpret_cast<UINT_PTR>(m->mappings[0].base.get()) == (v & ~UINT_PTR(3)) && m->dataFile == (v & 1))
            return m.get();
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

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo)
{
    if (!hResInfo) return nullptr;
    HINSTANCE__* m = FindModule(hModule);
    if (m && m->placed.count(hResInfo->res)) return m->placed[hResInfo->res];
    return const_cast<BYTE*>(hResInfo->res->data.data());  // the executable's, or nowhere mapped
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

DWORD SizeofResource(HMODULE, HRSRC hResInfo)
{
    return hResInfo ? DWORD(hResInfo->res->data.size()) : 0;
}

// A module's pages are committed regions, a run of pages of one protection
// each; everything else is free memory.
SIZE_T VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength)
{
    if (dwLength < sizeof(MEMORY_BASIC_INFORMATION)) return 0;
    const BYTE* p = static_cast<const BYTE*>(lpAddress);
    const BYTE* nextRegion = nullptr;
    for (const auto& m : W().loaded) {
        for (const Mapping& map : m->mappings) {
            const BYTE* begin = map.base.get();
            if (p >= begin && p < begin + map.pages.size() * kPage) {
                size_t first = size_t(p - begin) / kPage, end = first;
                while (end < map.pages.size() && map.pages[end] == map.pages[first]) ++end;
                *lpBuffer = {const_cast<BYTE*>(begin + first * kPage), const_cast<BYTE*>(begin), PAGE_READONLY,
                             (end - first) * kPage, MEM_COMMIT, map.pages[first], map.type};
                return sizeof(MEMORY_BASIC_INFORMATION);
            }
            if (begin > p && (!nextRegion || begin < nextRegion)) nextRegion = begin;
        }
    }
    SIZE_T size = nextRegion ? SIZE_T(nextRegion - p) : SIZE_T(0) - UINT_PTR(p);
    *lpBuffer = {const_cast<BYTE*>(p), nullptr, 0, size, MEM_FREE, PAGE_NOACCESS, 0};
    return sizeof(MEMORY_BASIC_INFORMATION);
}
