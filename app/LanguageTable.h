#pragma once

#include "platform/winapi.h"

// File name of the language module for the phone suite's language numbers,
// beginning with a backslash; English for every pair not in the table.
LPCSTR LanguageModuleFileName(DWORD dwPrimLangID, DWORD dwSubLangID);
