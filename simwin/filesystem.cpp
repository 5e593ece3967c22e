// Folders made and files copied and read back by the program, with the
// answers Windows gives: ANSI paths end at MAX_PATH, a parent must exist,
// an existing name is never replaced where the caller said so.
#include "simwin/state.h"

#include <algorithm>
#include <cstring>

namespace simwin {

static const DWORD kErrorInvalidParameter = 87;

static const FileEntry* Find(const std::string& lowerPath)
{
    auto it = W().files.find(lowerPath);
    return it == W().files.end() ? nullptr : &it->second;
}

static bool IsFolder(const std::string& lowerPath)
{
    if (IsDriveRoot(lowerPath)) return true;
    const FileEntry* e = Find(lowerPath);
    return e && e->folder;
}

// What a missing name answers: the file, or the folder it should be in.
static DWORD MissingError(const std::string& lowerPath)
{
    return IsFolder(ParentOf(lowerPath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

static DWORD Injected(const std::map<std::string, DWORD>& failures, const std::string& lowerPath)
{
    auto it = failures.find(lowerPath);
    return it == failures.end() ? 0 : it->second;
}

static BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

std::vector<BYTE> FileData(const std::string& path)
{
    const FileEntry* e = Find(Lower(path));
    return e && !e->folder ? e->data : std::vector<BYTE>();
}

size_t OpenFileHandles() { return W().install.handles.size() + W().install.mutexHandles.size(); }

void FailCopyTo(const std::string& target, DWORD error) { W().install.failCopyTo[Lower(target)] = {error}; }
void FailCopyTo(const std::string& target, DWORD error, size_t written)
{
    W().install.failCopyTo[Lower(target)] = {error, written};
}
void FailDelete(const std::string& path, DWORD error) { W().install.failDelete[Lower(path)] = error; }
void SetReadOnly(const std::string& path)
{
    auto it = W().files.find(Lower(path));
    if (it != W().files.end()) it->second.readOnly = true;
}
void VanishAfterCopy(const std::string& target, const std::string& path)
{
    W().install.vanishAfterCopy[Lower(target)] = Lower(path);
}

void ClearInjectedFailures()
{
    InstallWorld& w = W().install;
    w.failCopyTo.clear();
    w.failOpen.clear();
    w.failAttributes.clear();
    w.failDelete.clear();
    w.vanishAfterCopy.clear();
}

// Removes a name and everything under it.
static void Remove(const std::string& lowerPath)
{
    const std::string under = lowerPath + "\\";
    for (auto it = W().files.begin(); it != W().files.end();) {
        if (it->first == lowerPath || it->first.compare(0, under.size(), under) == 0) {
            W().spelling.erase(it->first);
            it = W().files.erase(it);
        } else {
            ++it;
        }
    }
}
void FailOpen(const std::string& path, DWORD error) { W().install.failOpen[Lower(path)] = error; }
void FailAttributes(const std::string& path, DWORD error)
{
    W().install.failAttributes[Lower(path)] = error;
}

}  // namespace simwin

using namespace simwin;

// The ANSI entry points convert paths through a MAX_PATH buffer; folders
// also keep room for an 8.3 name inside them.
static const size_t kMaxPath = 260;
static const size_t kMaxFolderPath = 248;

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES)
{
    std::string path = lpPathName ? lpPathName : "";
    Log("CreateDirectoryA " + path);
    if (path.size() >= kMaxFolderPath) return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::string p = Lower(path);
    if (IsDriveRoot(p) || Find(p)) return Fail(ERROR_ALREADY_EXISTS);
    if (!IsFolder(ParentOf(p))) return Fail(ERROR_PATH_NOT_FOUND);
    W().files[p].folder = true;
    W().spelling[p] = path;
    return TRUE;
}

static BOOL Copy(const std::string& source, const std::string& target, BOOL bFailIfExists)
{
    if (source.size() >= kMaxPath || target.size() >= kMaxPath)
        return Fail(ERROR_FILENAME_EXCED_RANGE);

    // The source is opened first, then the target is created.
    std::string s = Lower(source), t = Lower(target);
    if (DWORD e = Injected(W().install.failOpen, s)) return Fail(e);
    const FileEntry* src = Find(s);
    if (!src) return Fail(MissingError(s));
    if (src->folder) return Fail(ERROR_ACCESS_DENIED);

    if (!IsFolder(ParentOf(t))) return Fail(ERROR_PATH_NOT_FOUND);
    if (const FileEntry* dst = Find(t)) {
        // A folder answers like a file to a create-new (Wine, Windows).
        if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
        if (dst->folder || dst->readOnly) return Fail(ERROR_ACCESS_DENIED);
    }
    FileEntry copy;
    copy.data = src->data;
    copy.readOnly = src->readOnly;  // a copy keeps its source's attributes
    auto failure = W().install.failCopyTo.find(t);
    if (failure != W().install.failCopyTo.end()) {
        if (failure->second.written == std::string::npos) return Fail(failure->second.error);
        copy.data.resize(std::min(copy.data.size(), failure->second.written));
    }
    W().files[t] = copy;
    W().spelling[t] = target;
    return failure == W().install.failCopyTo.end() ? TRUE : Fail(failure->second.error);
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    std::string source = lpExistingFileName ? lpExistingFileName : "";
    std::string target = lpNewFileName ? lpNewFileName : "";
    Log("CopyFileA " + source + " -> " + target + (bFailIfExists ? " fail-if-exists" : ""));
    const BOOL ok = Copy(source, target, bFailIfExists);
    const DWORD error = GetLastError();
    auto vanish = W().install.vanishAfterCopy.find(Lower(target));
    if (vanish != W().install.vanishAfterCopy.end()) Remove(vanish->second);
    SetLastError(error);
    return ok;
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    std::string path = lpFileName ? lpFileName : "";
    Log("DeleteFileA " + path);
    std::string p = Lower(path);
    if (path.size() >= kMaxPath) return Fail(ERROR_FILENAME_EXCED_RANGE);
    if (DWORD e = Injected(W().install.failDelete, p)) return Fail(e);
    const FileEntry* e = Find(p);
    if (!e) return Fail(MissingError(p));
    if (e->folder || e->readOnly) return Fail(ERROR_ACCESS_DENIED);
    W().files.erase(p);
    W().spelling.erase(p);
    return TRUE;
}

// Only the read-only attribute is kept; folders keep theirs.
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes)
{
    std::string path = lpFileName ? lpFileName : "";
    Log("SetFileAttributesA " + path);
    std::string p = Lower(path);
    if (path.size() >= kMaxPath) return Fail(ERROR_FILENAME_EXCED_RANGE);
    auto it = W().files.find(p);
    if (it == W().files.end()) return Fail(MissingError(p));
    if (!it->second.folder) it->second.readOnly = (dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName)
{
    std::string path = lpFileName ? lpFileName : "";
    Log("GetFileAttributesA " + path);
    std::string p = Lower(path);
    if (DWORD e = Injected(W().install.failAttributes, p)) {
        SetLastError(e);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (path.size() >= kMaxPath) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (IsDriveRoot(p)) return FILE_ATTRIBUTE_DIRECTORY;
    const FileEntry* e = Find(p);
    if (!e) {
        SetLastError(MissingError(p));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (e->folder)
        return FILE_ATTRIBUTE_DIRECTORY | (e->reparsePoint ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    return FILE_ATTRIBUTE_ARCHIVE | (e->readOnly ? FILE_ATTRIBUTE_READONLY : 0) |
           (e->reparsePoint ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
}

// Only what the program uses: an existing file opened to read it.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE)
{
    std::string path = lpFileName ? lpFileName : "";
    Log("CreateFileA " + path);
    std::string p = Lower(path);
    DWORD error = 0;
    const FileEntry* e = nullptr;
    if (dwDesiredAccess != GENERIC_READ || dwCreationDisposition != OPEN_EXISTING)
        error = kErrorInvalidParameter;
    else if (path.size() >= kMaxPath)
        error = ERROR_FILENAME_EXCED_RANGE;
    else if ((error = Injected(W().install.failOpen, p)) != 0)
        ;
    else if (!(e = Find(p)))
        error = MissingError(p);
    else if (e->folder)
        error = ERROR_ACCESS_DENIED;  // folders open only with backup semantics
    if (error) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    W().install.handles.push_back({path, e->data, 0});
    return &W().install.handles.back();
}

static OpenFileRecord* FindHandle(HANDLE h)
{
    for (OpenFileRecord& r : W().install.handles)
        if (&r == h) return &r;
    return nullptr;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED)
{
    OpenFileRecord* r = FindHandle(hFile);
    if (!r) return Fail(ERROR_INVALID_HANDLE);
    size_t n = std::min<size_t>(nNumberOfBytesToRead, r->data.size() - r->at);
    if (n) memcpy(lpBuffer, r->data.data() + r->at, n);
    r->at += n;
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = DWORD(n);
    return TRUE;
}

// Only what the program reads: attributes, size and the number of names.
BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation)
{
    OpenFileRecord* r = FindHandle(hFile);
    if (!r) return Fail(ERROR_INVALID_HANDLE);
    const FileEntry* e = Find(Lower(r->path));
    if (!e) return Fail(ERROR_FILE_NOT_FOUND);
    memset(lpFileInformation, 0, sizeof(*lpFileInformation));
    lpFileInformation->dwFileAttributes = GetFileAttributesA(r->path.c_str());
    lpFileInformation->nFileSizeLow = DWORD(r->data.size());
    lpFileInformation->nNumberOfLinks = e->links;
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject)
{
    for (auto it = W().install.handles.begin(); it != W().install.handles.end(); ++it) {
        if (&*it != hObject) continue;
        W().install.handles.erase(it);
        return TRUE;
    }
    for (auto it = W().install.mutexHandles.begin(); it != W().install.mutexHandles.end(); ++it) {
        if (&*it != hObject) continue;
        Log("CloseHandle " + it->name);
        W().install.mutexHandles.erase(it);
        return TRUE;
    }
    return Fail(ERROR_INVALID_HANDLE);
}

// ---------------------------------------------------------------------------
// Named mutexes. This process is the only one simulated: another's hold is
// what a test injected. Closing a handle does not let go of a mutex.

namespace simwin {

void MutexHeldElsewhere(const std::string& name)
{
    W().install.mutexes[name].elsewhere = MutexState::kHeldElsewhere;
}

void MutexAbandonedElsewhere(const std::string& name)
{
    W().install.mutexes[name].elsewhere = MutexState::kAbandoned;
}

bool MutexOwnedHere(const std::string& name)
{
    auto it = W().install.mutexes.find(name);
    return it != W().install.mutexes.end() && it->second.ownedHere > 0;
}

}  // namespace simwin

static MutexHandle* FindMutex(HANDLE h)
{
    for (MutexHandle& m : W().install.mutexHandles)
        if (&m == h) return &m;
    return nullptr;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName)
{
    std::string name = lpName ? lpName : "";
    Log("CreateMutexA " + name + (bInitialOwner ? " owned" : ""));
    const bool existed = W().install.mutexes.count(name) != 0;
    MutexState& m = W().install.mutexes[name];
    if (bInitialOwner && m.elsewhere == MutexState::kFree) ++m.ownedHere;
    W().install.mutexHandles.push_back({name});
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return &W().install.mutexHandles.back();
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    MutexHandle* h = FindMutex(hHandle);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return DWORD(-1);  // WAIT_FAILED
    }
    Log("WaitForSingleObject " + h->name + " " +
        (dwMilliseconds == INFINITE ? std::string("INFINITE") : std::to_string(dwMilliseconds)));
    MutexState& m = W().install.mutexes[h->name];
    switch (m.elsewhere) {
    case MutexState::kHeldElsewhere:
        return WAIT_TIMEOUT;  // even for INFINITE: the test would hang
    case MutexState::kAbandoned:
        m.elsewhere = MutexState::kFree;
        ++m.ownedHere;
        return WAIT_ABANDONED;
    default:
        ++m.ownedHere;
        return WAIT_OBJECT_0;
    }
}

BOOL ReleaseMutex(HANDLE hMutex)
{
    MutexHandle* h = FindMutex(hMutex);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    Log("ReleaseMutex " + h->name);
    MutexState& m = W().install.mutexes[h->name];
    if (m.ownedHere == 0) return Fail(ERROR_NOT_OWNER);
    --m.ownedHere;
    return TRUE;
}
