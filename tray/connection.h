// Whether a connection to the Internet exists: the network list where Windows has one, WinInet's
// answer elsewhere, and WinInet's connection word. Used by AutoSwitch and the start-up mode.
#ifndef CONNECTION_H
#define CONNECTION_H

#include <windows.h>

extern int connectionMetered;   // written by IsConnected: a metered connection counted as none

BOOL IsConnected();
DWORD ConnectionFlags();

#endif
