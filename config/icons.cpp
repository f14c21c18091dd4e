// Gives the icon statics of a dialog the frame of their icon that fits the dialog's DPI, so that
// no picture is stretched from another size. Used by the Options and About dialogs.
#include "library.h"

// The most icons a dialog shows.
#define DIALOG_ICON_MAX 3

// The pictures loaded for the open dialog; destroyed once it has ended.
static HICON scaledIcons[DIALOG_ICON_MAX];

typedef UINT (WINAPI *GetDpiForWindowProc)(HWND window);
typedef int (WINAPI *GetSystemMetricsForDpiProc)(int index, UINT dpi);

// The large-icon size at the dialog's DPI. Systems before Windows 10 have one DPI, which
// GetSystemMetrics already applies.
static int LargeIconSize(HWND dialog)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    GetSystemMetricsForDpiProc getSystemMetricsForDpi = (GetSystemMetricsForDpiProc)(void (*)())
        GetProcAddress(user32, "GetSystemMetricsForDpi");
    GetDpiForWindowProc getDpiForWindow = (GetDpiForWindowProc)(void (*)())GetProcAddress(user32, "GetDpiForWindow");
    int size = 0;
    if (getSystemMetricsForDpi && getDpiForWindow)
        size = getSystemMetricsForDpi(SM_CXICON, getDpiForWindow(dialog));
    return size > 0 ? size : GetSystemMetrics(SM_CXICON);
}

// The dialog's next icon static after child, in template order; the first one for a null child.
static HWND NextIconStatic(HWND dialog, HWND child)
{
    child = child ? GetWindow(child, GW_HWNDNEXT) : GetWindow(dialog, GW_CHILD);
    while (child && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        child = GetWindow(child, GW_HWNDNEXT);
    return child;
}

void ScaleDialogIcons(HWND dialog, const WORD *iconIds, int count)
{
    int size = LargeIconSize(dialog);
    HWND child = NULL;
    for (int index = 0; index < count && index < DIALOG_ICON_MAX; index++) {
        child = NextIconStatic(dialog, child);
        if (!child)
            return;
        scaledIcons[index] = (HICON)LoadImageA(moduleHandle, MAKEINTRESOURCEA(iconIds[index]), IMAGE_ICON,
                                               size, size, LR_DEFAULTCOLOR);
        // Without it the static keeps the template's shared picture.
        if (scaledIcons[index])
            SendMessageA(child, STM_SETICON, (WPARAM)scaledIcons[index], 0);
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
