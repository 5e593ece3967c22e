// What a check needs that the API under test cannot make itself: another
// program's handle or mutex, a junction, a hard link, a language module, a
// registry value, the code page in force.  Real calls and threads on
// Windows (shim_windows.cpp), simwin's controls on the host (shim_simwin.cpp).
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

void StartMachine(const std::string& root);  // the scratch folder (host: on a fresh machine)
void Cleanup(const std::string& root);       // what the shim made, gone
void PutFile(const std::string& path, const std::string& bytes, bool readOnly = false);
bool HoldElsewhere(const std::string& path, DWORD access, DWORD share);  // false: sharing refused it
bool MakeJunction(const std::string& path, const std::string& target);  // path: an absent name
bool MakeHardLink(const std::string& link, const std::string& existing);
void HoldMutexElsewhere(const char* name);     // owned by another thread, never released
void AbandonMutexElsewhere(const char* name);  // owned by a thread that ended
void AddLanguageModule(const std::string& path);  // the module strings.h describes
void SetUserValue(const char* key, const char* name, DWORD type, const std::string& bytes);
bool UseAnsiCodePage(UINT codePage);  // set on the host, in force on Windows
std::string DaclOf(const std::string& path);  // the "D:..." part of its SDDL
void RemoveStoredInf(const std::string& stored);  // the INF store's copy and its .pnf
