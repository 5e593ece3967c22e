// The driver package: where its three files come from and where they go.
// Nothing here is configurable; the names are the maker's.
#pragma once

#include "platform/winapi.h"

#define DRIVER_PACKAGE_FOLDER "Ombrel_K58_USB_Driver-Win2kXp_Modem"
#define DRIVER_TARGET_ROOT "C:\\RuruRIZIrizuViz"
#define DRIVER_TARGET_FOLDER DRIVER_TARGET_ROOT "\\" DRIVER_PACKAGE_FOLDER

struct DRIVER_FILE {
    LPCSTR lpszSource;  // relative to the executable's folder
    LPCSTR lpszTarget;  // absolute
};

// In the order they are copied; the INF comes first and is the one registered.
#define DRIVER_FILE_COUNT 3
extern const DRIVER_FILE g_driverFiles[DRIVER_FILE_COUNT];
#define DRIVER_INF_TARGET (g_driverFiles[0].lpszTarget)
