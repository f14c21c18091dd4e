// The hidden main window's procedure: tray call-backs, the menu, timers, the hot key,
// the shell's restart and the requests of other copies; the close and the clean-up.
#include "startup.h"
#include "window.h"
#include "online.h"
#include "trayicon.h"
#include "autoswitch.h"
#include "hotkey.h"
#include "binding.h"
#include "netlist.h"
#include "corvalent_res.h"

HMENU trayMenu;
int windowClosing;
static UINT taskbarCreatedMsg;

// Requests that came while a library call was running; carried out once it has returned.
static int uninstallPending;
static int closePending;

void CloseMainWindow(HWND window)
{
    if (windowClosing)
        return;
    windowClosing = 1;
    DestroyWindow(window);
}

void ReportStartupFailure(const char *text)
{
    MessageBoxA(mainWindow, text, "Corvalent", MB_ICONWARNING);
    CleanUp();
}

void CleanUp()
{
    if (trayMenu) {
        DestroyMenu(trayMenu);
        trayMenu = NULL;
    }
    UnloadDialUpApi();
    ReleaseNetworkList();
}

static void UpdateMenuChecks(HMENU menu)
{
    int offline = IsOffline();
    CheckMenuItem(menu, IDM_WORK_OFFLINE, MF_BYCOMMAND | (offline == 1 ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, IDM_WORK_ONLINE, MF_BYCOMMAND | (offline == 0 ? MF_CHECKED : MF_UNCHECKED));
}

POINT TrayMenuPoint(POINT cursor, const RECT *icon)
{
    if (!icon || PtInRect(icon, cursor))
        return cursor;
    POINT middle = { (icon->left + icon->right) / 2, (icon->top + icon->bottom) / 2 };
    return middle;
}

static void OnTrayNotify(WPARAM, LPARAM mouseMessage)
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    if (mouseMessage == WM_LBUTTONDOWN) {
        SetOffline(IsOffline() == 1 ? 0 : 1);
        RefreshTray(1);
    } else if (mouseMessage == WM_RBUTTONDOWN) {
        RECT icon;
        POINT at = TrayMenuPoint(cursor, GetTrayIconRect(&icon) ? &icon : NULL);
        SetForegroundWindow(mainWindow);
        TrackPopupMenu(trayMenu, TPM_RIGHTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, mainWindow, NULL);
        // Lets the menu close when the user clicks elsewhere next time.
        PostMessageA(mainWindow, WM_NULL, 0, 0);
        FocusTrayIcon();
    }
}

// The close after the delayed setting; while a dialog is open it waits for the dialog's end,
// and goes ahead only if Exit afterwards is still set then.
static void CloseAfterDelayedSetting()
{
    if (!(settings.options & OPT_EXIT_AFTERWARDS))
        return;
    if (configBusy) {
        closePending = 1;
        return;
    }
    SendMessageA(mainWindow, WM_CLOSE, 0, 0);
}

static void OnDelayedSetting(HWND window)
{
    KillTimer(window, TIMER_DELAYED_SETTING);
    ApplyStartupMode();
    CloseAfterDelayedSetting();
}

static void OnDestroy(HWND window)
{
    KillTimer(window, TIMER_POLL);
    RemoveTrayIcon();
    SetHotKey(0);
    PostQuitMessage(0);
}

// Refused while a dialog is open: the close ends the dialog, and the uninstall follows its call.
static void OnUninstall(HWND window)
{
    if (CallConfig(CFG_UNINSTALL, NULL) == CONFIG_BUSY)
        uninstallPending = 1;
    CloseMainWindow(window);
}

void CarryOutPendingRequests()
{
    if (uninstallPending) {
        uninstallPending = 0;
        CallConfig(CFG_UNINSTALL, NULL);
    }
    if (closePending) {
        closePending = 0;
        CloseAfterDelayedSetting();
    }
}

// Returns 0 when the command was handled, -1 when it goes to the default handling.
static int OnCommand(HWND window, WORD command)
{
    switch (command) {
    case IDM_ABOUT:
        if (!windowClosing)
            ShowAbout();
        return 0;
    case IDM_WORK_OFFLINE:
        SetOffline(1);
        RefreshTray(1);
        return 0;
    case IDM_WORK_ONLINE:
        SetOffline(0);
        RefreshTray(1);
        return 0;
    case IDM_EXIT:
        CloseMainWindow(window);
        return 0;
    case IDM_OPTIONS:
        ShowOptions();
        return 0;
    }
    return -1;
}

static void OnTimer(HWND window, WPARAM timer)
{
    if (timer == TIMER_POLL)
        RefreshTray(0);
    else if (timer == TIMER_DELAYED_SETTING)
        OnDelayedSetting(window);
}

typedef BOOL (WINAPI *ChangeWindowMessageFilterExProc)(HWND window, UINT message, DWORD action, void *status);
typedef BOOL (WINAPI *ChangeWindowMessageFilterProc)(UINT message, DWORD flag);

// 1 when the copy runs elevated. XP knows no elevation: its token has no such class, the query
// fails, and the copy counts as not elevated.
static int RunsElevated()
{
    HANDLE token = NULL;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 0;
    BOOL read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return read && elevation.TokenIsElevated;
}

// A copy running elevated gets no message from unelevated processes unless it lets it through:
// the shell's restart, and the requests of other copies, which ask only what this copy's own user
// may do anyway. An ordinary copy keeps the filter as it is: opened, it would let every lower
// integrity level in, a sandboxed process's requests too. Windows 7 and later filter per window,
// Vista per process; XP not at all.
static void AllowMessagesFromUnelevated(HWND window)
{
    const UINT messages[] = { taskbarCreatedMsg, MSG_SHOW_OPTIONS, MSG_EXIT, MSG_UNINSTALL };
    if (!RunsElevated())
        return;
    HMODULE user32 = GetModuleHandleA("user32.dll");
    ChangeWindowMessageFilterExProc changeWindowMessageFilterEx = (ChangeWindowMessageFilterExProc)(void (*)())
        GetProcAddress(user32, "ChangeWindowMessageFilterEx");
    ChangeWindowMessageFilterProc changeWindowMessageFilter = (ChangeWindowMessageFilterProc)(void (*)())
        GetProcAddress(user32, "ChangeWindowMessageFilter");
    for (UINT message : messages) {
        if (!message)
            continue;
        if (changeWindowMessageFilterEx)
            changeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, NULL);
        else if (changeWindowMessageFilter)
            changeWindowMessageFilter(message, MSGFLT_ADD);
    }
}

// The shell restarts also when the display scale changes: the pictures follow the new size.
static void OnTaskbarCreated()
{
    ForgetTrayIcon();
    RescaleTrayIcons();
    AddTrayIcon();
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        taskbarCreatedMsg = RegisterWindowMessageA("TaskbarCreated");
        AllowMessagesFromUnelevated(window);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_COMMAND:
        if (OnCommand(window, LOWORD(wParam)) == 0)
            return 0;
        break;
    case WM_TIMER:
        OnTimer(window, wParam);
        return 0;
    case WM_INITMENU:
        if ((HMENU)wParam == trayMenu)
            UpdateMenuChecks(trayMenu);
        return 0;
    case WM_HOTKEY:
        ToggleOffline(1);
        return 0;
    case MSG_TRAY:
        OnTrayNotify(wParam, lParam);
        return 0;
    case WM_DPICHANGED:
        // The hidden window stays where it is; the pictures take the DPI of the taskbar, which may
        // lie on another monitor than this window.
        RescaleTrayIcons();
        return 0;
    case WM_SETTINGCHANGE:
        RescaleTrayIcons();
        return 0;
    case MSG_SHOW_OPTIONS:
        ShowOptions();
        return 0;
    case MSG_EXIT:
        CloseMainWindow(window);
        return 0;
    case MSG_UNINSTALL:
        OnUninstall(window);
        return 0;
    default:
        if (taskbarCreatedMsg && message == taskbarCreatedMsg) {
            OnTaskbarCreated();
            return 0;
        }
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
