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
