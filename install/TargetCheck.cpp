#include "install/TargetCheck.h"

#include <string.h>

enum SOURCE_STATE { SOURCE_ABSENT, SOURCE_FILE, SOURCE_UNKNOWN };

static BOOL IsFile(LPCSTR lpszPath)
{
    const DWORD dwAttributes = ::GetFileAttributesA(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A folder of that name is not the package's file. A path too long for the
// system counts as absent, as it does for the copy that just failed on it.
static SOURCE_STATE PackageHolds(LPCSTR lpszSource)
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

// Disk files read in full chunks until the end, so two reads of different
// length mean files of different length.
static BOOL SameBytes(HANDLE hFile1, HANDLE hFile2)
{
    BYTE ab1[4096], ab2[4096];
    for (;;) {
        DWORD cb1 = 0, cb2 = 0;
        if (!::ReadFile(hFile1, ab1, sizeof(ab1), &cb1, nullptr) ||
            !::ReadFile(hFile2, ab2, sizeof(ab2), &cb2, nullptr))
            return FALSE;
        if (cb1 != cb2 || memcmp(ab1, ab2, cb1) != 0) return FALSE;
        if (cb1 == 0) return TRUE;
    }
}

static BOOL SameContent(LPCSTR lpszSource, LPCSTR lpszTarget)
{
    HANDLE hSource = OpenForReading(lpszSource);
    if (hSource == INVALID_HANDLE_VALUE) return FALSE;
    HANDLE hTarget = OpenForReading(lpszTarget);
    if (hTarget == INVALID_HANDLE_VALUE) {
        ::CloseHandle(hSource);
        return FALSE;
    }
    const BOOL bSame = SameBytes(hSource, hTarget);
    ::CloseHandle(hTarget);
    ::CloseHandle(hSource);
    return bSame;
}

BOOL TargetIsPackageFile(LPCSTR lpszSource, LPCSTR lpszTarget)
{
    if (!IsFile(lpszTarget)) return FALSE;
    switch (PackageHolds(lpszSource)) {
    case SOURCE_ABSENT:
        return TRUE;
    case SOURCE_FILE:
        return SameContent(lpszSource, lpszTarget);
    default:
        return FALSE;
    }
}
