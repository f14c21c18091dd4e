// Gives the icon statics of a dialog the frame of their icon that fits the dialog's DPI, so that
// no picture is stretched from another size. Used by the Options and About dialogs.
#include "library.h"

// The most icons a dialog shows.
#define DIALOG_ICON_MAX 3

// The pictures the open dialog's statics show, by their place in the dialog's table; each is
// destroyed once its static shows another, and all of them once the dialog has ended.
static HICON scaledIcons[DIALOG_ICON_MAX];

typedef UINT (WINAPI *GetDpiForWindowProc)(HWND window);
typedef int (WINAPI *GetSystemMetricsForDpiProc)(int index, UINT dpi);

// The large-icon size at dpi; at dpi 0, at the dialog's own DPI. Systems before Windows 10 have
// one DPI, which GetSystemMetrics already applies.
static int LargeIconSize(HWND dialog, UINT dpi)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    GetSystemMetricsForDpiProc getSystemMetricsForDpi = (GetSystemMetricsForDpiProc)(void (*)())
        GetProcAddress(user32, "GetSystemMetricsForDpi");
    GetDpiForWindowProc getDpiForWindow = (GetDpiForWindowProc)(void (*)())GetProcAddress(user32, "GetDpiForWindow");
    int size = 0;
    if (getSystemMetricsForDpi && getDpiForWindow)
        size = getSystemMetricsForDpi(SM_CXICON, dpi ? dpi : getDpiForWindow(dialog));
    return size > 0 ? size : GetSystemMetrics(SM_CXICON);
}

void ScaleDialogIcons(HWND dialog, const DialogIcon *icons, int count, UINT dpi)
{
    int size = LargeIconSize(dialog, dpi);
    for (int index = 0; index < count && index < DIALOG_ICON_MAX; index++) {
        HICON loaded = (HICON)LoadImageA(moduleHandle, MAKEINTRESOURCEA(icons[index].iconId), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR);
        // Without it the static keeps the picture it shows.
        if (!loaded)
            continue;
        SendDlgItemMessageA(dialog, icons[index].controlId, STM_SETICON, (WPARAM)loaded, 0);
        // The static draws the new picture from now on; the template's own is shared and never destroyed.
        if (scaledIcons[index])
            DestroyIcon(scaledIcons[index]);
        scaledIcons[index] = loaded;
    }
}

void DestroyDialogIcons()
{
    for (HICON &icon : scaledIcons) {
        if (icon)
            DestroyIcon(icon);
        icon = NULL;
    }
}
