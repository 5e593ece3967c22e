#include "install/DriverPackage.h"

// Letter case as the maker ships them: "INF" upper, "sys" and "exe" lower.
const DRIVER_FILE g_driverFiles[DRIVER_FILE_COUNT] = {
    {"\\" DRIVER_PACKAGE_FOLDER "\\OMK58CDC.INF", DRIVER_TARGET_FOLDER "\\OMK58CDC.INF"},
    {"\\" DRIVER_PACKAGE_FOLDER "\\OMK58CDC.sys", DRIVER_TARGET_FOLDER "\\OMK58CDC.sys"},
    {"\\" DRIVER_PACKAGE_FOLDER "\\OMK58_un.exe", DRIVER_TARGET_FOLDER "\\OMK58_un.exe"},
};
