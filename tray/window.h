// The hidden main window: its messages, timers and the orderly close of the program.
// Used by startup.cpp (creation, message loop) and by the files that close or report.
#ifndef WINDOW_H
#define WINDOW_H

#include <windows.h>

#define MAIN_WINDOW_CLASS "Corvalent"

// Private messages: the tray call-back, and the requests of a second copy
#define MSG_TRAY         (WM_USER)
#define MSG_SHOW_OPTIONS (WM_USER + 1)
#define MSG_EXIT         (WM_USER + 2)
#define MSG_UNINSTALL    (WM_USER + 3)

#define TIMER_POLL            101
#define TIMER_DELAYED_SETTING 108

extern HMENU trayMenu;      // set by WinMain, cleared by CleanUp
extern int windowClosing;   // set once by CloseMainWindow (also when it waits for a modal call), read by ShowOptions and start-up

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void CloseMainWindow(HWND window);
// Around every modal call (the menu, a library call, a message box of the tray): a close that comes
// during it is carried out when the last one ends; one ending after the window has gone posts the quit.
void BeginModalCall();
void EndModalCall();
void ReportStartupFailure(const char *text);
// Where the tray menu opens for a click at cursor: there, or at the middle of the icon (null: its
// place unknown) when the cursor is away from it, as after the menu key.
POINT TrayMenuPoint(POINT cursor, const RECT *icon);
// What keeps the menu off the icon (null: its place unknown): params, its rectangle excluded.
TPMPARAMS *TrayMenuExclusion(const RECT *icon, TPMPARAMS *params);
void CleanUp();

#endif
