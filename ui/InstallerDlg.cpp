#include "ui/InstallerDlg.h"

#include "app/InstallerApp.h"
#include "app/ModuleDirectory.h"
#include "ui/AboutBox.h"

BEGIN_MESSAGE_MAP(CInstallerDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CInstallerDlg::CInstallerDlg(CWnd* pParent) : CDialog(IDD_INSTALLER, pParent)
{
    LPCSTR lpszIcon = MAKEINTRESOURCEA(IDI_APP);
    m_hIcon = ::LoadIconA(AfxFindResourceHandle(lpszIcon, RT_GROUP_ICON), lpszIcon);
}

BOOL CInstallerDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The window menu gains an About entry when the system gives us one.
    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUT_MENU);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, ID_SYSMENU_ABOUT, strAboutMenu);
        }
    }

    // The same 32 x 32 icon serves both sizes; the system scales the small one.
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_strModuleDir = ModuleDirectory();

    // The template's English lines are placeholders: always replace them,
    // even with an empty text.
    CLanguageModule& langModule = GetInstallerApp()->m_langModule;
    if (CWnd* pStep1 = GetDlgItem(IDC_STEP1_TEXT))
        pStep1->SetWindowText(langModule.LoadString(IDS_STEP1));
    if (CWnd* pStep2 = GetDlgItem(IDC_STEP2_TEXT))
        pStep2->SetWindowText(langModule.LoadString(IDS_STEP2));

    return TRUE;  // focus to the first tab stop, OK
}

// The About entry opens the About box; every other system command (move,
// close, minimize...) keeps its default processing. The low four bits of a
// system command belong to the system, so they are masked off first.
void CInstallerDlg::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == ID_SYSMENU_ABOUT) {
        CAboutBox dlgAbout;
        dlgAbout.DoModal();
        return;
    }
    Default();
}

// Minimized, the dialog draws its icon centred in the client area.
void CInstallerDlg::OnPaint()
{
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
}

HCURSOR CInstallerDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
