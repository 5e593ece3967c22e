// The loader (kernel32): language modules mapped as images or as data, the
// system folder's DLLs loaded by full path, what GetProcAddress finds in
// them, and the file names modules were loaded from.
#include "simwin/state.h"

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
    HINSTANCE__* m = MappedSystemDll(lowerName);
    auto dll = W().systemDlls.find(lowerName);
    if (!m && dll == W().systemDlls.end()) return Fail<HMODULE>(ERROR_MOD_NOT_FOUND);
    if (!m) {
        W().systemLoaded.emplace_back(new HINSTANCE__);
        m = W().systemLoaded.back().get();
        m->path = std::string(kSystemFolder) + "\\" + lowerName;
        m->exports = dll->second;
    }
    ++m->refs;
    return m;
}

// A language module's file mapped: as an image its DllMain runs on the first
// load; as data it is a mapping of its own, handed out with the low bit set.
static HMODULE MapModule(const std::string& path, bool dataFile)
{
    if (path.size() >= MAX_PATH) return Fail<HMODULE>(ERROR_FILENAME_EXCED_RANGE);  // the loader gives up
    const std::string key = Lower(path);
    HINSTANCE__* module = nullptr;
    for (const auto& m : W().loaded)
        if (Lower(m->path) == key && m->dataFile == dataFile) module = m.get();
    if (!module && FileExists(path)) {
        W().loaded.emplace_back(new HINSTANCE__);
        module = W().loaded.back().get();
        module->path = path;
        module->dataFile = dataFile;
        if (!MapFile(*module, FileData(path), dataFile ? MEM_MAPPED : MEM_IMAGE)) {
            W().loaded.pop_back();
            return Fail<HMODULE>(ERROR_BAD_EXE_FORMAT);
        }
        if (!dataFile) Log("DllMain " + path);
    }
    if (!module) return Fail<HMODULE>(FolderExists(path) ? ERROR_ACCESS_DENIED : ERROR_MOD_NOT_FOUND);
    ++module->refs;
    return reinterpret_cast<HMODULE>(reinterpret_cast<UINT_PTR>(module->map.base) | (dataFile ? 1 : 0));
}

static BOOL WINAPI SimSetDefaultDllDirectories(DWORD directoryFlags)
{
    Log("SetDefaultDllDirectories " + Hex(directoryFlags));
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
    Log("LoadLibraryExA " + path + " " + Hex(dwFlags));
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
    if (!lpModuleName) return Executable();
    std::string name = Lower(lpModuleName);
    if (name.find('.') == std::string::npos) name += ".dll";
    // kernel32 is in every process from its start.
    if (name == "kernel32.dll") {
        HMODULE h = MapSystemDll(name);
        if (h && h->refs > 1) --h->refs;
        return h;
    }
    if (HINSTANCE__* m = MappedSystemDll(name)) return m;
    return Fail<HMODULE>(ERROR_MOD_NOT_FOUND);
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
    return Fail<FARPROC>(ERROR_PROC_NOT_FOUND);
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
    if (!m) return Fail<DWORD>(ERROR_MOD_NOT_FOUND);
    Log("GetModuleFileNameA " + std::to_string(nSize));
    const std::string& path = m->path;
    if (path.size() < nSize) {
        memcpy(lpFilename, path.c_str(), path.size() + 1);
        return DWORD(path.size());
    }
    // As on Windows Vista and later: cut to nSize - 1 characters and
    // terminated, the full size answered (XP left it unterminated).
    if (nSize) {
        memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = 0;
    }
    return Fail(ERROR_INSUFFICIENT_BUFFER, nSize);
}
