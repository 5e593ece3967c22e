// The process entry of the Windows build; the host tests call AfxWinMain.
#include "platform/afxwin.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    return AfxWinMain(hInstance);
}
