// Resource identifiers of Wirenest.exe.
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT_MENU 101
#define IDD_INSTALLER 102
#define IDI_APP 128

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_STEP1_TEXT 1001
#define IDC_STEP2_TEXT 1002

// System-menu command of the About entry; the low four bits are the system's.
#define ID_SYSMENU_ABOUT 0x0010

// The maker's notice: the About box and the version block show the same text.
#define WIRENEST_COPYRIGHT "Copyright (C) Ombrel Mobile"
