// The three copies of the driver package and their check, made so that a
// failed or interrupted run never blocks the next one.
#pragma once

#include "platform/afxstr.h"

// Between the first copy and the end of the registration only one
// installer runs; a second one started at the same moment waits here.
// Held from construction until Unlock or destruction, if IsHeld says so.
#define PACKAGE_LOCK_NAME "Wirenest.Ombrel_K58_USB_Driver-Win2kXp_Modem"
#define PACKAGE_LOCK_WAIT_MS 30000

class CPackageLock
{
public:
    CPackageLock();
    ~CPackageLock();
    BOOL IsHeld() const { return m_bHeld; }
    void Unlock();

private:
    CPackageLock(const CPackageLock&) = delete;
    CPackageLock& operator=(const CPackageLock&) = delete;

    HANDLE m_hMutex;
    BOOL m_bHeld;
};

// Copies the package from beside the executable to the target folder,
// never over an existing name, and TRUE when every target is then this
// package's file. Run under a held CPackageLock: it deletes the partial
// files of a copy that failed now, and those of an interrupted one.
BOOL CopyDriverPackage(const CString& strModuleDir);
