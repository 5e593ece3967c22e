// msvcrt's multibyte helpers, over the code page the machine was given, and
// its formatting with Windows' answer to a result that does not fit.
#include "simwin/state.h"

#include <cstdio>
#include <cstring>

namespace simwin {

// Lead-byte ranges of the double-byte ANSI code pages.
static bool IsLeadByte(int codePage, unsigned char b)
{
    if (codePage == 932) return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    return (codePage == 936 || codePage == 949 || codePage == 950) && b >= 0x81 && b <= 0xFE;
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

// msvcrt writes what fits; a result of exactly count characters is left
// unterminated and counted, a longer one answers -1.
int _vsnprintf(char* buffer, size_t count, const char* format, va_list argptr)
{
    va_list again;
    va_copy(again, argptr);
    const int n = vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (n < 0) return -1;
    std::vector<char> whole(size_t(n) + 1);
    vsnprintf(whole.data(), whole.size(), format, argptr);
    memcpy(buffer, whole.data(), std::min(size_t(n) + 1, count));
    return size_t(n) <= count ? n : -1;
}
