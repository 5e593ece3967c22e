// The contract's shim on the host: simwin's controls.
#include "shim.h"

#include "simwin/simwin.h"

bool RunningOnWine() { return false; }

void StartMachine(const std::string& root)
{
    simwin::Reset();
    simwin::SetExecutable(root + "\\contract.exe", WIRENEST_RES);
    simwin::AddFolder(root);
}

void Cleanup() { simwin::Reset(); }
bool HoldElsewhere(const std::string& p, DWORD access, DWORD share) { return simwin::HoldElsewhere(p, access, share); }
bool MakeJunction(const std::string& p, const std::string& target) { return simwin::MakeJunction(p, target), true; }
bool UseAnsiCodePage(UINT codePage) { return simwin::SetAnsiCodePage(codePage), true; }
void RemoveStoredInf(const std::string& stored) { DeleteFileA(stored.c_str()); }
void PutFile(const std::string& path, const std::string& data) { simwin::AddFile(path, {data.begin(), data.end()}); }

// The installer's dialog, ended at once: its record and window menu stay.
HWND MakeWindow()
{
    simwin::Script({simwin::Inspect([](HWND h) { EndDialog(h, 0); })});
    DialogBoxParamA(simwin::Executable(), MAKEINTRESOURCEA(102), nullptr,
                    [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    return simwin::Dialogs().back();
}

// simwin keeps one file per name: the link is a copy, both counted twice.
bool MakeHardLink(const std::string& link, const std::string& existing)
{
    simwin::AddFile(link, simwin::FileData(existing));
    for (const std::string& name : {link, existing}) simwin::SetLinkCount(name, 2);
    return true;
}

void OwnMutexElsewhere(const char* name, bool ends)
{
    ends ? simwin::MutexAbandonedElsewhere(name) : simwin::MutexHeldElsewhere(name);
}

void AddLanguageModule(const std::string& path)  // U+8868 is e8 a1 a8 in UTF-8
{
    simwin::AddLanguageModule(path, {{1, "abcdef"}, {2, std::string(kPad, 'a') + "\xe8\xa1\xa8\xe8\xa1\xa8"}});
}

void SetUserValue(const char* key, const char* name, DWORD type, const std::string& bytes)
{
    simwin::SetUserValue(key, name, type, {bytes.begin(), bytes.end()});
}

std::string DaclOf(const std::string& path)
{
    const std::string sddl = simwin::SecurityOf(path);
    return sddl.substr(std::min(sddl.find("D:"), sddl.size()));
}
