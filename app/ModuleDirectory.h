#pragma once

#include "platform/afxwin.h"

// The running executable's folder, without a trailing backslash. The cut is
// made at the last real backslash of the ANSI code page, never at a trail
// byte of a double-byte character; a path without one is returned whole.
CString ModuleDirectory();
