// The one application object of Wirenest.exe, built before WinMain runs.
#include "app/InstallerApp.h"

CInstallerApp theApp;
