// The application object: picks the language, loads its module and runs
// the installer dialog.
#pragma once

#include "app/LanguageModule.h"
#include "platform/afxwin.h"

// Where the phone suite keeps the user's language choice (HKCU).
#define LANGUAGE_SETTINGS_KEY "SOFTWARE\\Ombrel\\Pelmora\\Settings"

class CInstallerApp : public CWinApp
{
public:
    CInstallerApp();
    BOOL InitInstance() override;

    CLanguageModule m_langModule;

    DECLARE_MESSAGE_MAP()
};

// The one application object, as every part of the program reaches it.
CInstallerApp* GetInstallerApp();

// Reads PrimLangID and then, only if that worked, SubLangID; unread or
// unreadable numbers stay 0.
void ReadLanguageSettings(DWORD* pdwPrimLangID, DWORD* pdwSubLangID);
