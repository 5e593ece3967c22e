// msvcrt's multibyte helpers, over the code page the machine was given, and
// its formatting with Windows' answer to a result that does not fit.
#include "simwin/state.h"

#include <cstdio>

namespace simwin {

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
