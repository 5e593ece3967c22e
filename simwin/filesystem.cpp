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

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

unsigned NewObjectId()
{
    static unsigned last = 0;
    return ++last;
}

FileEntry* FindObject(unsigned id, std::string* lowerPath)
{
    for (auto& f : W().files) {
        if (f.second.id != id) continue;
        if (lowerPath) *lowerPath = f.first;
        return &f.second;
    }
    return nullptr;
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
// Moves a name and everything under it; the entries, and so the handles
// open on them, stay the same objects.
static void Move(const std::string& lowerFrom, const std::string& to)
{
    const std::string under = lowerFrom + "\\";
    std::vector<std::string> names;
    for (const auto& f : W().files)
        if (f.first == lowerFrom || f.first.compare(0, under.size(), under) == 0) names.push_back(f.first);
    for (const std::string& name : names) {
        auto node = W().files.extract(name);
        node.key() = Lower(to) + name.substr(lowerFrom.size());
        W().spelling[node.key()] = to + W().spelling[name].substr(lowerFrom.size());
        W().spelling.erase(name);
        W().files.insert(std::move(node));
    }
}
void FailOpen(const std::string& path, DWORD error) { W().install.failOpen[Lower(path)] = error; }
void ReadInPieces(const std::string& path, size_t bytes) { W().install.readPieces[Lower(path)] = bytes; }
void SwapForJunction(const std::string& folder, const std::string& aside)
{
    W().install.swapForJunction[Lower(folder)] = aside;
}
void OpenElsewhereWhenClosed(const std::string& path, DWORD access, DWORD share)
{
    W().install.openWhenClosed[Lower(path)] = {access, share};
}
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

// A user moves the folder away and plants a junction under its name, right
// after the program opened it. Windows would refuse the
// move while a handle that does not share deleting is open; this one does
// not, so a test can show that the security follows the handle.
static void SwapIfAsked(const std::string& lowerPath)
{
    auto swap = W().install.swapForJunction.find(lowerPath);
    if (swap == W().install.swapForJunction.end()) return;
    const std::string aside = swap->second;
    W().install.swapForJunction.erase(swap);
    const std::string spelled = W().spelling[lowerPath];
    Move(lowerPath, aside);
    W().files[lowerPath].folder = true;
    W().files[lowerPath].reparsePoint = true;
    W().spelling[lowerPath] = spelled;
}

static DWORD AttributesOf(const FileEntry& e)
{
    const DWORD reparse = e.reparsePoint ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
    if (e.folder) return FILE_ATTRIBUTE_DIRECTORY | reparse;
    return FILE_ATTRIBUTE_ARCHIVE | (e.readOnly ? FILE_ATTRIBUTE_READONLY : 0) | reparse;
}

static DWORD Attributes(const std::string& path, const std::string& p)
{
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
    return AttributesOf(*e);
}

DWORD GetFileAttributesA(LPCSTR lpFileName)
{
    std::string path = lpFileName ? lpFileName : "";
    Log("GetFileAttributesA " + path);
    std::string p = Lower(path);
    return Attributes(path, p);
}

// The share modes that an access needs of every other handle, and makes
// every later open grant: Windows weighs them only between opens that
// read, write or delete data.
static DWORD SharingNeeded(DWORD access)
{
    DWORD needed = 0;
    if (access & (GENERIC_READ | FILE_READ_DATA | FILE_EXECUTE)) needed |= FILE_SHARE_READ;
    if (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) needed |= FILE_SHARE_WRITE;
    if (access & DELETE) needed |= FILE_SHARE_DELETE;
    return needed;
}

static bool SharingAllows(unsigned object, DWORD access, DWORD share)
{
    const DWORD needed = SharingNeeded(access);
    if (!needed) return true;
    for (const auto* list : {&W().install.handles, &W().install.elsewhere}) {
        for (const OpenFileRecord& r : *list) {
            const DWORD held = SharingNeeded(r.access);
            if (r.object == object && held && ((needed & ~r.share) || (held & ~share))) return false;
        }
    }
    return true;
}

// Only existing files and folders are opened; folders only with backup
// semantics. A reparse point is opened as itself.
static DWORD Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags, OpenFileRecord* opened)
{
    const std::string p = Lower(path);
    if (disposition != OPEN_EXISTING) return kErrorInvalidParameter;
    if (path.size() >= kMaxPath) return ERROR_FILENAME_EXCED_RANGE;
    if (DWORD error = Injected(W().install.failOpen, p)) return error;
    const FileEntry* e = Find(p);
    if (!e) return MissingError(p);
    if (e->folder && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) return ERROR_ACCESS_DENIED;
    if (!SharingAllows(e->id, access, share)) return ERROR_SHARING_VIOLATION;
    *opened = {path, e->data, 0, 0, e->id, access, share};
    if (W().install.readPieces.count(p)) opened->piece = W().install.readPieces[p];
    return 0;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE)
{
    std::string path = lpFileName ? lpFileName : "";
    Log("CreateFileA " + path);
    OpenFileRecord opened;
    if (DWORD error = Open(path, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                           dwFlagsAndAttributes, &opened)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    W().install.handles.push_back(opened);
    SwapIfAsked(Lower(path));
    return &W().install.handles.back();
}

OpenFileRecord* simwin::FindFileHandle(HANDLE h)
{
    for (OpenFileRecord& r : W().install.handles)
        if (&r == h) return &r;
    return nullptr;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED)
{
    OpenFileRecord* r = FindFileHandle(hFile);
    if (!r) return Fail(ERROR_INVALID_HANDLE);
    size_t n = std::min<size_t>(nNumberOfBytesToRead, r->data.size() - r->at);
    if (r->piece) n = std::min(n, r->piece);
    if (n) memcpy(lpBuffer, r->data.data() + r->at, n);
    r->at += n;
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = DWORD(n);
    return TRUE;
}

// Only what the program reads: attributes, size and the number of names,
// of the object opened, whatever its name is now.
BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation)
{
    OpenFileRecord* r = FindFileHandle(hFile);
    if (!r) return Fail(ERROR_INVALID_HANDLE);
    const FileEntry* e = FindObject(r->object);
    if (!e) return Fail(ERROR_FILE_NOT_FOUND);
    memset(lpFileInformation, 0, sizeof(*lpFileInformation));
    lpFileInformation->dwFileAttributes = AttributesOf(*e);
    lpFileInformation->nFileSizeLow = DWORD(r->data.size());
    lpFileInformation->nNumberOfLinks = e->links;
    return TRUE;
}

// The program's last handle on an object closed: a user waiting for that
// opens it, unless sharing or a DACL that the program set keeps them out.
static void OpenLater(unsigned object)
{
    std::string p;
    const FileEntry* e = FindObject(object, &p);
    auto later = W().install.openWhenClosed.find(p);
    if (!e || later == W().install.openWhenClosed.end()) return;
    for (const OpenFileRecord& r : W().install.handles)
        if (r.object == object) return;
    const LaterOpen wants = later->second;
    W().install.openWhenClosed.erase(later);
    if (e->security.count('D')) return;
    OpenFileRecord opened;
    if (!Open(W().spelling[p], wants.access, wants.share, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
              &opened))
        W().install.elsewhere.push_back(opened);
}

BOOL CloseHandle(HANDLE hObject)
{
    for (auto it = W().install.handles.begin(); it != W().install.handles.end(); ++it) {
        if (&*it != hObject) continue;
        const unsigned object = it->object;
        W().install.handles.erase(it);
        OpenLater(object);
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

namespace simwin {

bool HoldElsewhere(const std::string& path, DWORD access, DWORD share)
{
    OpenFileRecord opened;
    if (Open(path, access, share, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, &opened)) return false;
    W().install.elsewhere.push_back(opened);
    return true;
}

size_t HandlesElsewhere(const std::string& path)
{
    const FileEntry* e = Find(Lower(path));
    size_t n = 0;
    for (const OpenFileRecord& r : W().install.elsewhere) n += e && r.object == e->id;
    return n;
}

}  // namespace simwin

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
