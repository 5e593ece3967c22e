// The loader's modules and their resources (kernel32, user32's LoadStringA):
// each module is its file's bytes in pages of simwin's own address range, the
// executable's file a PE written from its .res file. Resources are found and
// read there as Wine's ntdll and kernelbase do, trusting the module's offsets:
// a read outside every module stops the process, as it faults on Windows.
#include "simwin/state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <sys/mman.h>

namespace simwin {

static const size_t kPage = 4096, kHeaders = 0x200, kSectionRva = 0x1000;
static const DWORD kFar = 0x1000000;  // where a damaged offset points: past every module

[[noreturn]] static void Stop(const std::string& why)
{
    fprintf(stderr, "simwin: %s\n", why.c_str());
    fflush(stderr);
    std::abort();
}

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

static std::string AnsiOf(WORD unit)
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

static size_t Align(size_t n, size_t to) { return (n + to - 1) / to * to; }
static WORD WordAt(const std::vector<BYTE>& d, size_t at) { return WORD(d[at] | (d[at + 1] << 8)); }

// Reads a name-or-ordinal field; string names are not used by this program.
static WORD ReadId(const std::vector<BYTE>& f, size_t& at)
{
    const bool ordinal = WordAt(f, at) == 0xFFFF;
    while (!ordinal && WordAt(f, at)) at += 2;
    at += ordinal ? 4 : 2;
    return ordinal ? WordAt(f, at - 2) : 0;
}

static std::vector<Resource> ParseResFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<BYTE> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Resource> out;
    for (size_t at = 0; at + 32 <= f.size();) {
        DWORD dataSize, headerSize;
        memcpy(&dataSize, &f[at], 4);
        memcpy(&headerSize, &f[at + 4], 4);
        size_t p = at + 8, data = at + headerSize;
        Resource r;
        r.type = ReadId(f, p);
        r.name = ReadId(f, p);
        r.language = WordAt(f, Align(p, 4) + 6);
        if (data + dataSize > f.size()) break;
        r.data.assign(f.begin() + long(data), f.begin() + long(data + dataSize));
        if (r.type && r.name) out.push_back(r);
        at = Align(data + dataSize, 4);
    }
    return out;
}

// Each byte of a test's text becomes one UTF-16 unit, so that any bytes,
// code page 932 ones included, come back unchanged from LoadStringA.
void PutString(std::vector<BYTE>& block, WORD len, const std::string& text)
{
    block.insert(block.end(), {BYTE(len), BYTE(len >> 8)});
    for (char c : text) block.insert(block.end(), {BYTE(c), 0});
}

static void Put(std::vector<BYTE>& f, size_t at, size_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i) f[at + i] = BYTE(v >> 8 * i);
}

// As a resource compiler and linker lay a resource-only DLL out: DOS and PE32
// headers, one .rsrc section (file offset 0x200, RVA 0x1000) with the
// directory (type, name, language), the data entries, then the data.
std::vector<BYTE> ModuleFile(const std::vector<Resource>& resources)
{
    std::map<WORD, std::map<WORD, std::map<WORD, const Resource*>>> tree;
    for (const Resource& r : resources) tree[r.type][r.name][r.language] = &r;
    std::vector<BYTE> f(kHeaders + 16 + 8 * tree.size());
    Put(f, kHeaders + 14, tree.size(), 2);
    // A directory of n ids placed next, and its parent's entry for it.
    const auto dir = [&f](size_t& parent, WORD id, size_t n) {
        Put(f, parent, id);
        Put(f, parent + 4, 0x80000000 | (f.size() - kHeaders));
        parent += 8;
        f.resize(f.size() + 16 + 8 * n);
        Put(f, f.size() - 8 * n - 2, n, 2);
        return f.size() - 8 * n;
    };
    std::vector<std::pair<size_t, const Resource*>> leaves;  // language entries
    size_t t = kHeaders + 16;
    for (const auto& type : tree) {
        size_t n = dir(t, type.first, type.second.size());
        for (const auto& name : type.second) {
            size_t l = dir(n, name.first, name.second.size());
            for (const auto& language : name.second) {
                Put(f, l, language.first);
                leaves.push_back({l + 4, language.second});
                l += 8;
            }
        }
    }
    for (auto& leaf : leaves) {  // the data entries
        Put(f, leaf.first, leaf.second->place == Resource::kEntryOutside ? kFar : f.size() - kHeaders);
        leaf.first = f.size();
        f.resize(f.size() + 16);
    }
    // The data in the file, a block the file's end cuts last, then those past
    // the end, which the section still claims.
    std::stable_sort(leaves.begin(), leaves.end(), [](auto& a, auto& b) { return a.second->place < b.second->place; });
    size_t end = f.size();
    for (const auto& [entry, r] : leaves) {
        const bool past = r->place >= Resource::kOutside;
        size_t at = r->place == Resource::kCut ? Align(f.size() + r->cut, kPage) - r->cut : Align(f.size(), 4);
        if (past) at = Align(f.size(), kPage) + (r->place == Resource::kForeign ? kPage : kFar);
        Put(f, entry, at - kHeaders + kSectionRva);
        Put(f, entry + 4, r->data.size());
        end = std::max(end, at + r->data.size());
        if (past) continue;
        f.resize(at);
        const size_t inFile = r->place == Resource::kCut ? std::min(r->cut, r->data.size()) : r->data.size();
        f.insert(f.end(), r->data.begin(), r->data.begin() + long(inFile));
    }
    f.resize(Align(f.size(), 0x200));
    const size_t raw = Align(end, 0x200) - kHeaders;
    // "MZ", where "PE" is; "PE", i386, one section, the optional header's
    // size, a 32-bit DLL; PE32, image base, section and file alignment,
    // Windows 4.0, sizes of the image and the headers, GUI, 16 directories,
    // the resources' one; the section ".rsrc", its sizes and place, readable.
    const size_t fields[][3] = {
        {0, 0x5A4D, 2}, {0x3C, 0x40, 4}, {0x40, 0x4550, 4}, {0x44, 0x14C, 2}, {0x46, 1, 2}, {0x54, 0xE0, 2},
        {0x56, 0x2102, 2}, {0x58, 0x10B, 2}, {0x74, 0x10000000, 4}, {0x78, kPage, 4}, {0x7C, 0x200, 4},
        {0x80, 4, 2}, {0x88, 4, 2}, {0x90, kSectionRva + Align(raw, kPage), 4}, {0x94, kHeaders, 4},
        {0x9C, 2, 2}, {0xB4, 16, 4}, {0xC8, kSectionRva, 4}, {0xCC, raw, 4}, {0x138, 0x7273722E, 4},
        {0x13C, 'c', 1}, {0x140, raw, 4}, {0x144, kSectionRva, 4}, {0x148, raw, 4}, {0x14C, kHeaders, 4},
        {0x15C, 0x40000040, 4}};
    for (const auto& field : fields) Put(f, field[0], field[1], int(field[2]));
    return f;
}

void AddLanguageModule(const std::string& path, const std::map<UINT, std::string>& strings)
{
    std::map<WORD, std::vector<std::string>> texts;  // by block
    for (const auto& s : strings) {
        texts[WORD(s.first / 16 + 1)].resize(16);
        texts[WORD(s.first / 16 + 1)][s.first % 16] = s.second;
    }
    std::vector<Resource> blocks;
    for (const auto& b : texts) {
        blocks.push_back({LOWORD(RT_STRING), b.first, 0, {}});
        std::vector<BYTE>& d = blocks.back().data;
        for (const std::string& text : b.second) {
            const std::string wide = Convert("UTF-16LE", "UTF-8", text);  // a test's text is UTF-8
            d.insert(d.end(), {BYTE(wide.size() / 2), BYTE(wide.size() / 2 >> 8)});
            d.insert(d.end(), wide.begin(), wide.end());
        }
    }
    AddFile(path, ModuleFile(blocks));
}

template <class F> static void EachModule(F f)
{
    if (W().exe) f(*W().exe);
    for (const auto& m : W().loaded) f(*m);
}

// Mapped top-down in a range of simwin's own, each module below the lowest
// one with a free page between: past a module's end lies a page of nothing,
// then the module mapped before it.
static BYTE* Place(size_t size)
{
    static const size_t kRange = size_t(1) << 30;
    static BYTE* const range = static_cast<BYTE*>(
        mmap(nullptr, kRange, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    BYTE* low = range + kRange;
    EachModule([&low](const HINSTANCE__& m) { low = m.map.base ? std::min(low, m.map.base) : low; });
    if (range == MAP_FAILED || size_t(low - range) < size + kPage) Stop("no room left to map a module");
    return static_cast<BYTE*>(memset(low - kPage - size, 0, size));
}

static HINSTANCE__* ModuleAt(UINT_PTR at)
{
    HINSTANCE__* found = nullptr;
    EachModule([&](HINSTANCE__& m) { found = m.map.base && at - UINT_PTR(m.map.base) < m.map.size ? &m : found; });
    return found;
}

// simwin's own read of module memory: a PageFault where Windows' faults, for
// the caller to catch, as Windows does, or not.
struct PageFault {};
template <class T> static T Read(UINT_PTR at)
{
    const HINSTANCE__* m = ModuleAt(at);
    if (!m || UINT_PTR(m->map.base) + m->map.size - at < sizeof(T)) throw PageFault();
    T v;
    memcpy(&v, reinterpret_cast<const void*>(at), sizeof v);
    return v;
}

// ntdll's RtlImageNtHeader: the PE header the DOS header leads to, or 0.
static UINT_PTR NtHeader(UINT_PTR base)
{
    try {
        const UINT_PTR nt = base + UINT_PTR(LONG(Read<DWORD>(base + 0x3C)));
        return Read<WORD>(base) == 0x5A4D && Read<DWORD>(nt) == 0x4550 ? nt : 0;
    } catch (PageFault) {
        return 0;
    }
}

bool MapFile(HINSTANCE__& m, const std::vector<BYTE>& file, DWORD type)
{
    m.map = {nullptr, Align(file.size(), kPage), type};
    m.map.base = Place(m.map.size);
    std::copy(file.begin(), file.end(), m.map.base);
    return NtHeader(UINT_PTR(m.map.base)) != 0;
}

// RtlImageRvaToVa: where the section holding the RVA has it in the file, or 0.
static UINT_PTR RvaToVa(UINT_PTR base, UINT_PTR nt, DWORD rva)
{
    UINT_PTR section = nt + 24 + Read<WORD>(nt + 20);
    for (WORD i = 0; i < Read<WORD>(nt + 6); ++i, section += 40) {
        const DWORD va = Read<DWORD>(section + 12);
        if (va <= rva && DWORD(va + Read<DWORD>(section + 16)) > rva)
            return base + Read<DWORD>(section + 20) + (rva - va);
    }
    return 0;
}

// RtlImageDirectoryEntryToData for the resources of a module mapped as data
// (simwin maps images as their files too): where they start, or 0.
static UINT_PTR ResourceRoot(UINT_PTR base)
{
    const UINT_PTR nt = NtHeader(base);
    const WORD magic = nt ? Read<WORD>(nt + 24) : 0;
    if (magic != 0x10B && magic != 0x20B) return 0;  // PE32, PE32+
    const UINT_PTR directories = nt + (magic == 0x10B ? 120 : 136);
    const DWORD rva = Read<DWORD>(directories - 4) > 2 ? Read<DWORD>(directories + 16) : 0;
    return !rva ? 0 : rva < Read<DWORD>(nt + 84) ? base + rva : RvaToVa(base, nt, rva);  // in the headers: as is
}

// Where a directory entry leads, root + its offset unchecked, if to a
// subdirectory or a data entry as wanted; else 0.
static UINT_PTR Target(UINT_PTR root, UINT_PTR entry, bool wantDirectory)
{
    const DWORD to = Read<DWORD>(entry + 4);
    return !(to & 0x80000000) == !wantDirectory ? root + (to & 0x7FFFFFFF) : 0;
}

// ntdll's find_entry_by_id: a binary search of the id entries.
static UINT_PTR ById(UINT_PTR root, UINT_PTR dir, WORD id)
{
    for (int min = Read<WORD>(dir + 12), max = min + Read<WORD>(dir + 14) - 1; min <= max;) {
        const int pos = (min + max) / 2;
        const WORD at = Read<WORD>(dir + 16 + 8 * UINT_PTR(pos));
        if (at == id) return Target(root, dir + 16 + 8 * UINT_PTR(pos), true);
        if (at > id) max = pos - 1;
        else min = pos + 1;
    }
    return 0;
}

// find_first_entry: the first data entry, as for the neutral language.
static UINT_PTR FirstEntry(UINT_PTR root, UINT_PTR dir)
{
    for (int pos = 0, n = Read<WORD>(dir + 12) + Read<WORD>(dir + 14); pos < n; ++pos)
        if (const UINT_PTR entry = Target(root, dir + 16 + 8 * UINT_PTR(pos), false)) return entry;
    return 0;
}

HINSTANCE SetExecutable(const std::string& path, const std::string& resFile)
{
    W().exe.reset(new HINSTANCE__);
    W().exe->path = path;
    W().exe->resources = ParseResFile(resFile);
    AddFile(path, ModuleFile(W().exe->resources));
    MapFile(*W().exe, FileData(path), MEM_IMAGE);
    return Executable();
}

HINSTANCE Executable() { return W().exe ? reinterpret_cast<HINSTANCE>(W().exe->map.base) : nullptr; }

// The string becomes empty, which LoadStringA answers as no string.
void RemoveExecutableString(UINT id)
{
    HINSTANCE__& exe = *W().exe;
    Resource* block = const_cast<Resource*>(FindResource(&exe, LOWORD(RT_STRING), WORD(id / 16 + 1)));
    if (!block) return;
    std::vector<BYTE>& d = block->data;
    size_t at = 0;
    for (UINT k = id % 16; k; --k) at += 2 + 2 * WordAt(d, at);
    d.erase(d.begin() + long(at + 2), d.begin() + long(at + 2 + 2 * WordAt(d, at)));
    d[at] = d[at + 1] = 0;
    MapFile(exe, ModuleFile(exe.resources), MEM_IMAGE);
}

int LoadedModuleCount()
{
    int n = 0;
    for (const auto& m : W().loaded) n += m->refs;
    return n;
}

// A module's handle is its base, with the low bit set when mapped as data.
HINSTANCE__* FindModule(HMODULE h)
{
    if (h && h == Executable()) return W().exe.get();
    const UINT_PTR v = reinterpret_cast<UINT_PTR>(h);
    for (const auto& m : W().loaded)
        if (UINT_PTR(m->map.base) == (v & ~UINT_PTR(3)) && m->dataFile == (v & 1)) return m.get();
    return FindByAddress(W().systemLoaded, h);
}

const Resource* FindResource(HINSTANCE__* m, WORD type, WORD name)
{
    for (const Resource& r : m->resources)
        if (r.type == type && r.name == name) return &r;
    return nullptr;
}

const Resource* FindExecutableResource(WORD type, WORD name) { return FindResource(W().exe.get(), type, name); }

std::string IconName(HICON icon) { return icon ? icon->name : std::string(); }

}  // namespace simwin

using namespace simwin;

// ntdll's find_entry (type, name, first language), whose faults
// LdrFindResource_U catches: the data entry's address, wherever it lies.
HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType)
{
    HINSTANCE__* m = FindModule(hModule);
    if (!m || !IS_INTRESOURCE(lpName) || !IS_INTRESOURCE(lpType)) return nullptr;
    try {
        const UINT_PTR root = ResourceRoot(UINT_PTR(m->map.base));
        const UINT_PTR names = root ? ById(root, root, LOWORD(lpType)) : 0;
        const UINT_PTR languages = names ? ById(root, names, LOWORD(lpName)) : 0;
        const UINT_PTR entry = languages ? FirstEntry(root, languages) : 0;
        if (!entry)
            SetLastError(!root ? ERROR_RESOURCE_DATA_NOT_FOUND : !names ? ERROR_RESOURCE_TYPE_NOT_FOUND
                         : !languages ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_LANG_NOT_FOUND);
        return reinterpret_cast<HRSRC>(entry);
    } catch (PageFault) {
        return Fail<HRSRC>(ERROR_NOACCESS);
    }
}

// ntdll's access_resource, its faults caught too: the entry's OffsetToData
// through the section table, as for a data file.
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo)
{
    HINSTANCE__* m = FindModule(hModule);
    if (!hResInfo || !m) return nullptr;
    try {
        const UINT_PTR base = UINT_PTR(m->map.base);
        if (!ResourceRoot(base)) return Fail<HGLOBAL>(ERROR_RESOURCE_DATA_NOT_FOUND);
        return reinterpret_cast<HGLOBAL>(RvaToVa(base, NtHeader(base), Read<DWORD>(UINT_PTR(hResInfo))));
    } catch (PageFault) {
        return Fail<HGLOBAL>(ERROR_NOACCESS);
    }
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

// kernelbase reads the entry's Size unprotected.
DWORD SizeofResource(HMODULE, HRSRC hResInfo)
{
    try {
        return hResInfo ? Read<DWORD>(UINT_PTR(hResInfo) + 4) : 0;
    } catch (PageFault) {
        Stop("access violation: SizeofResource reads a data entry outside every module");
    }
}

// user32 finds and loads the block, then walks it to the string trusting its
// lengths, unprotected.
int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    HINSTANCE__* m = FindModule(hInstance);
    Log("LoadStringA " + std::to_string(uID) + " " + (m ? m->path : std::string("?")));
    if (cchBufferMax <= 0) return 0;
    lpBuffer[0] = 0;
    HRSRC res = FindResourceA(hInstance, MAKEINTRESOURCEA(LOWORD(uID) / 16 + 1), RT_STRING);
    UINT_PTR p = res ? UINT_PTR(LoadResource(hInstance, res)) : 0;
    if (!p) return 0;
    // In the ANSI code page, as much as fits before the terminator: a
    // double-byte character that does not fit whole is left out.
    std::string text;
    try {
        for (UINT k = uID % 16; k; --k) p += 2 + 2 * UINT_PTR(Read<WORD>(p));
        for (WORD i = 0, len = Read<WORD>(p); i < len; ++i) {
            const std::string c = AnsiOf(Read<WORD>(p + 2 + 2 * UINT_PTR(i)));
            if (text.size() + c.size() > size_t(cchBufferMax - 1)) break;
            text += c;
        }
    } catch (PageFault) {
        Stop("access violation: LoadStringA " + std::to_string(uID) + " in " + m->path + " reads outside every module");
    }
    memcpy(lpBuffer, text.c_str(), text.size() + 1);
    return int(text.size());
}

// A module is one region of read-only pages; everything else is free memory.
SIZE_T VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength)
{
    if (dwLength < sizeof(MEMORY_BASIC_INFORMATION)) return 0;
    const UINT_PTR p = reinterpret_cast<UINT_PTR>(lpAddress), page = p & ~UINT_PTR(kPage - 1);
    if (const HINSTANCE__* m = ModuleAt(p)) {
        const SIZE_T size = UINT_PTR(m->map.base) + m->map.size - page;
        *lpBuffer = {LPVOID(page), m->map.base, PAGE_READONLY, size, MEM_COMMIT, PAGE_READONLY, m->map.type};
        return sizeof(MEMORY_BASIC_INFORMATION);
    }
    UINT_PTR next = 0;  // free up to the next module
    EachModule([&](const HINSTANCE__& m) {
        if (UINT_PTR(m.map.base) > p && (!next || UINT_PTR(m.map.base) < next)) next = UINT_PTR(m.map.base);
    });
    *lpBuffer = {LPVOID(page), nullptr, 0, next - page, MEM_FREE, PAGE_NOACCESS, 0};
    return sizeof(MEMORY_BASIC_INFORMATION);
}
