// The application object, the module state and the framework's entry.
#include "platform/afxwin.h"
#include "platform/dllsearch.h"

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

AFX_MODULE_STATE* AfxGetModuleState()
{
    static AFX_MODULE_STATE s_state = {nullptr, nullptr, nullptr};
    return &s_state;
}

CWinApp* AfxGetApp() { return AfxGetModuleState()->m_pCurrentWinApp; }

CWnd* AfxGetMainWnd()
{
    CWinApp* pApp = AfxGetApp();
    return pApp ? pApp->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetResourceHandle() { return AfxGetModuleState()->m_hCurrentResourceHandle; }

HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType)
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    if (pState->m_hCurrentResourceHandle &&
        ::FindResourceA(pState->m_hCurrentResourceHandle, lpszName, lpszType))
        return pState->m_hCurrentResourceHandle;
    return pState->m_hCurrentInstanceHandle;
}

int AfxMessageBox(LPCSTR lpszText, UINT nType)
{
    CWinApp* pApp = AfxGetApp();
    CWnd* pMainWnd = AfxGetMainWnd();
    return ::MessageBoxA(pMainWnd ? pMainWnd->m_hWnd : nullptr, lpszText,
                         pApp ? pApp->m_pszAppName : nullptr, nType);
}

CString AfxGetModuleFileName(HMODULE hModule)
{
    // MAX_PATH first; a longer path is read whole rather than cut. A result
    // that fills the buffer may have been cut (and, on XP, left unterminated).
    CString strPath;
    for (DWORD nSize = 260; nSize <= 32768; nSize *= 2) {
        DWORD nLen = ::GetModuleFileNameA(hModule, strPath.GetBuffer(int(nSize)), nSize);
        if (nLen == 0) {
            strPath.ReleaseBuffer(0);
            return strPath;
        }
        if (nLen < nSize) {
            strPath.ReleaseBuffer(int(nLen));
            return strPath;
        }
    }
    strPath.ReleaseBuffer(0);
    return strPath;
}

// ---------------------------------------------------------------------------

CWinApp::CWinApp(LPCSTR lpszAppName)
    : m_hInstance(nullptr),
      m_pMainWnd(nullptr),
      m_pszAppName(nullptr),
      m_pszHelpFilePath(nullptr),
      m_strAppName(lpszAppName)
{
    if (lpszAppName) m_pszAppName = m_strAppName;
    AfxGetModuleState()->m_pCurrentWinApp = this;
}

CWinApp::~CWinApp()
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    if (pState->m_pCurrentWinApp == this) pState->m_pCurrentWinApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

void CWinApp::SetAppNameFromModule()
{
    // The help file sits beside the executable: Name.exe -> Name.HLP.
    CString strPath = AfxGetModuleFileName(m_hInstance);
    LPSTR pszPath = strPath.GetBuffer(strPath.GetLength());
    LPSTR pszName = reinterpret_cast<LPSTR>(
        _mbsrchr(reinterpret_cast<unsigned char*>(pszPath), '\\'));
    pszName = pszName ? pszName + 1 : pszPath;
    LPSTR pszExt = reinterpret_cast<LPSTR>(
        _mbsrchr(reinterpret_cast<unsigned char*>(pszName), '.'));
    const int nStem = int(pszExt ? pszExt - pszPath : strPath.GetLength());
    strPath.ReleaseBuffer(nStem);

    if (!m_pszAppName) {
        m_strAppName = static_cast<LPCSTR>(strPath) + (pszName - pszPath);
        m_pszAppName = m_strAppName;
    }
    m_strHelpFilePath = strPath + ".HLP";
    m_pszHelpFilePath = m_strHelpFilePath;
}

void CWinApp::OnHelp()
{
    CWnd* pMainWnd = AfxGetMainWnd();
    ::WinHelpA(pMainWnd ? pMainWnd->m_hWnd : nullptr, m_pszHelpFilePath, HELP_FINDER, 0);
}

int AfxWinMain(HINSTANCE hInstance)
{
#ifndef WIRENEST_TEST_NO_DLL_GUARD  // a test-only build shows what the guard prevents
    RestrictDllSearchToSystem();
#endif
    _setmbcp(_MB_CP_ANSI);
    CWinApp* pApp = AfxGetApp();
    if (!pApp) return -1;

    AFX_MODULE_STATE* pState = AfxGetModuleState();
    pState->m_hCurrentInstanceHandle = hInstance;
    pState->m_hCurrentResourceHandle = hInstance;
    pApp->m_hInstance = hInstance;
    pApp->SetAppNameFromModule();

    // The program does all of its work inside InitInstance; there is no
    // message loop to run afterwards, whatever it returns.
    pApp->InitInstance();
    return 0;
}
