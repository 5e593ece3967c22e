// Volumes and the security of files and folders: what kind of volume drive
// C is, descriptors made from SDDL, and the owner and DACL set through a
// handle. Descriptors are kept as their SDDL, which is what tests compare.
#include "simwin/state.h"

#include <cstdio>
#include <cstring>

namespace simwin {

void SetVolumeKeepsAcls(bool keeps) { W().install.volumeKeepsAcls = keeps; }
void FailVolumeInformation(DWORD error) { W().install.failVolume = error; }
void FailSecurity(const std::string& path, DWORD error)
{
    W().install.failSecurity[Lower(path)] = error;
}

void MakeReparsePoint(const std::string& path)
{
    auto it = W().files.find(Lower(path));
    if (it != W().files.end()) it->second.reparsePoint = true;
}

void SetLinkCount(const std::string& path, DWORD links)
{
    auto it = W().files.find(Lower(path));
    if (it != W().files.end()) it->second.links = links;
}

size_t HeldSecurityDescriptors() { return W().install.descriptors.size(); }

static const char kParts[] = "OGDS";

std::string SecurityOf(const std::string& path)
{
    auto it = W().files.find(Lower(path));
    if (it == W().files.end()) return "";
    std::string sddl;
    for (const char* p = kParts; *p; ++p) {
        auto part = it->second.security.find(*p);
        if (part != it->second.security.end()) sddl += std::string(1, *p) + ":" + part->second;
    }
    return sddl;
}

// "O:BAD:P(...)" as {'O': "BA", 'D': "P(...)"}; false when it is not SDDL
// made of those parts.
static bool SplitSddl(const std::string& sddl, std::map<char, std::string>* parts)
{
    char current = 0;
    int depth = 0;
    for (size_t i = 0; i < sddl.size(); ++i) {
        const char c = sddl[i];
        if (depth == 0 && i + 1 < sddl.size() && sddl[i + 1] == ':' && strchr(kParts, c)) {
            current = c;
            (*parts)[c].clear();
            ++i;
            continue;
        }
        if (c == '(') ++depth;
        if (c == ')' && --depth < 0) return false;
        if (!current) return false;
        (*parts)[current] += c;
    }
    return depth == 0 && !parts->empty();
}

static std::string* FindDescriptor(PSECURITY_DESCRIPTOR p)
{
    for (std::string& d : W().install.descriptors)
        if (&d == p) return &d;
    return nullptr;
}

}  // namespace simwin

using namespace simwin;

// Only the file-system flags: NTFS or FAT32, the same for every drive.
BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer,
                           DWORD nFileSystemNameSize)
{
    std::string root = lpRootPathName ? lpRootPathName : "";
    Log("GetVolumeInformationA " + root);
    // Windows wants the root with its backslash ("C:\"); Wine takes "C:" too.
    if (root.size() != 3 || root[1] != ':' || root[2] != '\\') return Fail(ERROR_INVALID_NAME);
    if (W().install.failVolume) return Fail(W().install.failVolume);
    const bool acls = W().install.volumeKeepsAcls;
    if (lpVolumeNameBuffer && nVolumeNameSize) lpVolumeNameBuffer[0] = 0;
    if (lpVolumeSerialNumber) *lpVolumeSerialNumber = 0x5E1F0C4D;
    if (lpMaximumComponentLength) *lpMaximumComponentLength = 255;
    if (lpFileSystemFlags)
        *lpFileSystemFlags = acls ? FS_CASE_SENSITIVE | FS_CASE_IS_PRESERVED |
                                        FS_UNICODE_STORED_ON_DISK | FS_PERSISTENT_ACLS
                                  : FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK;
    if (lpFileSystemNameBuffer)
        snprintf(lpFileSystemNameBuffer, nFileSystemNameSize, "%s", acls ? "NTFS" : "FAT32");
    return TRUE;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR StringSecurityDescriptor,
                                                          DWORD StringSDRevision,
                                                          PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                          PULONG SecurityDescriptorSize)
{
    std::string sddl = StringSecurityDescriptor ? StringSecurityDescriptor : "";
    Log("ConvertStringSecurityDescriptorToSecurityDescriptorA " + sddl);
    if (!StringSecurityDescriptor || !SecurityDescriptor) return Fail(ERROR_INVALID_PARAMETER);
    if (StringSDRevision != SDDL_REVISION_1) return Fail(ERROR_UNKNOWN_REVISION);
    std::map<char, std::string> parts;
    if (!SplitSddl(sddl, &parts)) return Fail(ERROR_INVALID_PARAMETER);
    W().install.descriptors.push_back(sddl);
    *SecurityDescriptor = &W().install.descriptors.back();
    if (SecurityDescriptorSize) *SecurityDescriptorSize = ULONG(20 + sddl.size());
    return TRUE;
}

// A part that the flags name and the descriptor lacks is taken away; for
// the DACL that means no DACL at all, which lets everyone do anything.
static void Apply(FileEntry* e, SECURITY_INFORMATION SecurityInformation,
                  const std::string& descriptor)
{
    std::map<char, std::string> parts;
    SplitSddl(descriptor, &parts);
    const SECURITY_INFORMATION flags[4] = {OWNER_SECURITY_INFORMATION, GROUP_SECURITY_INFORMATION,
                                           DACL_SECURITY_INFORMATION, SACL_SECURITY_INFORMATION};
    for (int i = 0; i < 4; ++i) {
        if (!(SecurityInformation & flags[i])) continue;
        auto part = parts.find(kParts[i]);
        if (part != parts.end())
            e->security[kParts[i]] = part->second;
        else if (kParts[i] == 'D')
            e->security['D'] = "NO_ACCESS_CONTROL";
        else
            e->security.erase(kParts[i]);
    }
}

// Through a handle opened for what is changed, onto the object it opened,
// wherever its name is now.
BOOL SetKernelObjectSecurity(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                             PSECURITY_DESCRIPTOR SecurityDescriptor)
{
    OpenFileRecord* r = FindFileHandle(Handle);
    std::string p;
    FileEntry* e = r ? FindObject(r->object, &p) : nullptr;
    const std::string* descriptor = FindDescriptor(SecurityDescriptor);
    char info[16];
    snprintf(info, sizeof(info), "0x%X", unsigned(SecurityInformation));
    Log("SetKernelObjectSecurity " + (e ? W().spelling[p] : std::string("<no object>")) + " " + info +
        " " + (descriptor ? *descriptor : "<no descriptor>"));
    if (!e) return Fail(ERROR_INVALID_HANDLE);
    if (!descriptor) return Fail(ERROR_INVALID_SECURITY_DESCR);
    if (((SecurityInformation & OWNER_SECURITY_INFORMATION) && !(r->access & WRITE_OWNER)) ||
        ((SecurityInformation & DACL_SECURITY_INFORMATION) && !(r->access & WRITE_DAC)))
        return Fail(ERROR_ACCESS_DENIED);
    auto failure = W().install.failSecurity.find(p);
    if (failure != W().install.failSecurity.end()) return Fail(failure->second);
    if (!W().install.volumeKeepsAcls) return TRUE;  // keeps nothing
    Apply(e, SecurityInformation, *descriptor);
    return TRUE;
}

HLOCAL LocalFree(HLOCAL hMem)
{
    if (!hMem) return nullptr;
    for (auto it = W().install.descriptors.begin(); it != W().install.descriptors.end(); ++it) {
        if (&*it != hMem) continue;
        W().install.descriptors.erase(it);
        return nullptr;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
}
