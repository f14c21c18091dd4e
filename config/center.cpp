// Centres a dialog on the screen, whatever its owner's position.
// Used by the Options and About dialogs at initialisation.
#include "library.h"

void CenterDialog(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    int x = GetSystemMetrics(SM_CXFULLSCREEN) / 2 - width / 2;
    int y = GetSystemMetrics(SM_CYFULLSCREEN) / 2 - height / 2;
    SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
