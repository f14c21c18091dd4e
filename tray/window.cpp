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

// The modal calls under way on this thread: the menu, a library call, a message box. A close that
// comes meanwhile is noted, the loops are ended, and it is carried out once the last has returned,
// so no modal loop runs under a destroyed window or meets the quit message.
static int modalDepth;
static int menuOpen;
static int closePending;
static int uninstallPending;
static int delayedClosePending;

// A dialog box of this thread (the library's dialogs, a message box, the help box) closes as its
// close box closes it.
static BOOL CALLBACK CloseDialogBox(HWND window, LPARAM)
{
    char className[8];
    if (GetClassNameA(window, className, sizeof className) && lstrcmpA(className, "#32770") == 0)
        PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

static void EndModalLoops()
{
    if (menuOpen)
        EndMenu();
    EnumThreadWindows(GetCurrentThreadId(), CloseDialogBox, 0);
}

void CloseMainWindow(HWND window)
{
    if (modalDepth) {
        windowClosing = closePending = 1;
        EndModalLoops();
        return;
    }
    if (windowClosing)  // a second close
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

static void OnDestroy(HWND window)
{
    KillTimer(window, TIMER_POLL);
    RemoveTrayIcon();
    SetHotKey(0);
    PostQuitMessage(0);
}

// The close after the delayed setting; while a library dialog is open it waits for the dialog's
// end (the user may be editing the options), and goes ahead only if Exit afterwards is still set then.
static void CloseAfterDelayedSetting(HWND window)
{
    if (!(settings.options & OPT_EXIT_AFTERWARDS))
        return;
    if (configBusy) {
        delayedClosePending = 1;
        return;
    }
    CloseMainWindow(window);
}

static void OnDelayedSetting(HWND window)
{
    KillTimer(window, TIMER_DELAYED_SETTING);
    ApplyStartupMode();
    CloseAfterDelayedSetting(window);
}

// While a modal call runs, the uninstall waits for its end, as the close does.
static void OnUninstall(HWND window)
{
    if (modalDepth)
        uninstallPending = 1;
    else
        CallConfig(CFG_UNINSTALL, NULL);
    CloseMainWindow(window);
}

// The uninstall's own call ends in EndModalCall, which carries out the close noted with it.
static void CarryOutPendingRequests()
{
    if (uninstallPending) {
        uninstallPending = 0;
        CallConfig(CFG_UNINSTALL, NULL);
    }
    if (delayedClosePending) {
        delayedClosePending = 0;
        CloseAfterDelayedSetting(mainWindow);
    }
    if (closePending) {
        closePending = 0;
        DestroyWindow(mainWindow);
    }
}

void BeginModalCall()
{
    modalDepth++;
}

void EndModalCall()
{
    modalDepth--;
    if (modalDepth == 0)
        CarryOutPendingRequests();
    // Whatever ended the window meanwhile, the message loop must still end.
    if (mainWindow && !IsWindow(mainWindow))
        PostQuitMessage(0);
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

TPMPARAMS *TrayMenuExclusion(const RECT *icon, TPMPARAMS *params)
{
    if (!icon)
        return NULL;
    params->cbSize = sizeof *params;
    params->rcExclude = *icon;
    return params;
}

// The command chosen runs once the menu has closed; a cancelled menu hands the focus back.
static void OpenTrayMenu(POINT cursor)
{
    RECT icon;
    TPMPARAMS params;
    if (windowClosing || menuOpen)
        return;
    BOOL placed = GetTrayIconRect(&icon);
    POINT at = TrayMenuPoint(cursor, placed ? &icon : NULL);
    SetForegroundWindow(mainWindow);
    BeginModalCall();
    menuOpen = 1;
    UINT command = TrackPopupMenuEx(trayMenu, TPM_RIGHTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y,
                                    mainWindow, TrayMenuExclusion(placed ? &icon : NULL, &params));
    menuOpen = 0;
    // Lets the menu close when the user clicks elsewhere next time.
    PostMessageA(mainWindow, WM_NULL, 0, 0);
    EndModalCall();
    if (windowClosing)  // a close that came during the menu has begun
        return;
    if (command == 0 || command == IDM_CANCEL) {
        FocusTrayIcon();
        return;
    }
    OnCommand(mainWindow, (WORD)command);
}

static void OnTrayNotify(WPARAM, LPARAM mouseMessage)
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    if (mouseMessage == WM_LBUTTONDOWN) {
        SetOffline(IsOffline() == 1 ? 0 : 1);
        RefreshTray(1);
    } else if (mouseMessage == WM_RBUTTONDOWN) {
        OpenTrayMenu(cursor);
    }
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

// A copy running elevated gets no message from lower integrity levels unless it lets it through, and
// the system's filter admits a message from every lower level, Low (a sandboxed process) included.
// So it admits only what a copy of the user's needs: the shell's restart, and "exit". "uninstall" is
// done by the asking copy itself once this one has ended; "options" stays refused. An ordinary copy
// keeps the filter as it is. Windows 7 and later filter per window, Vista per process; XP not at all.
static void AllowMessagesFromUnelevated(HWND window)
{
    const UINT messages[] = { taskbarCreatedMsg, MSG_EXIT };
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
    case WM_CLOSE:
        CloseMainWindow(window);
        return 0;
    case WM_ENDSESSION:
        // The Restart Manager's close (a setup must replace the program's files): end as "exit" does.
        if (wParam && (lParam & ENDSESSION_CLOSEAPP))
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
