// What a check needs that the API under test cannot make itself: another
// program's handle or mutex, a junction, a hard link, a language module, a
// registry value, the code page in force.  One implementation per side:
// real calls and threads on Windows (shim_windows.cpp), simwin's controls
// on the host (shim_simwin.cpp).  The checks see Windows names only.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <mbctype.h>
#include <mbstring.h>
#include <sddl.h>
#include <setupapi.h>
#else
#include "simwin/windows.h"
#endif

#include <string>

// A fresh scratch folder (and, on the host, a fresh machine with the
// contract's executable); Cleanup removes it and what the shim made.
void StartMachine(const char* root);
void Cleanup(const char* root);
void PutFile(const char* path, const std::string& bytes, bool readOnly = false);
bool HoldElsewhere(const char* path, DWORD access, DWORD share);  // false: sharing refused it
bool MakeJunction(const char* path, const char* target);          // path: an absent name
bool MakeHardLink(const char* link, const char* existing);
void HoldMutexElsewhere(const char* name);     // owned by another thread, never released
void AbandonMutexElsewhere(const char* name);  // owned by a thread that ended
// The contract's language module (strings.h) at path.
void AddLanguageModule(const char* path);
void SetUserValue(const char* key, const char* name, DWORD type, const std::string& bytes);
// The ANSI code page can be this one: set on the host, in force on Windows.
bool UseAnsiCodePage(UINT codePage);
std::string DaclOf(const char* path);  // the "D:..." part of its SDDL
void RemoveStoredInf(const char* stored);  // the INF store's copy and its .pnf
