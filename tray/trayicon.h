// The icon in the notification area: its pictures, tooltip and the one-second refresh.
// Used by start-up, the window procedure, AutoSwitch and the library binding.
#ifndef TRAYICON_H
#define TRAYICON_H

#include <windows.h>

BOOL LoadTrayIcons(HINSTANCE instance);
// The pictures again at the small-icon size for the taskbar's DPI, shown at once, when that size
// differs from the one loaded; the old pictures are destroyed.
void RescaleTrayIcons();
void ForgetTrayIcon();
void AddTrayIcon();
void RemoveTrayIcon();
void RefreshTray(int force);
// Hands the keyboard focus back to the notification area, once the icon's menu has closed.
void FocusTrayIcon();
// The icon's place on the screen, where the shell can tell it (Windows 7 and later).
BOOL GetTrayIconRect(RECT *rect);

#endif
