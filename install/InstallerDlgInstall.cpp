// What OK does: check the platform, lay down the folder tree on drive C,
// copy the driver package into it, register its INF and tell the user.
#include "ui/InstallerDlg.h"

#include "app/InstallerApp.h"
#include "install/DriverPackage.h"
#include "install/FolderSecurity.h"
#include "install/PackageCopy.h"
#include "platform/dllsearch.h"

typedef BOOL(WINAPI* PFN_SETUPCOPYOEMINFA)(LPCSTR, LPCSTR, DWORD, DWORD, LPSTR, DWORD, LPDWORD,
                                            LPSTR*);

// Registers the copied INF without replacing anything in the system's INF
// store; an INF already stored is confirmed in replace-only mode. The Setup
// API is taken from the system folder by full path, never by name from
// beside the program; without it nothing is registered.
static BOOL RegisterDriverInf()
{
    HMODULE hSetupApi = LoadSystemLibrary("setupapi.dll");
    if (!hSetupApi) return FALSE;
    const PFN_SETUPCOPYOEMINFA pfnSetupCopyOEMInfA =
        reinterpret_cast<PFN_SETUPCOPYOEMINFA>(::GetProcAddress(hSetupApi, "SetupCopyOEMInfA"));
    BOOL bRegistered = FALSE;
    if (pfnSetupCopyOEMInfA) {
        CHAR szDestinationName[260];
        LPSTR pszDestinationComponent = nullptr;
        bRegistered = pfnSetupCopyOEMInfA(DRIVER_INF_TARGET, nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE,
                                          szDestinationName, sizeof(szDestinationName), nullptr,
                                          &pszDestinationComponent);
        if (!bRegistered && ::GetLastError() == ERROR_FILE_EXISTS)
            bRegistered = pfnSetupCopyOEMInfA(DRIVER_INF_TARGET, nullptr, SPOST_PATH,
                                              SP_COPY_REPLACEONLY, szDestinationName,
                                              sizeof(szDestinationName), nullptr,
                                              &pszDestinationComponent);
    }
    ::FreeLibrary(hSetupApi);
    return bRegistered;
}

void CInstallerDlg::OnOK()
{
    const CString strModuleDir = m_strModuleDir;

    // The driver is for the NT family. Windows 95, 98 and Me end quietly;
    // the Win32s layer of 16-bit Windows is told why and may try again.
    const DWORD dwVersion = ::GetVersion();
    if (dwVersion & 0x80000000) {
        if (LOBYTE(dwVersion) >= 4) {
            CDialog::OnOK();
            return;
        }
        AfxMessageBox("For Windows only !", MB_OK | MB_ICONHAND);
        return;
    }

    // One installer at a time, and nothing goes into a folder that others
    // may still write to, nor into one made through a planted link.
    CPackageLock packageLock;
    BOOL bInstalled = packageLock.IsHeld() && ProtectDriverFolders() &&
                      CopyDriverPackage(strModuleDir);
    if (bInstalled) bInstalled = RegisterDriverInf();
    packageLock.Unlock();  // before the box, which waits for the user

    const CString strMessage =
        GetInstallerApp()->m_langModule.LoadString(bInstalled ? IDS_INSTALL_OK : IDS_INSTALL_FAILED);
    AfxMessageBox(strMessage, MB_OK | MB_ICONINFORMATION);
    CDialog::OnOK();
}
