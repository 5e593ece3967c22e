// kernel32's files and folders: the tree itself, case-insensitive like NTFS
// with drive roots always there; folders made, files copied, opened, read
// back and deleted by the program, with the answers Windows gives: ANSI
// paths end at MAX_PATH, a parent must exist, an existing name is never
// replaced where the caller said so. Volumes say whether they keep ACLs.
#include "simwin/state.h"

#include <cstring>

namespace simwin {

FileEntry* FindPath(const std::string& lowerPath)
{
    auto it = W().files.find(lowerPath);
    return it == W().files.end() ? nullptr : &it->second;
}

// What is at a path as a test names it.
static FileEntry* Entry(const std::string& path) { return FindPath(Lower(path)); }

static bool IsDriveRoot(const std::string& lowerPath) { return lowerPath.size() == 2 && lowerPath[1] == ':'; }

static bool IsFolder(const std::string& lowerPath)
{
    const FileEntry* e = FindPath(lowerPath);
    return IsDriveRoot(lowerPath) || (e && e->folder);
}

// What a missing name answers: the file, or the folder it should be in.
static DWORD MissingError(const std::string& lowerPath)
{
    return IsFolder(ParentOf(lowerPath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

std::string ParentOf(const std::string& lowerPath)
{
    size_t cut = lowerPath.find_last_of('\\');
    return cut == std::string::npos ? std::string() : lowerPath.substr(0, cut);
}

bool FolderExists(const std::string& path) { return IsFolder(Lower(path)); }

bool FileExists(const std::string& path)
{
    const FileEntry* e = Entry(path);
    return e && !e->folder;
}

// The entry placed at the path, a new object.
static FileEntry& Put(const std::string& path, FileEntry entry = {})
{
    const std::string p = Lower(path), parent = ParentOf(p);
    // Tests lay out whole trees in one call.
    if (!parent.empty() && !IsDriveRoot(parent) && !FindPath(parent))
        AddFolder(path.substr(0, parent.size()));
    entry.name = path;
    return W().files[p] = std::move(entry);
}

void AddFolder(const std::string& path) { Put(path).folder = true; }
void AddFile(const std::string& path, const std::vector<BYTE>& data) { Put(path).data = data; }

std::vector<std::string> ListPaths()
{
    std::vector<std::string> paths;
    for (const auto& f : W().files) paths.push_back(f.second.name);
    return paths;
}

void SetVolumeKeepsAcls(bool keeps) { W().volumeKeepsAcls = keeps; }
void FailVolumeInformation(DWORD error) { W().failVolume = error; }

void MakeReparsePoint(const std::string& path) { if (FileEntry* e = Entry(path)) e->reparsePoint = true; }
void SetLinkCount(const std::string& path, DWORD links) { if (FileEntry* e = Entry(path)) e->links = links; }

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
    const FileEntry* e = Entry(path);
    return e && !e->folder ? e->data : std::vector<BYTE>();
}

size_t OpenFileHandles() { return W().handles.size() + W().mutexHandles.size(); }

void FailCopyTo(const std::string& target, DWORD error, size_t written)
{
    W().failCopyTo[Lower(target)] = {error, written};
}
void FailDelete(const std::string& path, DWORD error) { W().failDelete[Lower(path)] = error; }
void SetReadOnly(const std::string& path) { if (FileEntry* e = Entry(path)) e->readOnly = true; }
void VanishAfterCopy(const std::string& target, const std::string& path)
{
    W().vanishAfterCopy[Lower(target)] = Lower(path);
}

void ClearInjectedFailures()
{
    W().failCopyTo.clear();
    W().failOpen.clear();
    W().failAttributes.clear();
    W().failDelete.clear();
    W().vanishAfterCopy.clear();
}

static bool IsAtOrUnder(const std::string& name, const std::string& lowerPath)
{
    return name.compare(0, lowerPath.size(), lowerPath) == 0 &&
           (name.size() == lowerPath.size() || name[lowerPath.size()] == '\\');
}

// Removes a name and everything under it.
static void Remove(const std::string& lowerPath)
{
    for (auto it = W().files.begin(); it != W().files.end();)
        it = IsAtOrUnder(it->first, lowerPath) ? W().files.erase(it) : std::next(it);
}
// Moves a name and everything under it; the entries, and so the handles
// open on them, stay the same objects.
static void Move(const std::string& lowerFrom, const std::string& to)
{
    std::vector<std::string> names;
    for (const auto& f : W().files)
        if (IsAtOrUnder(f.first, lowerFrom)) names.push_back(f.first);
    for (const std::string& name : names) {
        auto node = W().files.extract(name);
        node.key() = Lower(to) + name.substr(lowerFrom.size());
        node.mapped().name = to + node.mapped().name.substr(lowerFrom.size());
        W().files.insert(std::move(node));
    }
}
void FailOpen(const std::string& path, DWORD error) { W().failOpen[Lower(path)] = error; }
void ReadInPieces(const std::string& path, size_t bytes) { W().readPieces[Lower(path)] = bytes; }
void MakeJunction(const std::string& path, const std::string& target)
{
    Remove(Lower(path));
    FileEntry& junction = Put(path);
    junction.folder = junction.reparsePoint = true;
    junction.target = target;
}
void SwapForJunction(const std::string& folder, const std::string& aside)
{
    W().swapForJunction[Lower(folder)] = aside;
}
void SwapForJunctionAfterLook(const std::string& path, const std::string& aside)
{
    W().swapAfterLook[Lower(path)] = aside;
}
void OpenElsewhereWhenClosed(const std::string& path, DWORD access, DWORD share)
{
    W().openWhenClosed[Lower(path)] = {access, share};
}
void FailAttributes(const std::string& path, DWORD error) { W().failAttributes[Lower(path)] = error; }

// Where a path leads: through each junction on the way, and through its
// last name too when the caller follows it. Each turn starts again from the
// drive, as the target may hold junctions of its own; a loop gives up.
static std::string Resolve(const std::string& path, bool followLast, int turns = 0)
{
    for (size_t cut = path.find('\\');; cut = path.find('\\', cut + 1)) {
        const bool last = cut == std::string::npos;
        if (last && !followLast) return path;
        const FileEntry* e = FindPath(Lower(path.substr(0, cut)));
        if (e && e->reparsePoint && !e->target.empty() && turns < 32)
            return Resolve(e->target + (last ? "" : path.substr(cut)), followLast, turns + 1);
        if (last) return path;
    }
}

}  // namespace simwin

using namespace simwin;

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
    for (const auto* list : {&W().handles, &W().elsewhere})
        for (const OpenFileRecord& r : *list) {
            const DWORD held = SharingNeeded(r.access);
            if (r.object == object && held && ((needed & ~r.share) || (held & ~share))) return false;
        }
    return true;
}

// The ANSI entry points convert paths through a MAX_PATH buffer; folders
// also keep room for an 8.3 name inside them.
static const size_t kMaxPath = 260;
static const size_t kMaxFolderPath = 248;

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES)
{
    const std::string named = Logged("CreateDirectoryA", lpPathName);
    if (named.size() >= kMaxFolderPath) return Fail(ERROR_FILENAME_EXCED_RANGE);
    const std::string path = Resolve(named, false), p = Lower(path);
    if (IsDriveRoot(p) || FindPath(p)) return Fail(ERROR_ALREADY_EXISTS);
    if (!IsFolder(ParentOf(p))) return Fail(ERROR_PATH_NOT_FOUND);
    AddFolder(path);
    return TRUE;
}

static BOOL Copy(const std::string& source, const std::string& target, BOOL bFailIfExists)
{
    if (source.size() >= kMaxPath || target.size() >= kMaxPath)
        return Fail(ERROR_FILENAME_EXCED_RANGE);

    // The source is opened first, then the target is created.
    const std::string to = Resolve(target, false), s = Lower(Resolve(source, true)), t = Lower(to);
    if (DWORD e = Injected(W().failOpen, Lower(source))) return Fail(e);
    const FileEntry* src = FindPath(s);
    if (!src) return Fail(MissingError(s));
    if (src->folder) return Fail(ERROR_ACCESS_DENIED);
    // Read as CopyFile opens it: a holder that shares no reading, or writes, keeps it out.
    if (!SharingAllows(src->id, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE))
        return Fail(ERROR_SHARING_VIOLATION);

    if (!IsFolder(ParentOf(t))) return Fail(ERROR_PATH_NOT_FOUND);
    if (const FileEntry* dst = FindPath(t)) {
        // A folder answers like a file to a create-new (Wine, Windows).
        if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
        if (dst->folder || dst->readOnly) return Fail(ERROR_ACCESS_DENIED);
        if (!SharingAllows(dst->id, GENERIC_WRITE, 0)) return Fail(ERROR_SHARING_VIOLATION);
    }
    FileEntry copy;
    copy.data = src->data;
    copy.readOnly = src->readOnly;  // a copy keeps its source's attributes
    auto failure = W().failCopyTo.find(Lower(target));
    if (failure != W().failCopyTo.end()) {
        if (failure->second.written == std::string::npos) return Fail(failure->second.error);
        copy.data.resize(std::min(copy.data.size(), failure->second.written));
    }
    Put(to, copy);
    return failure == W().failCopyTo.end() ? TRUE : Fail(failure->second.error);
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    std::string source = lpExistingFileName ? lpExistingFileName : "";
    std::string target = lpNewFileName ? lpNewFileName : "";
    Log("CopyFileA " + source + " -> " + target + (bFailIfExists ? " fail-if-exists" : ""));
    const BOOL ok = Copy(source, target, bFailIfExists);
    auto vanish = W().vanishAfterCopy.find(Lower(target));
    if (vanish != W().vanishAfterCopy.end()) Remove(vanish->second);
    return ok;
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    const std::string path = Logged("DeleteFileA", lpFileName), p = Lower(Resolve(path, false));
    if (path.size() >= kMaxPath) return Fail(ERROR_FILENAME_EXCED_RANGE);
    if (DWORD e = Injected(W().failDelete, Lower(path))) return Fail(e);
    const FileEntry* e = FindPath(p);
    if (!e) return Fail(MissingError(p));
    if (e->folder || e->readOnly) return Fail(ERROR_ACCESS_DENIED);
    if (!SharingAllows(e->id, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) return Fail(ERROR_SHARING_VIOLATION);
    W().files.erase(p);
    return TRUE;
}

// Only the read-only attribute is kept; folders keep theirs.
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes)
{
    const std::string path = Logged("SetFileAttributesA", lpFileName), p = Lower(Resolve(path, false));
    if (path.size() >= kMaxPath) return Fail(ERROR_FILENAME_EXCED_RANGE);
    FileEntry* e = FindPath(p);
    if (!e) return Fail(MissingError(p));
    if (!e->folder) e->readOnly = (dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return TRUE;
}

// A user moves what is at the name away and plants a junction in its place.
// Windows would refuse while a handle that does not share deleting is open;
// this does not, so a test can show that the security follows the handle.
static void SwapIfAsked(std::map<std::string, std::string>& asked, const std::string& lowerPath)
{
    auto swap = asked.find(lowerPath);
    if (swap == asked.end() || !FindPath(lowerPath)) return;
    const std::string aside = swap->second;
    asked.erase(swap);
    const std::string name = FindPath(lowerPath)->name;
    Move(lowerPath, aside);
    MakeJunction(name, aside);
}

static DWORD AttributesOf(const FileEntry& e)
{
    const DWORD reparse = e.reparsePoint ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
    if (e.folder) return FILE_ATTRIBUTE_DIRECTORY | reparse;
    return FILE_ATTRIBUTE_ARCHIVE | (e.readOnly ? FILE_ATTRIBUTE_READONLY : 0) | reparse;
}

DWORD GetFileAttributesA(LPCSTR lpFileName)
{
    const std::string path = Logged("GetFileAttributesA", lpFileName), p = Lower(Resolve(path, false));
    DWORD error = Injected(W().failAttributes, Lower(path));
    if (!error && path.size() >= kMaxPath) error = ERROR_FILENAME_EXCED_RANGE;
    const FileEntry* e = FindPath(p);
    if (!error && !e && !IsDriveRoot(p)) error = MissingError(p);
    const DWORD attributes = error            ? INVALID_FILE_ATTRIBUTES
                             : IsDriveRoot(p) ? DWORD(FILE_ATTRIBUTE_DIRECTORY)
                                              : AttributesOf(*e);
    if (error) SetLastError(error);
    SwapIfAsked(W().swapAfterLook, Lower(path));
    return attributes;
}

// Only existing files and folders are opened; folders only with backup
// semantics. A junction leads to its target unless the open asks for the
// reparse point itself; a link that leads nowhere is opened as itself.
static DWORD Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags, OpenFileRecord* opened)
{
    const std::string p = Lower(Resolve(path, !(flags & FILE_FLAG_OPEN_REPARSE_POINT)));
    if (disposition != OPEN_EXISTING) return ERROR_INVALID_PARAMETER;
    if (path.size() >= kMaxPath) return ERROR_FILENAME_EXCED_RANGE;
    if (DWORD error = Injected(W().failOpen, Lower(path))) return error;
    const FileEntry* e = FindPath(p);
    if (!e) return MissingError(p);
    if (e->folder && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) return ERROR_ACCESS_DENIED;
    if (!SharingAllows(e->id, access, share)) return ERROR_SHARING_VIOLATION;
    *opened = {path, e->data, 0, 0, e->id, access, share};
    if (W().readPieces.count(p)) opened->piece = W().readPieces[p];
    return 0;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE)
{
    const std::string path = Logged("CreateFileA", lpFileName);
    OpenFileRecord opened;
    if (DWORD error = Open(path, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                           dwFlagsAndAttributes, &opened))
        return Fail(error, INVALID_HANDLE_VALUE);
    W().handles.push_back(opened);
    SwapIfAsked(W().swapForJunction, Lower(path));
    return &W().handles.back();
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
    auto later = W().openWhenClosed.find(p);
    if (!e || later == W().openWhenClosed.end()) return;
    for (const OpenFileRecord& r : W().handles)
        if (r.object == object) return;
    const LaterOpen wants = later->second;
    W().openWhenClosed.erase(later);
    if (!e->security.count('D')) HoldElsewhere(e->name, wants.access, wants.share);
}

BOOL CloseHandle(HANDLE hObject)
{
    auto file = ByAddress(W().handles, hObject);
    if (file != W().handles.end()) {
        const unsigned object = file->object;
        W().handles.erase(file);
        OpenLater(object);
        return TRUE;
    }
    auto mutex = ByAddress(W().mutexHandles, hObject);
    if (mutex == W().mutexHandles.end()) return Fail(ERROR_INVALID_HANDLE);
    Log("CloseHandle " + mutex->name);
    W().mutexHandles.erase(mutex);
    return TRUE;
}

bool simwin::HoldElsewhere(const std::string& path, DWORD access, DWORD share)
{
    OpenFileRecord opened;
    if (Open(path, access, share, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, &opened)) return false;
    W().elsewhere.push_back(opened);
    return true;
}

size_t simwin::HandlesElsewhere(const std::string& path)
{
    const FileEntry* e = Entry(path);
    return size_t(std::count_if(W().elsewhere.begin(), W().elsewhere.end(),
                                [e](const OpenFileRecord& r) { return e && r.object == e->id; }));
}

// Only the file-system flags, of NTFS or FAT32, the same for every drive:
// the program asks for nothing else.
BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD lpFileSystemFlags, LPSTR,
                           DWORD)
{
    const std::string root = Logged("GetVolumeInformationA", lpRootPathName);
    // Windows wants the root with its backslash ("C:\"); Wine takes "C:" too.
    if (root.size() != 3 || root[1] != ':' || root[2] != '\\') return Fail(ERROR_INVALID_NAME);
    if (W().failVolume) return Fail(W().failVolume);
    if (lpFileSystemFlags)
        *lpFileSystemFlags = W().volumeKeepsAcls ? FS_CASE_SENSITIVE | FS_CASE_IS_PRESERVED |
                                                       FS_UNICODE_STORED_ON_DISK | FS_PERSISTENT_ACLS
                                                 : FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK;
    return TRUE;
}
