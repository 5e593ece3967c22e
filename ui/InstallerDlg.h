// The installer's only main window: two instruction lines, OK and Cancel.
#pragma once

#include "platform/afxwin.h"
#include "res/resource.h"

class CInstallerDlg : public CDialog
{
public:
    explicit CInstallerDlg(CWnd* pParent = nullptr);

    // The executable's folder, filled while the dialog opens.
    CString m_strModuleDir;

protected:
    HICON m_hIcon;  // shared icon: never destroyed here

    BOOL OnInitDialog() override;
    // Installs the driver package (install/).
    void OnOK() override;
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();

    DECLARE_MESSAGE_MAP()
};
