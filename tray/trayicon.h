// The icon in the notification area: its pictures, tooltip and the one-second refresh.
// Used by start-up, the window procedure, AutoSwitch and the library binding.
#ifndef TRAYICON_H
#define TRAYICON_H

#include <windows.h>

BOOL LoadTrayIcons(HINSTANCE instance);
void ForgetTrayIcon();
void AddTrayIcon();
void RemoveTrayIcon();
void RefreshTray(int force);

#endif
