#include "install/TargetCheck.h"

#include <string.h>

BOOL IsFileAt(LPCSTR lpszPath)
{
    const DWORD dwAttributes = ::GetFileAttributesA(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

PACKAGE_SOURCE PackageHolds(LPCSTR lpszSource)
{
    const DWORD dwAttributes = ::GetFileAttributesA(lpszSource);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES)
        return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? SOURCE_ABSENT : SOURCE_FILE;
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILENAME_EXCED_RANGE:
        return SOURCE_ABSENT;
    default:
        return SOURCE_UNKNOWN;
    }
}

static HANDLE OpenForReading(LPCSTR lpszPath)
{
    return ::CreateFileA(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Disk files read in full chunks until the end, so a shorter read is the
// end of that file. The target counts as cut short only when one more read
// confirms its end: a target wrongly taken for one would be deleted.
static TARGET_MATCH CompareBytes(HANDLE hSource, HANDLE hTarget)
{
    BYTE abSource[4096], abTarget[4096];
    for (;;) {
        DWORD cbSource = 0, cbTarget = 0;
        if (!::ReadFile(hSource, abSource, sizeof(abSource), &cbSource, nullptr) ||
            !::ReadFile(hTarget, abTarget, sizeof(abTarget), &cbTarget, nullptr))
            return TARGET_OTHER;
        if (cbTarget > cbSource || memcmp(abSource, abTarget, cbTarget) != 0) return TARGET_OTHER;
        if (cbTarget < cbSource) {
            DWORD cbMore = 1;
            return ::ReadFile(hTarget, abTarget, sizeof(abTarget), &cbMore, nullptr) && cbMore == 0
                       ? TARGET_CUT_SHORT
                       : TARGET_OTHER;
        }
        if (cbSource == 0) return TARGET_SAME;
    }
}

TARGET_MATCH CompareWithPackageFile(LPCSTR lpszSource, LPCSTR lpszTarget)
{
    HANDLE hSource = OpenForReading(lpszSource);
    if (hSource == INVALID_HANDLE_VALUE) return TARGET_OTHER;
    HANDLE hTarget = OpenForReading(lpszTarget);
    if (hTarget == INVALID_HANDLE_VALUE) {
        ::CloseHandle(hSource);
        return TARGET_OTHER;
    }
    const TARGET_MATCH match = CompareBytes(hSource, hTarget);
    ::CloseHandle(hTarget);
    ::CloseHandle(hSource);
    return match;
}

BOOL TargetIsPackageFile(LPCSTR lpszSource, LPCSTR lpszTarget, BOOL bPackageHadIt)
{
    if (!IsFileAt(lpszTarget)) return FALSE;
    switch (PackageHolds(lpszSource)) {
    case SOURCE_ABSENT:
        return !bPackageHadIt;
    case SOURCE_FILE:
        return CompareWithPackageFile(lpszSource, lpszTarget) == TARGET_SAME;
    default:
        return FALSE;
    }
}
