// What a check needs that the API under test cannot make itself: real calls
// and threads on Windows (shim_windows.cpp), simwin's controls on the host.
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
void Cleanup();                              // the registry key SetUserValue wrote, gone
void PutFile(const std::string& path, const std::string& bytes);
bool HoldElsewhere(const std::string& path, DWORD access, DWORD share);  // false: sharing refused it
bool MakeJunction(const std::string& path, const std::string& target);  // path: an absent name
bool MakeHardLink(const std::string& link, const std::string& existing);
void OwnMutexElsewhere(const char* name, bool ends);  // by a thread that keeps it, or ends: abandoned
// The language module AddLanguageModule puts at path: string 1 "abcdef";
// string 2, kPad 'a' then U+8868 twice, which is 0x95 0x5C in code page 932
// and '?' in 1252: in 932 the first one straddles the 255th and 256th bytes.
const int kPad = 254;
void AddLanguageModule(const std::string& path);  // contract_lang.rc on Windows
void SetUserValue(const char* key, const char* name, DWORD type, const std::string& bytes);
bool UseAnsiCodePage(UINT codePage);  // set on the host, in force on Windows
std::string DaclOf(const std::string& path);  // the "D:..." part of its SDDL
void RemoveStoredInf(const std::string& stored);  // the INF store's copy and its .pnf
HWND MakeWindow();  // a top-level window with a window menu
