// Whether a copied driver file can be trusted as this package's own.
#pragma once

#include "platform/winapi.h"

// TRUE when the target is a file and, where the package holds a file of
// that name, has the same bytes. Without the package file an existing
// target (an earlier run's) is taken as it is. Anything that cannot be
// read or told apart counts as not this package's.
BOOL TargetIsPackageFile(LPCSTR lpszSource, LPCSTR lpszTarget);
