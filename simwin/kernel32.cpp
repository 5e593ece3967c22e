// Platform facts, error codes, the call log and msvcrt's multibyte helpers.
#include "simwin/state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

// Lead-byte ranges of the double-byte ANSI code pages.
static bool IsLeadByte(int codePage, unsigned char b)
{
    switch (codePage) {
    case 932: return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936:
    case 949:
    case 950: return b >= 0x81 && b <= 0xFE;
    default: return false;
    }
}

}  // namespace simwin

using namespace simwin;

DWORD GetLastError() { return W().lastError; }
void SetLastError(DWORD dwErrCode) { W().lastError = dwErrCode; }
DWORD GetVersion() { return W().version; }
UINT GetACP() { return W().acp; }

int _setmbcp(int codepage)
{
    W().mbcp = codepage == _MB_CP_ANSI ? int(W().acp) : codepage;
    Log("_setmbcp " + std::to_string(W().mbcp));
    return 0;
}

unsigned char* _mbsrchr(const unsigned char* str, unsigned int c)
{
    const unsigned char* last = nullptr;
    for (const unsigned char* p = str; *p; ++p) {
        if (IsLeadByte(W().mbcp, *p)) {
            if (!p[1]) break;  // a lone lead byte ends the string
            ++p;               // the trail byte is part of the character
            continue;
        }
        if (*p == c) last = p;
    }
    return const_cast<unsigned char*>(last);
}

int _vsnprintf(char* buffer, size_t count, const char* format, va_list argptr)
{
    int n = vsnprintf(buffer, count, format, argptr);
    // msvcrt reports a result that does not fit, terminator included, as -1.
    if (n < 0 || size_t(n) >= count) return -1;
    return n;
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    HINSTANCE__* m = hModule ? FindModule(hModule) : W().exe.get();
    if (!m) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    Log("GetModuleFileNameA " + std::to_string(nSize));
    const std::string& path = m->path;
    if (path.size() < nSize) {
        memcpy(lpFilename, path.c_str(), path.size() + 1);
        return DWORD(path.size());
    }
    // As on Windows XP: a cut copy with no terminator, and the full size.
    memcpy(lpFilename, path.data(), nSize);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}
