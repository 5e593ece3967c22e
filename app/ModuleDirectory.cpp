#include "app/ModuleDirectory.h"

CString ModuleDirectory()
{
    CString strDir = AfxGetModuleFileName(nullptr);
    LPSTR pszPath = strDir.GetBuffer(strDir.GetLength());
    unsigned char* pSlash = _mbsrchr(reinterpret_cast<unsigned char*>(pszPath), '\\');
    strDir.ReleaseBuffer(pSlash ? int(reinterpret_cast<LPSTR>(pSlash) - pszPath) : -1);
    return strDir;
}
