// AutoSwitch: the state follows the Internet connection; Aggressive Offline; the run-time
// binding of the dial-up networking library. Runs inside the tray icon refresh.
#include "startup.h"
#include "online.h"
#include "connection.h"
#include "trayicon.h"
#include "autoswitch.h"
#include <ras.h>
#include <stddef.h>

// The ANSI dial-up records in their first published form, the one every version accepts,
// packed to 4 bytes as the platform header packs them: the handle follows dwSize at offset 4.
#pragma pack(push, 4)
struct DialUpEntry {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
};

struct DialUpStatus {
    DWORD dwSize;
    RASCONNSTATE rasconnstate;
    DWORD dwError;
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
};
#pragma pack(pop)

#ifdef _WIN64
static_assert(sizeof(DialUpEntry) == 416, "RASCONN entries are 416 bytes on 64-bit Windows");
#else
static_assert(sizeof(DialUpEntry) == 412, "RASCONN entries are 412 bytes on 32-bit Windows");
#endif
static_assert(offsetof(DialUpEntry, hrasconn) == 4, "the RASCONN handle sits at offset 4");
static_assert(sizeof(DialUpStatus) == 160, "RASCONNSTATUS is 160 bytes");

#define DIAL_UP_ENTRIES 4

typedef DWORD (WINAPI *RasEnumConnectionsProc)(DialUpEntry *entries, DWORD *size, DWORD *count);
typedef DWORD (WINAPI *RasGetConnectStatusProc)(HRASCONN connection, DialUpStatus *status);

int lastConnected;
int lastMetered;
static int pollCountdown;
static int polling;   // a poll is under way; one that comes inside it (sent messages a COM call lets in) does nothing
static HMODULE dialUpLibrary;
static RasEnumConnectionsProc rasEnumConnections;
static RasGetConnectStatusProc rasGetConnectStatus;

void SetAutoSwitch(int enable)
{
    DWORD bit = 0;
    if (enable) {
        lastConnected = IsConnected();
        lastMetered = connectionMetered;
        bit = OPT_AUTOSWITCH;
    }
    settings.options = (settings.options & ~OPT_AUTOSWITCH) | bit;
    RefreshTray(1);
    pollCountdown = 0;
}

// The dial-up connections that are not disconnected; 0 when the library is missing or fails.
static DWORD CountDialUpConnections()
{
    if (!dialUpLibrary)
        return 0;
    DialUpEntry entries[DIAL_UP_ENTRIES];
    ZeroMemory(entries, sizeof entries);
    entries[0].dwSize = sizeof(DialUpEntry);
    DWORD size = sizeof entries;
    DWORD count = 0;
    if (rasEnumConnections(entries, &size, &count) != 0)
        return 0;
    DWORD active = 0;
    for (DWORD index = 0; index < count && index < DIAL_UP_ENTRIES; index++) {
        DialUpStatus status;
        ZeroMemory(&status, sizeof status);
        status.dwSize = sizeof status;
        if (rasGetConnectStatus(entries[index].hrasconn, &status) == 0 && status.rasconnstate != RASCS_Disconnected)
            active++;
    }
    return active;
}

int PollAutoSwitch()
{
    // Off, it waits to poll at once when it is turned on, so that the icon shows the connection then.
    if (!(settings.options & OPT_AUTOSWITCH))
        return pollCountdown = 0;
    if (polling || pollCountdown-- > 0)
        return 0;
    pollCountdown = 2;
    polling = 1;
    int connected = IsConnected();
    if ((settings.options & OPT_AGGRESSIVE_OFFLINE) && cachedOffline == 0 && connected == 0
        && CountDialUpConnections() == 0 && ConnectionFlags() != 0) {
        SetOffline(1);
        cachedOffline = 1;
    }
    int changed = connected != lastConnected;
    if (changed) {
        if (connected == 1 && cachedOffline == 1)
            SetOffline(0);
        else if (connected == 0 && cachedOffline == 0)
            SetOffline(1);
    }
    // A connection that turns metered, or back, changes only what the icon says.
    int shownChanged = changed || connectionMetered != lastMetered;
    lastConnected = connected;
    lastMetered = connectionMetered;
    polling = 0;
    return shownChanged;
}

int LoadDialUpApi()
{
    settings.options &= ~OPT_NO_DIALUP;
    dialUpLibrary = LoadLibraryA("RASAPI32.DLL");
    if (dialUpLibrary) {
        rasEnumConnections = (RasEnumConnectionsProc)(void (*)())GetProcAddress(dialUpLibrary, "RasEnumConnectionsA");
        if (rasEnumConnections)
            rasGetConnectStatus = (RasGetConnectStatusProc)(void (*)())GetProcAddress(dialUpLibrary, "RasGetConnectStatusA");
        if (rasEnumConnections && rasGetConnectStatus)
            return 1;
    }
    settings.options = (settings.options & ~OPT_AGGRESSIVE_OFFLINE) | OPT_NO_DIALUP;
    UnloadDialUpApi();
    return 0;
}

void UnloadDialUpApi()
{
    if (!dialUpLibrary)
        return;
    FreeLibrary(dialUpLibrary);
    dialUpLibrary = NULL;
}
