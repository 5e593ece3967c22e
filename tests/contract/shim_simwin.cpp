// The contract's shim on the host: simwin's controls.
#include "shim.h"
#include "strings.h"

#include "simwin/simwin.h"

bool RunningOnWine() { return false; }

void StartMachine(const std::string& root)
{
    simwin::Reset();
    simwin::SetExecutable(root + "\\contract.exe", WIRENEST_RES);
    simwin::AddFolder(root);
}

void Cleanup(const std::string&) { simwin::Reset(); }

void PutFile(const std::string& path, const std::string& bytes, bool readOnly)
{
    simwin::AddFile(path, std::vector<BYTE>(bytes.begin(), bytes.end()));
    if (readOnly) simwin::SetReadOnly(path);
}

bool HoldElsewhere(const std::string& path, DWORD access, DWORD share)
{
    return simwin::HoldElsewhere(path, access, share);
}

bool MakeJunction(const std::string& path, const std::string& target)
{
    simwin::MakeJunction(path, target);
    return true;
}

// simwin keeps one file per name: the link is a copy, both counted twice.
bool MakeHardLink(const std::string& link, const std::string& existing)
{
    simwin::AddFile(link, simwin::FileData(existing));
    for (const std::string& name : {link, existing}) simwin::SetLinkCount(name, 2);
    return true;
}

void HoldMutexElsewhere(const char* name) { simwin::MutexHeldElsewhere(name); }
void AbandonMutexElsewhere(const char* name) { simwin::MutexAbandonedElsewhere(name); }

void AddLanguageModule(const std::string& path)
{
    simwin::AddLanguageModule(path, {{1, CONTRACT_SHORT}, {2, std::string(CONTRACT_PAD, 'a') + CONTRACT_WIDE_END}});
}

void SetUserValue(const char* key, const char* name, DWORD type, const std::string& bytes)
{
    simwin::SetUserValue(key, name, type, std::vector<BYTE>(bytes.begin(), bytes.end()));
}

bool UseAnsiCodePage(UINT codePage)
{
    simwin::SetAnsiCodePage(codePage);
    return true;
}

std::string DaclOf(const std::string& path)
{
    const std::string sddl = simwin::SecurityOf(path);
    return sddl.substr(std::min(sddl.find("D:"), sddl.size()));
}

void RemoveStoredInf(const std::string& stored) { DeleteFileA(stored.c_str()); }
