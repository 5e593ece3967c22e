// Windows loads the driver from the package folder whenever the phone is
// plugged in, so whoever can write there can put code into the kernel. The
// folder lies at the root of drive C, where a new folder lets every
// signed-in user change what it holds (Windows 7 and later) or belongs to
// whichever user made it first (2000, XP): it gets a DACL of its own.
#include "install/FolderSecurity.h"

#include "install/DriverPackage.h"

// Full control for SYSTEM and Administrators, read and execute for Users,
// passed on to everything below; "P" keeps out what C:\ would pass on.
// Administrators become the owner too: an owner may always rewrite the
// DACL, and a user who made the folder first would otherwise stay one.
// Owner and DACL go in one call, so nobody can change either in between.
static const char kFolderSecurity[] =
    "O:BA"
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// The same access for a target file that was there before: a folder's new
// DACL is not passed on to what the folder already holds.
static const char kFileSecurity[] =
    "O:BA"
    "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

// A DACL set now does not take back what handles opened before it hold:
// one that may write to a file could change the driver afterwards, one
// that may delete a folder could move the whole tree away. So each object
// is opened once, sharing only reading: the open fails while such a handle
// exists, and while ours is open nobody can get one. Windows weighs share
// modes only for opens that read, write or delete data, so ours reads too
// (lists, for a folder); without that it would be neither refused nor
// respected. A reparse point is opened as itself, never followed.
static HANDLE OpenForSecuring(LPCSTR lpszPath)
{
    return ::CreateFileA(lpszPath,
                         READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | FILE_READ_DATA,
                         FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// What was opened is what gets the owner and DACL, through the same handle:
// a name swapped for a junction after the look cannot send them elsewhere.
// A reparse point would carry the copies to wherever it points, and a file
// of more than one name may be a hard link to one of the system's files.
static BOOL SecureObject(LPCSTR lpszPath, BOOL bFolder, LPCSTR lpszSddl)
{
    // The name is looked at too: Wine opens what a link points to even when
    // told not to follow it.
    const DWORD dwAttributes = ::GetFileAttributesA(lpszPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FALSE;
    HANDLE hObject = OpenForSecuring(lpszPath);
    if (hObject == INVALID_HANDLE_VALUE) return FALSE;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL bSet = ::GetFileInformationByHandle(hObject, &info) &&
                !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                (bFolder ? (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                         : !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                               info.nNumberOfLinks == 1);
    PSECURITY_DESCRIPTOR pSD = nullptr;
    bSet = bSet && ::ConvertStringSecurityDescriptorToSecurityDescriptorA(lpszSddl, SDDL_REVISION_1,
                                                                          &pSD, nullptr);
    if (bSet) {
        bSet = ::SetKernelObjectSecurity(hObject, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         pSD);
        ::LocalFree(pSD);
    }
    ::CloseHandle(hObject);  // only now: the DACL keeps out whoever opens after us
    return bSet;
}

// A folder under its own name, not a link to one.
static BOOL IsPlainFolder(LPCSTR lpszPath)
{
    const DWORD dwAttributes = ::GetFileAttributesA(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES &&
           (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY;
}

BOOL ProtectDriverFolders()
{
    // FAT keeps no ACLs: there is nothing to set, and the installation goes
    // on as before. A drive that cannot tell is not taken for one.
    DWORD dwFlags = 0;
    if (!::GetVolumeInformationA("C:\\", nullptr, 0, nullptr, nullptr, &dwFlags, nullptr, 0))
        return FALSE;
    const BOOL bAcls = (dwFlags & FS_PERSISTENT_ACLS) != 0;

    // The root first: any user may plant a junction under its name before
    // we come, and the package folder made through it would stand wherever
    // it points. So the package folder is made only once the root is ours.
    // Once protected, nobody else can replace the package folder in it,
    // nor the files in that once it is protected. The root is looked at
    // again: a swap between our open and the change leaves a link there.
    // An existing folder is the normal case on a second run.
    ::CreateDirectoryA(DRIVER_TARGET_ROOT, nullptr);
    if ((bAcls && !SecureObject(DRIVER_TARGET_ROOT, TRUE, kFolderSecurity)) ||
        !IsPlainFolder(DRIVER_TARGET_ROOT))
        return FALSE;
    ::CreateDirectoryA(DRIVER_TARGET_FOLDER, nullptr);
    if (!bAcls) return TRUE;
    if (!SecureObject(DRIVER_TARGET_FOLDER, TRUE, kFolderSecurity)) return FALSE;
    for (int i = 0; i < DRIVER_FILE_COUNT; ++i) {
        LPCSTR lpszTarget = g_driverFiles[i].lpszTarget;
        const DWORD dwAttributes = ::GetFileAttributesA(lpszTarget);
        // Absent: the copy made below takes the folder's DACL. A folder in
        // a file's place is not the package's: the check after the copies
        // refuses it. Anything else, a link included, is secured or refused.
        if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
            if (::GetLastError() != ERROR_FILE_NOT_FOUND) return FALSE;
        } else if ((dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                       FILE_ATTRIBUTE_DIRECTORY &&
                   !SecureObject(lpszTarget, FALSE, kFileSecurity)) {
            return FALSE;
        }
    }
    return TRUE;
}
