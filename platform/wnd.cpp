// Message maps and the window and menu wrappers.
#include "platform/afxwin.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {{0, 0, AfxSig_end, nullptr}};
    static const AFX_MSGMAP messageMap = {nullptr, &_messageEntries[0]};
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(const AFX_MSGMAP* pMap, UINT nMessage,
                                                     UINT nID)
{
    for (; pMap; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = pMap->lpEntries; e->nSig != AfxSig_end; ++e) {
            if (e->nMessage == nMessage && e->nID == nID) return e;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID)
{
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(GetMessageMap(), WM_COMMAND, nID);
    if (!e) return FALSE;
    (this->*e->pfn)();
    return TRUE;
}

// ---------------------------------------------------------------------------

CMenu* CMenu::FromHandle(HMENU hMenu)
{
    static CMenu s_temp;
    if (!hMenu) return nullptr;
    s_temp.m_hMenu = hMenu;
    return &s_temp;
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    static CWnd s_temp;
    if (!hWnd) return nullptr;
    s_temp.m_hWnd = hWnd;
    return &s_temp;
}

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const
{
    return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert));
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() { return CCmdTarget::GetThisMessageMap(); }
const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

void CWnd::CenterWindow()
{
    RECT rcWnd, rcArea, rcWork;
    ::GetWindowRect(m_hWnd, &rcWnd);
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &rcWork, 0);
    HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
    if (hOwner)
        ::GetWindowRect(hOwner, &rcArea);
    else
        rcArea = rcWork;
    const int cx = rcWnd.right - rcWnd.left, cy = rcWnd.bottom - rcWnd.top;
    int x = (rcArea.left + rcArea.right) / 2 - cx / 2;
    int y = (rcArea.top + rcArea.bottom) / 2 - cy / 2;
    // Keep the whole window on the work area.
    if (x + cx > rcWork.right) x = rcWork.right - cx;
    if (y + cy > rcWork.bottom) y = rcWork.bottom - cy;
    if (x < rcWork.left) x = rcWork.left;
    if (y < rcWork.top) y = rcWork.top;
    // Activating here is what showing the dialog does anyway; without it Wine
    // leaves the caption of a freshly started program drawn inactive.
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

LRESULT CWnd::Default()
{
    m_bCallDefault = TRUE;
    return 0;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM)
{
    const UINT nID = LOWORD(wParam);
    if (OnCmdMsg(nID)) return TRUE;
    // Commands the main window leaves alone go on to the application.
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->m_pMainWnd == this && pApp->OnCmdMsg(nID);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    *pResult = 0;
    if (message == WM_COMMAND) return OnCommand(wParam, lParam);
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(GetMessageMap(), message, 0);
    if (!e) return FALSE;

    // A handler may open a modal box that sends this window more messages.
    const BOOL bOuterDefault = m_bCallDefault;
    m_bCallDefault = FALSE;
    switch (e->nSig) {
    case AfxSig_vv:
        (this->*e->pfn)();
        break;
    case AfxSig_vwl:
        (this->*reinterpret_cast<void (CWnd::*)(UINT, LPARAM)>(e->pfn))(UINT(wParam), lParam);
        break;
    case AfxSig_hv:
        *pResult = reinterpret_cast<LRESULT>((this->*reinterpret_cast<HCURSOR (CWnd::*)()>(e->pfn))());
        break;
    }
    const BOOL bDefault = m_bCallDefault;
    m_bCallDefault = bOuterDefault;
    return !bDefault;
}
