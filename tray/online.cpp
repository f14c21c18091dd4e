// The WinInet work-offline state: read, set, toggle, the connection check and the start-up mode.
// The only place that talks to WinInet; used by the window procedure, the tray icon and AutoSwitch.
#include "startup.h"
#include "online.h"
#include "trayicon.h"
#include "netlist.h"
#include <wininet.h>

int cachedOffline;
int connectionMetered;
static DWORD connectionFlags;
static int connectionFlagsStale;   // the latest connection check was answered by the network list
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

// WinInet's answer, and its connection-description word in connectionFlags.
static BOOL AskWinInetConnection()
{
    connectionFlags = INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY;
    return InternetGetConnectedState(&connectionFlags, 0);
}

// A connection exists as Windows' network list reports it; WinInet answers where there is no list.
// Neither depends on WinInet's own offline state. With the option, a metered one counts as none.
BOOL IsConnected()
{
    int listed = AskNetworkList(settings.options & OPT_METERED_OFFLINE);
    connectionMetered = listed == NETWORK_METERED;
    connectionFlagsStale = listed != NETWORK_UNKNOWN;
    if (connectionFlagsStale)
        return listed == NETWORK_CONNECTED;
    return AskWinInetConnection();
}

// The word of the latest WinInet check; asked for now when the network list answered that check.
DWORD ConnectionFlags()
{
    if (connectionFlagsStale) {
        AskWinInetConnection();
        connectionFlagsStale = 0;
    }
    return connectionFlags;
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
