// The About box: the product and version, the maker's copyright, and the mail and web links.
// Run by CVCInterface for the About operation.
#include "library.h"
#include "cvconfig_res.h"
#include <shellapi.h>

static const char webSiteUrl[] = "https://www.bramlow.example/corvalent/";
static const char mailUrl[] = "mailto:support@bramlow.example";

// The icon statics and their icons: online left of the text, offline right.
static const DialogIcon aboutIcons[] = {
    { IDI_ONLINE,  IDC_ABOUT_ONLINE_ICON },
    { IDI_OFFLINE, IDC_ABOUT_OFFLINE_ICON },
};

static void OpenLink(HWND dialog, const char *url, const char *title)
{
    char message[520];
    HINSTANCE result = ShellExecuteA(dialog, "open", url, "", "", SW_SHOWNORMAL);
    if ((UINT_PTR)result > 32)
        return;
    wsprintfA(message, "Couldn't visit \"%s\"", url);
    MessageBoxA(dialog, message, title, MB_ICONWARNING);
}

static void VisitWebSite(HWND dialog)
{
    OpenLink(dialog, webSiteUrl, "Visit Bramlow");
}

static void SendEMail(HWND dialog)
{
    OpenLink(dialog, mailUrl, "E-mail Bramlow");
}

static void ScaleAboutIcons(HWND dialog, UINT dpi)
{
    ScaleDialogIcons(dialog, aboutIcons, sizeof aboutIcons / sizeof aboutIcons[0], dpi);
}

static INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        CenterDialog(dialog);
        ScaleAboutIcons(dialog, 0);
        return TRUE;
    case WM_DPICHANGED:
        ScaleAboutIcons(dialog, LOWORD(wParam));
        // The dialog manager lays the box out for the new DPI.
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, lParam);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ABOUT_EMAIL:
            SendEMail(dialog);
            return TRUE;
        case IDC_ABOUT_WEB:
            VisitWebSite(dialog);
            return TRUE;
        case IDC_ABOUT_OK:
            PostMessageA(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

void ShowAboutBox(HWND owner)
{
    DialogBoxParamA(moduleHandle, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDialogProc, 0);
    DestroyDialogIcons();
}
