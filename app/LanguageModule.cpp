#include "app/LanguageModule.h"

CLanguageModule::CLanguageModule() : m_hModule(nullptr), m_hPrevResource(nullptr) {}

CLanguageModule::~CLanguageModule()
{
    if (m_hModule) ::FreeLibrary(m_hModule);
    m_hModule = nullptr;
    m_hPrevResource = nullptr;
}

BOOL CLanguageModule::Load(CString strPath)
{
    m_hPrevResource = AfxGetModuleState()->m_hCurrentResourceHandle;
    // Mapped as data: only its string table is read, and none of its code
    // runs, whatever it holds.
    m_hModule = ::LoadLibraryExA(strPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return m_hModule != nullptr;
}

// TRUE when cb bytes from p are committed, readable memory of the module.
// A module mapped as data is a plain file mapping, and its handle is the
// mapping's address with the low bits used as flags.
static BOOL IsModuleMemory(HMODULE hModule, const BYTE* p, DWORD cb)
{
    const LPVOID pBase = reinterpret_cast<LPVOID>(reinterpret_cast<UINT_PTR>(hModule) & ~UINT_PTR(3));
    SIZE_T left = cb;
    while (left) {
        MEMORY_BASIC_INFORMATION mbi;
        if (!::VirtualQuery(p, &mbi, sizeof(mbi))) return FALSE;
        if (mbi.AllocationBase != pBase || mbi.State != MEM_COMMIT) return FALSE;
        if (mbi.Protect & (PAGE_NOACCESS | PAGE_EXECUTE | PAGE_GUARD)) return FALSE;
        const SIZE_T inRegion = mbi.RegionSize - SIZE_T(p - static_cast<const BYTE*>(mbi.BaseAddress));
        if (inRegion >= left) return TRUE;
        left -= inRegion;
        p += inRegion;
    }
    return TRUE;
}

// Windows trusts the module's resource offsets: a damaged module can point
// its data entry or its block outside the image, or give a length that runs
// past the block, and SizeofResource or LoadStringA then reads whatever lies
// there or faults. TRUE when the data entry, string nID and every length
// word before it lie inside the module.
static BOOL IsStringWithinModule(HMODULE hModule, DWORD nID)
{
    const WORD id = LOWORD(nID);  // as LoadStringA reads it
    // The handle is the data entry's address, wherever the directory put it.
    HRSRC hRes = ::FindResourceA(hModule, MAKEINTRESOURCEA(id / 16 + 1), RT_STRING);
    if (!hRes || !IsModuleMemory(hModule, reinterpret_cast<const BYTE*>(hRes), sizeof(IMAGE_RESOURCE_DATA_ENTRY)))
        return FALSE;
    const DWORD cb = ::SizeofResource(hModule, hRes);
    HGLOBAL hData = ::LoadResource(hModule, hRes);
    const BYTE* p = hData ? static_cast<const BYTE*>(::LockResource(hData)) : nullptr;
    if (!p || !IsModuleMemory(hModule, p, cb)) return FALSE;
    // The block is 16 counted UTF-16 strings, each a length word and its
    // characters; byte reads, as a damaged block need not be aligned.
    DWORD at = 0;
    for (WORD k = id % 16;; --k) {
        if (cb < 2 || at > cb - 2) return FALSE;
        const DWORD len = p[at] | (DWORD(p[at + 1]) << 8);
        if (2 * len > cb - 2 - at) return FALSE;
        if (!k) return TRUE;
        at += 2 + 2 * len;
    }
}

CString CLanguageModule::LoadString(DWORD nID)
{
    // A string the module cannot hold safely reads as missing.
    if (m_hModule && !IsStringWithinModule(m_hModule, nID)) return CString();
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    // Point the framework at the module just for this one lookup.
    if (m_hModule) pState->m_hCurrentResourceHandle = m_hModule;
    CString str;
    str.LoadString(nID);
    if (pState->m_hCurrentResourceHandle == m_hModule)
        pState->m_hCurrentResourceHandle = m_hPrevResource;
    return str;
}
