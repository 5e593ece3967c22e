// Modal dialogs from the executable's templates.
#include "platform/afxwin.h"

#include <string.h>

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd)
{
}

INT_PTR CDialog::DoModal()
{
    HWND hOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    CWnd* pMainWnd = AfxGetMainWnd();
    if (!hOwner && pMainWnd && pMainWnd != this) hOwner = pMainWnd->m_hWnd;

    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEA(m_nIDTemplate), RT_DIALOG);
    INT_PTR nResult = ::DialogBoxParamA(hInst, MAKEINTRESOURCEA(m_nIDTemplate), hOwner,
                                        DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    CWinApp* pApp = AfxGetApp();
    if (pApp && pApp->m_pMainWnd == this) pApp->m_pMainWnd = nullptr;
    return nResult;
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

// A template placed at 0, 0 asks to be centred.
BOOL CDialog::IsTemplateAtOrigin() const
{
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEA(m_nIDTemplate), RT_DIALOG);
    HRSRC hRes = ::FindResourceA(hInst, MAKEINTRESOURCEA(m_nIDTemplate), RT_DIALOG);
    if (!hRes) return FALSE;
    const BYTE* p = static_cast<const BYTE*>(::LockResource(::LoadResource(hInst, hRes)));
    const DWORD cb = ::SizeofResource(hInst, hRes);
    if (!p || cb < 14) return FALSE;
    // DLGTEMPLATEEX starts with version 1 and signature 0xFFFF; x and y follow
    // the help id, the styles and the item count. DLGTEMPLATE has them at 10.
    const bool bEx = p[0] == 1 && p[1] == 0 && p[2] == 0xFF && p[3] == 0xFF;
    const DWORD off = bEx ? 18 : 10;
    if (cb < off + 4) return FALSE;
    short x, y;
    memcpy(&x, p + off, 2);
    memcpy(&y, p + off + 2, 2);
    return x == 0 && y == 0;
}

// Finds the CDialog behind the window and hands it the message. The dialog
// procedure's return rule: WM_INITDIALOG and WM_QUERYDRAGICON answer directly,
// every other handled message answers through DWLP_MSGRESULT.
INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* pDlg;
    if (message == WM_INITDIALOG) {
        pDlg = reinterpret_cast<CDialog*>(lParam);
        pDlg->m_hWnd = hWnd;
        ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        if (pDlg->IsTemplateAtOrigin()) pDlg->CenterWindow();
        return pDlg->OnInitDialog();
    }
    pDlg = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    if (!pDlg) return FALSE;  // messages before WM_INITDIALOG, such as WM_SETFONT

    LRESULT lResult = 0;
    if (!pDlg->OnWndMsg(message, wParam, lParam, &lResult)) return FALSE;
    if (message == WM_QUERYDRAGICON) return lResult;
    ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, lResult);
    return TRUE;
}
