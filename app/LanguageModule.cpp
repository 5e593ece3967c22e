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
    m_hModule = ::LoadLibraryA(strPath);
    return m_hModule != nullptr;
}

CString CLanguageModule::LoadString(DWORD nID)
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    // Point the framework at the module just for this one lookup.
    if (m_hModule) pState->m_hCurrentResourceHandle = m_hModule;
    CString str;
    str.LoadString(nID);
    if (pState->m_hCurrentResourceHandle == m_hModule)
        pState->m_hCurrentResourceHandle = m_hPrevResource;
    return str;
}
