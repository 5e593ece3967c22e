#include "install/PackageCopy.h"

#include "install/DriverPackage.h"
#include "install/TargetCheck.h"

// Why a lock: a copy that fails because the name exists, and a target that
// is the start of the package file, are exactly what another installer
// copying at the same moment shows; deleting either would destroy its copy
// mid-way. The lock is session-local, as a double start is. A holder that
// ended without letting go leaves the lock abandoned, and ours; what it
// left is repaired like any interrupted copy. A holder that does not let
// go in time (its registration waiting on the user, say) makes this run
// fail without copying or deleting anything.
CPackageLock::CPackageLock()
    : m_hMutex(::CreateMutexA(nullptr, FALSE, PACKAGE_LOCK_NAME)), m_bHeld(FALSE)
{
    if (!m_hMutex) return;
    const DWORD dwWait = ::WaitForSingleObject(m_hMutex, PACKAGE_LOCK_WAIT_MS);
    m_bHeld = dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
}

CPackageLock::~CPackageLock()
{
    Unlock();
    if (m_hMutex) ::CloseHandle(m_hMutex);
}

void CPackageLock::Unlock()
{
    if (!m_bHeld) return;
    ::ReleaseMutex(m_hMutex);
    m_bHeld = FALSE;
}

// Anything that cannot be shown absent counts as there.
static BOOL NameTaken(LPCSTR lpszPath)
{
    if (::GetFileAttributesA(lpszPath) != INVALID_FILE_ATTRIBUTES) return TRUE;
    const DWORD dwError = ::GetLastError();
    return dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND;
}

// A target that is the start of the package file, an empty one included,
// is what an interrupted copy leaves: it goes, and the copy is made again.
// One that cannot be deleted (in use) stays, and the check refuses it. A
// copy that fails leaves nothing new behind: a file under a name that was
// free before it is the failed copy's own. But a copy that failed because
// the name exists wrote nothing, so what has the name then is someone
// else's, free a moment before or not. A copy takes the read-only
// attribute of a package on a CD before it writes a byte, which would keep
// its partial file from going: as our own file, in a folder only
// administrators may change, it loses the attribute first.
static void CopyPackageFile(LPCSTR lpszSource, LPCSTR lpszTarget)
{
    if (CompareWithPackageFile(lpszSource, lpszTarget) == TARGET_CUT_SHORT) {
        ::SetFileAttributesA(lpszTarget, FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(lpszTarget);
    }
    const BOOL bTaken = NameTaken(lpszTarget);
    if (::CopyFileA(lpszSource, lpszTarget, TRUE)) return;
    const DWORD dwError = ::GetLastError();
    if (bTaken || dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS ||
        !IsFileAt(lpszTarget))
        return;
    ::SetFileAttributesA(lpszTarget, FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(lpszTarget);
}

BOOL CopyDriverPackage(const CString& strModuleDir)
{
    // The registration alone would call the driver installed with its file
    // missing, or with another package's files at the target: the copies
    // have to hold up before the INF goes to the system.
    BOOL abPackageHadIt[DRIVER_FILE_COUNT];
    for (int i = 0; i < DRIVER_FILE_COUNT; ++i) {
        const CString strSource = strModuleDir + g_driverFiles[i].lpszSource;
        abPackageHadIt[i] = PackageHolds(strSource) != SOURCE_ABSENT;
        CopyPackageFile(strSource, g_driverFiles[i].lpszTarget);
    }
    BOOL bCopied = TRUE;
    for (int i = 0; i < DRIVER_FILE_COUNT && bCopied; ++i) {
        const CString strSource = strModuleDir + g_driverFiles[i].lpszSource;
        bCopied = TargetIsPackageFile(strSource, g_driverFiles[i].lpszTarget, abPackageHadIt[i]);
    }
    return bCopied;
}
