// kernel32's last error and version, and the core of the simulated machine
// that every other file uses: the world, case-folded paths, the call log.
#include "simwin/state.h"

#include <cstdio>

namespace simwin {

World& W()
{
    static World world;
    return world;
}

std::string Lower(const std::string& s)
{
    std::string r = s;
    for (char& c : r) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c == '/') c = '\\';
    }
    return r;
}

void Log(const std::string& call) { W().calls.push_back(call); }

std::string Logged(const char* call, LPCSTR lpArgument)
{
    const std::string argument = lpArgument ? lpArgument : "";
    Log(call + (" " + argument));
    return argument;
}

void Reset() { W() = World(); }

void SetVersion(DWORD version) { W().version = version; }
void SetAnsiCodePage(UINT codePage) { W().acp = codePage; }
int CurrentMbcsCodePage() { return W().mbcp; }

const std::vector<std::string>& Calls() { return W().calls; }

size_t CallIndex(const std::string& prefix)
{
    const auto& calls = W().calls;
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].compare(0, prefix.size(), prefix) == 0) return i;
    return std::string::npos;
}

bool Called(const std::string& prefix) { return CallIndex(prefix) != std::string::npos; }

std::string Hex(DWORD value, int digits)
{
    char hex[16];
    snprintf(hex, sizeof hex, "0x%0*X", digits, unsigned(value));
    return hex;
}

DWORD Injected(const std::map<std::string, DWORD>& failures, const std::string& lowerPath)
{
    auto it = failures.find(lowerPath);
    return it == failures.end() ? 0 : it->second;
}

}  // namespace simwin

using namespace simwin;

DWORD GetLastError() { return W().lastError; }
void SetLastError(DWORD dwErrCode) { W().lastError = dwErrCode; }
DWORD GetVersion() { return W().version; }
