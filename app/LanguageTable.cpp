#include "app/LanguageTable.h"

// The numbers are Windows primary and sub-language identifiers.
enum {
    PRIM_CHINESE = 4,  // with SUB 1 traditional, 2 simplified
    PRIM_SPANISH = 10, // with SUB 3 the modern sort
    PRIM_THAI = 30,
};

LPCSTR LanguageModuleFileName(DWORD dwPrimLangID, DWORD dwSubLangID)
{
    switch (dwPrimLangID) {
    case PRIM_CHINESE:
        if (dwSubLangID == 1) return "\\DravikChtRes.dll";
        if (dwSubLangID == 2) return "\\DravikChsRes.dll";
        break;
    case PRIM_SPANISH:
        if (dwSubLangID == 3) return "\\DravikSpnRes.dll";
        break;
    case PRIM_THAI:
        return "\\DravikThaiRes.dll";
    }
    return "\\DravikEngRes.dll";
}
