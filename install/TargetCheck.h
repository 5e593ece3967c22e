// Whether a copied driver file can be trusted as this package's own.
#pragma once

#include "platform/winapi.h"

// TRUE for a file, FALSE for a folder or nothing at all.
BOOL IsFileAt(LPCSTR lpszPath);

// What the package folder holds under a file's name. A folder of that name
// is not the package's file; a path too long for the system counts as
// absent, as it does for a copy from it.
enum PACKAGE_SOURCE { SOURCE_ABSENT, SOURCE_FILE, SOURCE_UNKNOWN };
PACKAGE_SOURCE PackageHolds(LPCSTR lpszSource);

// How a target file compares with the package file: the same bytes; the
// start of them and nothing more, as an interrupted copy leaves it; or
// anything else, a target or package file that cannot be read included.
enum TARGET_MATCH { TARGET_SAME, TARGET_CUT_SHORT, TARGET_OTHER };
TARGET_MATCH CompareWithPackageFile(LPCSTR lpszSource, LPCSTR lpszTarget);

// TRUE when the target is a file and, where the package holds a file of
// that name, has the same bytes. Without the package file an existing
// target (an earlier run's) is taken as it is, unless the package held
// the file when it was copied: then the package went away under us.
// Anything that cannot be read or told apart counts as not this package's.
BOOL TargetIsPackageFile(LPCSTR lpszSource, LPCSTR lpszTarget, BOOL bPackageHadIt);
