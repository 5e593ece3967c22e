// The About box: icon, name and version, copyright notice and OK.
#pragma once

#include "platform/afxwin.h"
#include "res/resource.h"

// Everything is the framework's default: OK ends it with IDOK, Escape and
// the caption's close button with IDCANCEL. With no parent the framework
// makes the main window its owner and centres it over that window.
class CAboutBox : public CDialog
{
public:
    CAboutBox();

    DECLARE_MESSAGE_MAP()
};
