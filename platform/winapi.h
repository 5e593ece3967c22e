// The Windows services Wirenest calls: the real ones on Windows, the
// simulated ones on the host build. Nothing else includes a platform header.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#include <setupapi.h>
#include <mbctype.h>
#include <mbstring.h>
#include <stdio.h>
#else
#include "simwin/windows.h"
#endif
