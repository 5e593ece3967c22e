// Where DLLs come from. Wirenest is run as administrator from folders where
// downloads collect: a DLL lying beside it under a system DLL's name must
// never be loaded in its place.
#pragma once

#include "platform/winapi.h"

// Confines every later load by name to the system folder. The first thing
// the process does, before anything loads a DLL by name.
void RestrictDllSearchToSystem();

// Loads a DLL of the system folder by its full path; null when it cannot.
HMODULE LoadSystemLibrary(LPCSTR lpszFileName);

// What the dialog and the Setup API load by name, which
// RestrictDllSearchToSystem loads from the system folder first: an
// initializer list, in C form, for the benchmark's baseline as well.
#define WIRENEST_SYSTEM_PRELOADS \
    "uxtheme.dll", "userenv.dll", "setupapi.dll", "apphelp.dll", "propsys.dll", \
    "dwmapi.dll", "cryptbase.dll", "oleacc.dll", "clbcatq.dll", "version.dll"
