// The connection check: the network list decides where Windows has one, WinInet where it has not;
// WinInet's connection word for Aggressive Offline. Used by AutoSwitch and the start-up mode.
#include "startup.h"
#include "connection.h"
#include "netlist.h"
#include <wininet.h>

int connectionMetered;
static DWORD connectionFlags;
static int connectionFlagsStale;   // the latest connection check was answered by the network list

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
    connectionFlagsStale = listed != NETWORK_ABSENT;
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
