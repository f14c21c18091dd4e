// The WinInet work-offline state: read, set, toggle, and the start-up mode.
// Used by the window procedure, the tray icon and AutoSwitch.
#include "startup.h"
#include "online.h"
#include "trayicon.h"
#include "connection.h"
#include <wininet.h>

int cachedOffline;
static DWORD queryBuffer;

int IsOffline()
{
    DWORD length = sizeof queryBuffer;
    queryBuffer = 0;
    BOOL read = InternetQueryOptionA(NULL, INTERNET_OPTION_CONNECTED_STATE, &queryBuffer, &length);
    cachedOffline = read && (queryBuffer & INTERNET_STATE_DISCONNECTED_BY_USER) ? 1 : 0;
    return cachedOffline;
}

BOOL SetOffline(int offline)
{
    INTERNET_CONNECTED_INFO info = {};
    if (offline) {
        info.dwConnectedState = INTERNET_STATE_DISCONNECTED_BY_USER;
        info.dwFlags = ISO_FORCE_DISCONNECTED;
    } else {
        info.dwConnectedState = INTERNET_STATE_CONNECTED;
    }
    return InternetSetOptionA(NULL, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof info);
}

void ToggleOffline(int refresh)
{
    SetOffline(IsOffline() == 0 ? 1 : 0);
    if (refresh)
        RefreshTray(1);
}

void ApplyStartupMode()
{
    switch (settings.startupMode) {
    case STARTUP_OFFLINE:
        SetOffline(1);
        break;
    case STARTUP_ONLINE:
        SetOffline(0);
        break;
    case STARTUP_AUTO:
        SetOffline(IsConnected() ? 0 : 1);
        break;
    }
}
