// Reading and setting the WinInet work-offline state, and applying the start-up mode.
// Used by the window procedure, the tray icon refresh and AutoSwitch.
#ifndef ONLINE_H
#define ONLINE_H

#include <windows.h>

extern int cachedOffline;       // written by IsOffline and by the Aggressive Offline rule

int IsOffline();
BOOL SetOffline(int offline);
void ToggleOffline(int refresh);
void ApplyStartupMode();

#endif
