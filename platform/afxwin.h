// The dialog framework: an application object, modal dialogs from templates,
// static message maps, and the handful of window wrappers the program uses.
// Each wrapper is a thin layer over the Windows call of the same name.
#pragma once

#include "platform/afxstr.h"
#include "platform/winapi.h"

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif
#define IDC_STATIC (-1)

class CCmdTarget;
class CWnd;
class CWinApp;

// ---------------------------------------------------------------------------
// Message maps: one static table per class, searched top to bottom, with the
// base class's table behind it.

typedef void (CCmdTarget::*AFX_PMSG)();

enum AfxSig {
    AfxSig_end = 0,
    AfxSig_vv,   // void Handler()
    AfxSig_vwl,  // void Handler(UINT nID, LPARAM lParam)
    AfxSig_hv,   // HCURSOR Handler(), returned to the system as it is
};

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // WM_ message
    UINT nID;       // command id, for WM_COMMAND entries
    UINT nSig;      // AfxSig: how to call pfn
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                         \
protected:                                            \
    static const AFX_MSGMAP* GetThisMessageMap();     \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                 \
    {                                                                               \
        using ThisClass [[maybe_unused]] = theClass;                                \
        using TheBaseClass = baseClass;                                             \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                       \
        {0, 0, AfxSig_end, nullptr}};                                           \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, \
                                              &_messageEntries[0]};             \
        return &messageMap;                                                     \
    }

// void OnXxx(): a command from a button, a menu or an accelerator.
#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, UINT(id), AfxSig_vv, static_cast<AFX_PMSG>(memberFxn)},

// void OnPaint()
#define ON_WM_PAINT()                    \
    {WM_PAINT, 0, AfxSig_vv,             \
     static_cast<AFX_PMSG>(static_cast<void (CWnd::*)()>(&ThisClass::OnPaint))},

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                    \
    {WM_QUERYDRAGICON, 0, AfxSig_hv,             \
     reinterpret_cast<AFX_PMSG>(static_cast<HCURSOR (CWnd::*)()>(&ThisClass::OnQueryDragIcon))},

// void OnSysCommand(UINT nID, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                       \
    {WM_SYSCOMMAND, 0, AfxSig_vwl,               \
     reinterpret_cast<AFX_PMSG>(static_cast<void (CWnd::*)(UINT, LPARAM)>(&ThisClass::OnSysCommand))},

class CCmdTarget
{
public:
    virtual ~CCmdTarget() {}
    // Runs the ON_COMMAND entry for nID, if this class has one.
    BOOL OnCmdMsg(UINT nID);

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

protected:
    static const AFX_MSGMAP_ENTRY* FindMessageEntry(const AFX_MSGMAP* pMap, UINT nMessage,
                                                    UINT nID);
};

// ---------------------------------------------------------------------------

class CMenu
{
public:
    HMENU m_hMenu;

    // Temporary wrapper, valid until the next FromHandle call; the program
    // has a single thread and uses each wrapper at once.
    static CMenu* FromHandle(HMENU hMenu);
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr)
    {
        return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
    }
};

class CWnd : public CCmdTarget
{
public:
    HWND m_hWnd;

    CWnd() : m_hWnd(nullptr), m_bCallDefault(FALSE) {}

    // Temporary wrapper, valid until the next FromHandle call (see CMenu).
    static CWnd* FromHandle(HWND hWnd);
    CWnd* GetDlgItem(int nID) const;
    CMenu* GetSystemMenu(BOOL bRevert) const;

    void SetWindowText(LPCSTR lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    HICON SetIcon(HICON hIcon, BOOL bBigIcon)
    {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                                                   reinterpret_cast<LPARAM>(hIcon)));
    }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    // Centres the window over its owner, or on the work area without one.
    void CenterWindow();

    // Hands the current message to the default window processing once the
    // handler returns.
    LRESULT Default();

    // Runs the message-map entry for a message; FALSE when there is none or
    // the handler asked for the default processing.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam);

private:
    BOOL m_bCallDefault;
};

class CPaintDC
{
public:
    explicit CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd)
    {
        m_hDC = ::BeginPaint(m_hWnd, &m_ps);
    }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }

    HDC m_hDC;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
};

class CDialog : public CWnd
{
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog modally over its parent, or over the application's
    // main window when it has none; returns the EndDialog result.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

protected:
    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL IsTemplateAtOrigin() const;

    DECLARE_MESSAGE_MAP()
};

// ---------------------------------------------------------------------------

class CWinApp : public CCmdTarget
{
public:
    // With no name the application is named after the executable's file.
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    // Called once after start-up; FALSE ends the program.
    virtual BOOL InitInstance();
    // 3-D controls are the system's own look on every 32-bit Windows.
    BOOL Enable3dControls() { return TRUE; }
    void OnHelp();

    HINSTANCE m_hInstance;
    CWnd* m_pMainWnd;
    LPCSTR m_pszAppName;
    LPCSTR m_pszHelpFilePath;

    // Names the application after its executable; called by AfxWinMain.
    void SetAppNameFromModule();

private:
    CString m_strAppName;
    CString m_strHelpFilePath;

    DECLARE_MESSAGE_MAP()
};

struct AFX_MODULE_STATE {
    CWinApp* m_pCurrentWinApp;
    HINSTANCE m_hCurrentInstanceHandle;
    HINSTANCE m_hCurrentResourceHandle;  // where strings are loaded from
};

AFX_MODULE_STATE* AfxGetModuleState();
CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetResourceHandle();
HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType);
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK);

// The full path of a module, however long.
CString AfxGetModuleFileName(HMODULE hModule);

// The framework's entry: sets the multibyte code page to the ANSI code page,
// runs the application's InitInstance and returns the exit code.
int AfxWinMain(HINSTANCE hInstance);
