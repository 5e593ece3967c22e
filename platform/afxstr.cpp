#include "platform/afxstr.h"
#include "platform/afxwin.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

char CString::s_empty[1] = {0};

CString::CString() : m_pchData(s_empty), m_nDataLength(0), m_nAllocLength(0) {}

CString::CString(const CString& stringSrc) : CString()
{
    Assign(stringSrc.m_pchData, stringSrc.m_nDataLength);
}

CString::CString(LPCSTR lpsz) : CString()
{
    if (lpsz) Assign(lpsz, int(strlen(lpsz)));
}

CString::~CString()
{
    if (m_pchData != s_empty) free(m_pchData);
}

CString& CString::operator=(const CString& stringSrc)
{
    if (this != &stringSrc) Assign(stringSrc.m_pchData, stringSrc.m_nDataLength);
    return *this;
}

CString& CString::operator=(LPCSTR lpsz)
{
    Assign(lpsz ? lpsz : "", lpsz ? int(strlen(lpsz)) : 0);
    return *this;
}

CString& CString::operator+=(LPCSTR lpsz)
{
    if (lpsz) Append(lpsz, int(strlen(lpsz)));
    return *this;
}

CString operator+(const CString& string, LPCSTR lpsz)
{
    CString s(string);
    s += lpsz;
    return s;
}

CString operator+(LPCSTR lpsz, const CString& string)
{
    CString s(lpsz);
    s += string;
    return s;
}

void CString::Reserve(int nLength)
{
    if (nLength <= m_nAllocLength) return;
    int nAlloc = nLength < 64 ? 64 : nLength + nLength / 2;
    char* p = static_cast<char*>(m_pchData == s_empty ? malloc(nAlloc + 1)
                                                      : realloc(m_pchData, nAlloc + 1));
    if (!p) abort();  // nothing sensible is left to do without memory
    if (m_pchData == s_empty) p[0] = 0;
    m_pchData = p;
    m_nAllocLength = nAlloc;
}

void CString::Assign(LPCSTR lpsz, int nLength)
{
    if (nLength == 0) {
        if (m_pchData != s_empty) m_pchData[0] = 0;
        m_nDataLength = 0;
        return;
    }
    Reserve(nLength);
    memmove(m_pchData, lpsz, nLength);
    m_pchData[nLength] = 0;
    m_nDataLength = nLength;
}

void CString::Append(LPCSTR lpsz, int nLength)
{
    if (nLength == 0) return;
    if (lpsz >= m_pchData && lpsz <= m_pchData + m_nDataLength) {
        CString copy(lpsz);  // appending a piece of ourselves
        Append(copy.m_pchData, copy.m_nDataLength);
        return;
    }
    Reserve(m_nDataLength + nLength);
    memcpy(m_pchData + m_nDataLength, lpsz, nLength);
    m_nDataLength += nLength;
    m_pchData[m_nDataLength] = 0;
}

LPSTR CString::GetBuffer(int nMinBufLength)
{
    Reserve(nMinBufLength < 1 ? 1 : nMinBufLength);
    return m_pchData;
}

void CString::ReleaseBuffer(int nNewLength)
{
    if (m_pchData == s_empty) return;
    if (nNewLength < 0) nNewLength = int(strlen(m_pchData));
    if (nNewLength > m_nAllocLength) nNewLength = m_nAllocLength;
    m_pchData[nNewLength] = 0;
    m_nDataLength = nNewLength;
}

BOOL CString::LoadString(UINT nID)
{
    // A string table entry holds at most 65535 UTF-16 units, twice as many
    // bytes in a double-byte code page. LoadStringA writes no half
    // character: one that does not fit in the last byte leaves that byte
    // empty, so a result one short of full may have been cut too. Grow
    // until the result leaves two bytes to spare.
    for (int nSize = 256;; nSize *= 2) {
        int nLen = ::LoadStringA(AfxGetResourceHandle(), nID, GetBuffer(nSize - 1), nSize);
        ReleaseBuffer(nLen);
        if (nLen < nSize - 2 || nSize > 2 * 65535 + 2) return nLen > 0;
    }
}

void CString::Format(LPCSTR lpszFormat, ...)
{
    for (int nSize = 256;; nSize *= 2) {
        va_list args;
        va_start(args, lpszFormat);
        int nLen = _vsnprintf(GetBuffer(nSize), size_t(nSize) + 1, lpszFormat, args);
        va_end(args);
        if (nLen >= 0) {
            ReleaseBuffer(nLen);
            return;
        }
        if (nSize >= (1 << 20)) {  // a broken format: keep what was written
            ReleaseBuffer(nSize);
            return;
        }
    }
}
