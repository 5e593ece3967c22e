// advapi32's security of files and folders: descriptors made from SDDL, and
// the owner and DACL set through a handle. Descriptors are kept as their
// SDDL, which is what tests compare; LocalFree (kernel32) frees them here.
#include "simwin/state.h"

#include <cstring>

namespace simwin {

void FailSecurity(const std::string& path, DWORD error) { W().failSecurity[Lower(path)] = error; }

size_t HeldSecurityDescriptors() { return W().descriptors.size(); }

static const char kParts[] = "OGDS";

std::string SecurityOf(const std::string& path)
{
    const FileEntry* e = FindPath(Lower(path));
    if (!e) return "";
    std::string sddl;
    for (const char* p = kParts; *p; ++p) {
        auto part = e->security.find(*p);
        if (part != e->security.end()) sddl += std::string(1, *p) + ":" + part->second;
    }
    return sddl;
}

// "O:BAD:P(...)" as {'O': "BA", 'D': "P(...)"}: 0, or the error of a string
// that is not SDDL made of those parts (an ACE left open is the ACL's error).
static DWORD SplitSddl(const std::string& sddl, std::map<char, std::string>* parts)
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
        if ((c == ')' && --depth < 0) || !current) return ERROR_INVALID_PARAMETER;
        (*parts)[current] += c;
    }
    return depth ? ERROR_INVALID_ACL : parts->empty() ? ERROR_INVALID_PARAMETER : 0;
}

}  // namespace simwin

using namespace simwin;

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR StringSecurityDescriptor,
                                                          DWORD StringSDRevision,
                                                          PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                          PULONG SecurityDescriptorSize)
{
    const std::string sddl = Logged("ConvertStringSecurityDescriptorToSecurityDescriptorA",
                                    StringSecurityDescriptor);
    if (!StringSecurityDescriptor || !SecurityDescriptor) return Fail(ERROR_INVALID_PARAMETER);
    if (StringSDRevision != SDDL_REVISION_1) return Fail(ERROR_UNKNOWN_REVISION);
    std::map<char, std::string> parts;
    if (DWORD error = SplitSddl(sddl, &parts)) return Fail(error);
    W().descriptors.push_back(sddl);
    *SecurityDescriptor = &W().descriptors.back();
    if (SecurityDescriptorSize) *SecurityDescriptorSize = ULONG(20 + sddl.size());
    return TRUE;
}

// A part that the flags name and the descriptor lacks is taken away; for
// the DACL that means no DACL at all, which lets everyone do anything.
static void Apply(FileEntry* e, SECURITY_INFORMATION SecurityInformation, const std::string& descriptor)
{
    std::map<char, std::string> parts;
    SplitSddl(descriptor, &parts);
    const SECURITY_INFORMATION flags[4] = {OWNER_SECURITY_INFORMATION, GROUP_SECURITY_INFORMATION,
                                           DACL_SECURITY_INFORMATION, SACL_SECURITY_INFORMATION};
    for (int i = 0; i < 4; ++i) {
        const char c = kParts[i];
        if (!(SecurityInformation & flags[i])) continue;
        if (parts.count(c)) e->security[c] = parts[c];
        else if (c == 'D') e->security['D'] = "NO_ACCESS_CONTROL";
        else e->security.erase(c);
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
    const std::string* descriptor = FindByAddress(W().descriptors, SecurityDescriptor);
    Log("SetKernelObjectSecurity " + (e ? e->name : std::string("<no object>")) + " " +
        Hex(SecurityInformation) + " " + (descriptor ? *descriptor : "<no descriptor>"));
    if (!e) return Fail(ERROR_INVALID_HANDLE);
    if (!descriptor) return Fail(ERROR_INVALID_SECURITY_DESCR);
    if (((SecurityInformation & OWNER_SECURITY_INFORMATION) && !(r->access & WRITE_OWNER)) ||
        ((SecurityInformation & DACL_SECURITY_INFORMATION) && !(r->access & WRITE_DAC)))
        return Fail(ERROR_ACCESS_DENIED);
    if (DWORD error = Injected(W().failSecurity, p)) return Fail(error);
    if (!W().volumeKeepsAcls) return TRUE;  // keeps nothing
    Apply(e, SecurityInformation, *descriptor);
    return TRUE;
}

HLOCAL LocalFree(HLOCAL hMem)
{
    if (!hMem) return nullptr;
    auto it = ByAddress(W().descriptors, hMem);
    if (it == W().descriptors.end()) return Fail(ERROR_INVALID_HANDLE, hMem);
    W().descriptors.erase(it);
    return nullptr;
}
