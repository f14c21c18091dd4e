// The icon in the notification area: six pictures, the tooltip, add, remove and the refresh
// that every change of state and every poll tick ends in. Used by start-up and the window procedure.
#include "startup.h"
#include "window.h"
#include "online.h"
#include "trayicon.h"
#include "autoswitch.h"
#include "corvalent_res.h"
#include <shellapi.h>

#define TRAY_ICON_COUNT 6
#define TRAY_ICON_UID   102

// The icon resource of each picture index: 0 offline, 1 online; +2 AutoSwitch not
// connected, +4 AutoSwitch connected.
static const DWORD trayIconIds[TRAY_ICON_COUNT] = {
    IDI_OFFLINE, IDI_ONLINE, IDI_AUTO_OFFLINE, IDI_AUTO_ONLINE, IDI_CONNECTED_OFFLINE, IDI_CONNECTED_ONLINE,
};

// The six pictures at one size, the shell's small-icon size for the DPI they were loaded for.
struct TrayIconSet {
    HICON icons[TRAY_ICON_COUNT];
    int size;
};

static HINSTANCE trayIconInstance;
static TrayIconSet trayIcons;

// The shell's first record form: the fields up to and including the 64-character tooltip.
#define TRAY_ICON_DATA_SIZE NOTIFYICONDATAA_V1_SIZE
#ifdef _WIN64
static_assert(TRAY_ICON_DATA_SIZE == 104, "the first NOTIFYICONDATA form is 104 bytes on 64-bit Windows");
#else
static_assert(TRAY_ICON_DATA_SIZE == 88, "the first NOTIFYICONDATA form is 88 bytes on 32-bit Windows");
#endif

static NOTIFYICONDATAA trayIconData;
static int trayIconAdded;
static int trayIconMayExist;  // an add was tried since the last delete or shell restart
static int lastShownOffline = -1;

typedef UINT (WINAPI *GetDpiForWindowProc)(HWND window);
typedef UINT (WINAPI *GetDpiForSystemProc)();
typedef int (WINAPI *GetSystemMetricsForDpiProc)(int index, UINT dpi);
typedef HRESULT (WINAPI *ShellNotifyIconGetRectProc)(const NOTIFYICONIDENTIFIER *identifier, RECT *rect);

// The shell's small-icon size at the DPI of the taskbar, whose monitor shows the notification area;
// without a taskbar, at the DPI of the main window (of the system before the window exists).
// Systems before Windows 10 1607 can't tell a window's DPI; there GetSystemMetrics gives the
// size at the system's.
static int SmallIconSize()
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    GetSystemMetricsForDpiProc getSystemMetricsForDpi = (GetSystemMetricsForDpiProc)(void (*)())
        GetProcAddress(user32, "GetSystemMetricsForDpi");
    GetDpiForWindowProc getDpiForWindow = (GetDpiForWindowProc)(void (*)())GetProcAddress(user32, "GetDpiForWindow");
    GetDpiForSystemProc getDpiForSystem = (GetDpiForSystemProc)(void (*)())GetProcAddress(user32, "GetDpiForSystem");
    int size = 0;
    if (getSystemMetricsForDpi && getDpiForWindow && getDpiForSystem) {
        HWND taskbar = FindWindowA("Shell_TrayWnd", NULL);
        UINT dpi = taskbar ? getDpiForWindow(taskbar) : 0;
        if (!dpi)
            dpi = mainWindow ? getDpiForWindow(mainWindow) : getDpiForSystem();
        size = getSystemMetricsForDpi(SM_CXSMICON, dpi);
    }
    return size > 0 ? size : GetSystemMetrics(SM_CXSMICON);
}

static void DestroyTrayIconSet(TrayIconSet *set)
{
    for (int index = 0; index < TRAY_ICON_COUNT; index++) {
        if (set->icons[index])
            DestroyIcon(set->icons[index]);
        set->icons[index] = NULL;
    }
}

// Each picture from the frame of its resource that has the size; none when one fails.
static BOOL LoadTrayIconSet(TrayIconSet *set, int size)
{
    *set = TrayIconSet();
    set->size = size;
    for (int index = 0; index < TRAY_ICON_COUNT; index++) {
        set->icons[index] = (HICON)LoadImageA(trayIconInstance, MAKEINTRESOURCEA(trayIconIds[index] & 0xFFFF),
                                              IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
        if (!set->icons[index]) {
            DestroyTrayIconSet(set);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL LoadTrayIcons(HINSTANCE instance)
{
    trayIconInstance = instance;
    return LoadTrayIconSet(&trayIcons, SmallIconSize());
}

void RescaleTrayIcons()
{
    TrayIconSet loaded;
    int size = SmallIconSize();
    if (size == trayIcons.size || !LoadTrayIconSet(&loaded, size))
        return;
    TrayIconSet shown = trayIcons;
    trayIcons = loaded;
    RefreshTray(1);
    // The shell keeps a copy of the picture it was given.
    DestroyTrayIconSet(&shown);
}

static int TrayIconIndex(int offline)
{
    int index = offline == 1 ? 0 : 1;
    if (settings.options & OPT_AUTOSWITCH)
        index += lastConnected ? 4 : 2;
    return index;
}

static void FillTrayIconData(NOTIFYICONDATAA *data, int offline)
{
    char tip[256];
    char autoSwitchTip[256];
    data->cbSize = TRAY_ICON_DATA_SIZE;
    data->hWnd = mainWindow;
    data->uID = TRAY_ICON_UID;
    data->hIcon = trayIcons.icons[TrayIconIndex(offline)];
    wsprintfA(tip, "Working %s", offline == 1 ? "Offline" : "Online");
    if (settings.options & OPT_AUTOSWITCH_TOOLTIPS) {
        wsprintfA(autoSwitchTip, ". AutoSwitch %s", (settings.options & OPT_AUTOSWITCH) ? "On" : "Off");
        if (settings.options & OPT_AUTOSWITCH)
            lstrcatA(autoSwitchTip, lastConnected ? " (Connected)" : lastMetered ? " (Metered)" : " (Not Connected)");
        lstrcatA(tip, autoSwitchTip);
    }
    lstrcpynA(data->szTip, tip, 63);
}

void ForgetTrayIcon()
{
    trayIconAdded = 0;
    trayIconMayExist = 0;
}

// A busy shell may refuse or time out the add and still show the icon later; an add refused
// because the icon exists after all counts once a modify of it succeeds.
static int TryAddTrayIcon()
{
    FillTrayIconData(&trayIconData, IsOffline());
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = MSG_TRAY;
    trayIconMayExist = 1;
    if (Shell_NotifyIconA(NIM_ADD, &trayIconData) || Shell_NotifyIconA(NIM_MODIFY, &trayIconData))
        trayIconAdded = 1;
    return trayIconAdded;
}

void AddTrayIcon()
{
    if (!trayIconAdded)
        TryAddTrayIcon();
    SetAutoSwitch(settings.options & OPT_AUTOSWITCH);
    RefreshTray(1);
}

// A shell call that only names the icon.
static void NameTrayIcon(DWORD message)
{
    FillTrayIconData(&trayIconData, 0);
    trayIconData.uFlags = 0;
    Shell_NotifyIconA(message, &trayIconData);
}

void RemoveTrayIcon()
{
    if (!trayIconMayExist)
        return;
    NameTrayIcon(NIM_DELETE);
    trayIconAdded = 0;
    trayIconMayExist = 0;
}

// Shells before version 5.0 (Windows 2000) refuse it, so the answer is not looked at. It names the
// icon only, which the first record form does as well as the later ones.
void FocusTrayIcon()
{
    NameTrayIcon(NIM_SETFOCUS);
}

BOOL GetTrayIconRect(RECT *rect)
{
    ShellNotifyIconGetRectProc shellNotifyIconGetRect = (ShellNotifyIconGetRectProc)(void (*)())
        GetProcAddress(GetModuleHandleA("shell32.dll"), "Shell_NotifyIconGetRect");
    if (!shellNotifyIconGetRect)
        return FALSE;
    NOTIFYICONIDENTIFIER identifier = {};
    identifier.cbSize = sizeof identifier;
    identifier.hWnd = mainWindow;
    identifier.uID = TRAY_ICON_UID;
    return shellNotifyIconGetRect(&identifier, rect) == S_OK;
}

void RefreshTray(int force)
{
    // Without the icon the one-second poll tries the add again; a forced refresh comes right
    // after an add or from a key press, and leaves the next try to the poll.
    if (trayIconAdded != 1) {
        if (force || !TryAddTrayIcon())
            return;
        force = 1;
    }
    int changed = 0;
    int offline = IsOffline();
    if (offline != lastShownOffline) {
        lastShownOffline = offline;
        changed = 1;
    }
    if (PollAutoSwitch())
        force = 1;
    if (!force && !changed)
        return;
    FillTrayIconData(&trayIconData, cachedOffline);
    trayIconData.uFlags = NIF_ICON | NIF_TIP;
    // Refused: the icon may be gone with a shell whose restart went unannounced (a crash, or a
    // "TaskbarCreated" that could not reach this copy), so the next poll adds it again.
    if (!Shell_NotifyIconA(NIM_MODIFY, &trayIconData))
        trayIconAdded = 0;
}
