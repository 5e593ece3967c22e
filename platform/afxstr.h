// CString: the framework's 8-bit string in the ANSI code page.
#pragma once

#include "platform/winapi.h"

class CString
{
public:
    CString();
    CString(const CString& stringSrc);
    CString(LPCSTR lpsz);
    ~CString();

    CString& operator=(const CString& stringSrc);
    CString& operator=(LPCSTR lpsz);
    CString& operator+=(LPCSTR lpsz);
    friend CString operator+(const CString& string, LPCSTR lpsz);
    friend CString operator+(LPCSTR lpsz, const CString& string);

    operator LPCSTR() const { return m_pchData; }
    int GetLength() const { return m_nDataLength; }
    BOOL IsEmpty() const { return m_nDataLength == 0; }

    // Loads string nID from the framework's current resource handle; an
    // absent ID leaves the string empty and returns FALSE.
    BOOL LoadString(UINT nID);
    void Format(LPCSTR lpszFormat, ...);

    // Direct access for API calls that fill a buffer.
    LPSTR GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);

private:
    void Assign(LPCSTR lpsz, int nLength);
    void Append(LPCSTR lpsz, int nLength);
    void Reserve(int nLength);

    LPSTR m_pchData;     // always terminated; points at s_empty when nothing is held
    int m_nDataLength;
    int m_nAllocLength;
    static char s_empty[1];
};
