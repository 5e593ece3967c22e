#include "app/InstallerApp.h"

#include "app/LanguageTable.h"
#include "app/ModuleDirectory.h"
#include "ui/InstallerDlg.h"

BEGIN_MESSAGE_MAP(CInstallerApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CInstallerApp::CInstallerApp() {}

CInstallerApp* GetInstallerApp() { return static_cast<CInstallerApp*>(AfxGetApp()); }

// A number is at most 4 bytes of any type, read little-endian. A longer
// value reads as absent: the API leaves the buffer undefined then.
static BOOL QueryLanguageNumber(HKEY hKey, LPCSTR lpszName, DWORD* pdwValue)
{
    DWORD dwValue = 0;
    DWORD cbData = sizeof(dwValue);
    if (::RegQueryValueExA(hKey, lpszName, nullptr, nullptr, reinterpret_cast<LPBYTE>(&dwValue),
                           &cbData) != ERROR_SUCCESS)
        return FALSE;
    *pdwValue = dwValue;
    return TRUE;
}

void ReadLanguageSettings(DWORD* pdwPrimLangID, DWORD* pdwSubLangID)
{
    *pdwPrimLangID = 0;
    *pdwSubLangID = 0;
    HKEY hKey;
    if (::RegOpenKeyA(HKEY_CURRENT_USER, LANGUAGE_SETTINGS_KEY, &hKey) != ERROR_SUCCESS) return;
    if (QueryLanguageNumber(hKey, "PrimLangID", pdwPrimLangID))
        QueryLanguageNumber(hKey, "SubLangID", pdwSubLangID);
    ::RegCloseKey(hKey);
}

BOOL CInstallerApp::InitInstance()
{
    Enable3dControls();

    DWORD dwPrimLangID, dwSubLangID;
    ReadLanguageSettings(&dwPrimLangID, &dwSubLangID);
    CString strPath = ModuleDirectory() + LanguageModuleFileName(dwPrimLangID, dwSubLangID);

    if (!m_langModule.Load(strPath)) {
        CString strMessage;
        strMessage.Format("Couldn't load file with path: %s.", static_cast<LPCSTR>(strPath));
        ::MessageBoxA(nullptr, strMessage, "Error", MB_ICONHAND);
        return FALSE;
    }

    CInstallerDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    return FALSE;
}
