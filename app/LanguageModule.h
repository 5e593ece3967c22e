// The language resource module: the one place the user's texts come from.
#pragma once

#include "platform/afxwin.h"

// String IDs every language module carries.
#define IDS_STEP1 1
#define IDS_STEP2 2
#define IDS_INSTALL_OK 3
#define IDS_INSTALL_FAILED 4

class CLanguageModule
{
public:
    CLanguageModule();
    virtual ~CLanguageModule();

    // Loads the module; TRUE on success. The framework's resources stay the
    // executable's: only LoadString reads the module.
    BOOL Load(CString strPath);
    // String nID of the module, or empty when it has none.
    CString LoadString(DWORD nID);

    HMODULE m_hModule;
    HMODULE m_hPrevResource;

private:
    CLanguageModule(const CLanguageModule&) = delete;
    CLanguageModule& operator=(const CLanguageModule&) = delete;
};
