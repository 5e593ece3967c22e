// The loader (kernel32): language modules mapped as images or as data, the
// system folder's DLLs loaded by full path, what GetProcAddress finds in
// them, and the file names modules were loaded from.
#include "simwin/state.h"

#include <cstdio>
#include <cstring>

namespace simwin {

const char* const kSystemFolder = "C:\\WINDOWS\\system32";

void SetSystemDll(const std::string& name, const std::vector<std::string>& exports)
{
    W().systemDlls[Lower(name)] = std::set<std::string>(exports.begin(), exports.end());
}

void RemoveSystemDll(const std::string& name) { W().systemDlls.erase(Lower(name)); }

static std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A system DLL already mapped, by lower-case file name.
static HINSTANCE__* MappedSystemDll(const std::string& lowerName)
{
    for (const auto& m : W().systemLoaded)
        if (Lower(FileNameOf(m->path)) == lowerName) return m.get();
    return nullptr;
}

static HMODULE MapSystemDll(const std::string& lowerName)
{
    if (HINSTANCE__* m = MappedSystemDll(lowerName)) {
        ++m->refs;
        return m;
    }
    auto dll = W().systemDlls.find(lowerName);
    if (dll == W().systemDlls.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::unique_ptr<HINSTANCE__> m(new HINSTANCE__);
    m->path = std::string(kSystemFolder) + "\\" + lowerName;
    m->refs = 1;
    m->exports = dll->second;
    W().systemLoaded.push_back(std::move(m));
    return W().systemLoaded.back().get();
}

// A language module: as an image its DllMain runs on the first load; as data
// it is a mapping of its own, handed out with the low bit set.
static HMODULE MapModule(const std::string& path, bool dataFile)
{
    if (path.size() >= MAX_PATH) {  // beyond MAX_PATH the loader gives up
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const std::string key = Lower(path);
    const UINT_PTR tag = dataFile ? 1 : 0;
    for (const auto& m : W().loaded) {
        if (Lower(m->path) == key && m->dataFile == dataFile) {
            ++m->refs;
            return reinterpret_cast<HMODULE>(reinterpret_cast<UINT_PTR>(m.get()) | tag);
        }
    }
    auto blocks = W().moduleBlocks.find(key);
    if (blocks != W().moduleBlocks.end() && FileExists(path)) {
        std::unique_ptr<HINSTANCE__> m(new HINSTANCE__);
        m->path = path;
        m->refs = 1;
        m->dataFile = dataFile;
        m->resources = blocks->second;
        W().loaded.push_back(std::move(m));
        if (!dataFile) Log("DllMain " + path);
        return reinterpret_cast<HMODULE>(reinterpret_cast<UINT_PTR>(W().loaded.back().get()) | tag);
    }
    if (FolderExists(path))
        SetLastError(ERROR_ACCESS_DENIED);
    else if (FileExists(path))
        SetLastError(ERROR_BAD_EXE_FORMAT);
    else
        SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

static BOOL WINAPI SimSetDefaultDllDirectories(DWORD directoryFlags)
{
    char flags[16];
    snprintf(flags, sizeof flags, "0x%X", unsigned(directoryFlags));
    Log(std::string("SetDefaultDllDirectories ") + flags);
    return TRUE;
}

static BOOL WINAPI SimSetDllDirectoryA(LPCSTR lpPathName)
{
    Log(std::string("SetDllDirectoryA \"") + (lpPathName ? lpPathName : "(null)") + "\"");
    return TRUE;
}

}  // namespace simwin

using namespace simwin;

HMODULE LoadLibraryA(LPCSTR lpLibFileName)
{
    return MapModule(Logged("LoadLibraryA", lpLibFileName), false);
}

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE, DWORD dwFlags)
{
    const std::string path = lpLibFileName ? lpLibFileName : "";
    char flags[16];
    snprintf(flags, sizeof flags, "0x%X", unsigned(dwFlags));
    Log("LoadLibraryExA " + path + " " + flags);
    if (dwFlags & LOAD_LIBRARY_AS_DATAFILE) return MapModule(path, true);
    const std::string lower = Lower(path);
    if (ParentOf(lower) == Lower(kSystemFolder)) return MapSystemDll(FileNameOf(lower));
    return MapModule(path, false);
}

BOOL FreeLibrary(HMODULE hLibModule)
{
    HINSTANCE__* m = FindModule(hLibModule);
    for (auto* list : {&W().loaded, &W().systemLoaded}) {
        auto it = ByAddress(*list, m);
        if (it == list->end()) continue;
        Log("FreeLibrary " + m->path);
        if (--m->refs == 0) list->erase(it);
        return TRUE;
    }
    return Fail(ERROR_INVALID_HANDLE);
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName)
{
    if (!lpModuleName) return W().exe.get();
    std::string name = Lower(lpModuleName);
    if (name.find('.') == std::string::npos) name += ".dll";
    // kernel32 is in every process from its start.
    if (name == "kernel32.dll") {
        HMODULE h = MapSystemDll(name);
        if (h && h->refs > 1) --h->refs;
        return h;
    }
    if (HINSTANCE__* m = MappedSystemDll(name)) return m;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    static const struct {
        const char* name;
        FARPROC proc;
    } s_procs[] = {
        {"SetDefaultDllDirectories", reinterpret_cast<FARPROC>(&SimSetDefaultDllDirectories)},
        {"SetDllDirectoryA", reinterpret_cast<FARPROC>(&SimSetDllDirectoryA)},
        {"SetupCopyOEMInfA", reinterpret_cast<FARPROC>(&SetupCopyOEMInfA)},
    };
    HINSTANCE__* m = FindModule(hModule);
    if (m && !IS_INTRESOURCE(lpProcName) && m->exports.count(lpProcName)) {
        for (const auto& p : s_procs)
            if (strcmp(p.name, lpProcName) == 0) return p.proc;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    const size_t len = strlen(kSystemFolder);
    if (uSize <= len) return UINT(len + 1);
    memcpy(lpBuffer, kSystemFolder, len + 1);
    return UINT(len);
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    HINSTANCE__* m = hModule ? FindModule(hModule) : W().exe.get();
    if (!m) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    Log("GetModuleFileNameA " + std::to_string(nSize));
    const std::string& path = m->path;
    if (path.size() < nSize) {
        memcpy(lpFilename, path.c_str(), path.size() + 1);
        return DWORD(path.size());
    }
    // As on Windows XP: a cut copy with no terminator, and the full size.
    memcpy(lpFilename, path.data(), nSize);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}
