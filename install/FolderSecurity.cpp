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
// The same access for a target file that was there before: SetFileSecurity
// does not pass a folder's new DACL on to what the folder already holds.
static const char kFileSecurity[] =
    "O:BA"
    "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

enum PATH_KIND { PATH_ABSENT, PATH_FOLDER, PATH_FILE, PATH_OTHER };

// A reparse point (a junction or a link that a user planted) would carry
// the DACL, and then the copies, to wherever it points: it counts as
// neither a folder nor a file.
static PATH_KIND KindOf(LPCSTR lpszPath)
{
    const DWORD dwAttributes = ::GetFileAttributesA(lpszPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND ? PATH_ABSENT : PATH_OTHER;
    if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return PATH_OTHER;
    return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PATH_FOLDER : PATH_FILE;
}

// A file of more than one name may be a hard link that a user made to one
// of the system's files: that file would get the new owner and DACL. Once
// the folder is protected nobody else can add a name in it, so the count
// read here still holds when the DACL is set.
static BOOL HasOneName(LPCSTR lpszPath)
{
    HANDLE hFile = ::CreateFileA(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return FALSE;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL bOne = ::GetFileInformationByHandle(hFile, &info) && info.nNumberOfLinks == 1;
    ::CloseHandle(hFile);
    return bOne;
}

static BOOL SetSecurity(LPCSTR lpszPath, LPCSTR lpszSddl)
{
    PSECURITY_DESCRIPTOR pSD = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(lpszSddl, SDDL_REVISION_1, &pSD,
                                                                 nullptr))
        return FALSE;
    const BOOL bSet =
        ::SetFileSecurityA(lpszPath, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, pSD);
    ::LocalFree(pSD);
    return bSet;
}

static BOOL ProtectFolder(LPCSTR lpszPath)
{
    return KindOf(lpszPath) == PATH_FOLDER && SetSecurity(lpszPath, kFolderSecurity);
}

BOOL ProtectDriverFolders()
{
    // FAT keeps no ACLs: there is nothing to set, and the installation goes
    // on as before. A drive that cannot tell is not taken for one.
    DWORD dwFlags = 0;
    if (!::GetVolumeInformationA("C:\\", nullptr, 0, nullptr, nullptr, &dwFlags, nullptr, 0))
        return FALSE;
    if (!(dwFlags & FS_PERSISTENT_ACLS)) return TRUE;

    // The root first: once it is protected, nobody else can replace the
    // package folder in it, nor the files in that once it is protected.
    if (!ProtectFolder(DRIVER_TARGET_ROOT) || !ProtectFolder(DRIVER_TARGET_FOLDER)) return FALSE;
    for (int i = 0; i < DRIVER_FILE_COUNT; ++i) {
        LPCSTR lpszTarget = g_driverFiles[i].lpszTarget;
        switch (KindOf(lpszTarget)) {
        case PATH_ABSENT:  // a copy made below takes the folder's DACL
        case PATH_FOLDER:  // not the package's: the check after the copies refuses it
            break;
        case PATH_FILE:
            if (!HasOneName(lpszTarget) || !SetSecurity(lpszTarget, kFileSecurity)) return FALSE;
            break;
        default:
            return FALSE;
        }
    }
    return TRUE;
}
