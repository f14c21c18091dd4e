// Start-up of the tray program: the command words and the program's one settings record.
// Included by every file of the tray program that reads the settings or the main window.
#ifndef STARTUP_H
#define STARTUP_H

#include "cvconfig.h"

extern Settings settings;   // loaded by WinMain, edited by the library, dial-up bits by autoswitch.cpp
extern HWND mainWindow;     // set by WinMain once the menu is loaded; null before

// Set to 1 by ParseCommandLine, never cleared.
extern int cmdOptions;
extern int cmdExit;
extern int cmdUninstall;
extern int cmdStartup;

int ParseCommandLine(HWND owner, const char *text);
// "uninstall" after the running copy's answer to it (0 ended, 1 not ended, 5 refused): a copy that
// refused it runs elevated and takes "exit" alone, so this copy ends it with "exit" and, once its
// process has ended, removes the shortcut and the settings itself (same user, same files).
// Returns the exit code.
int UninstallAfterAnswer(HWND runningCopy, int answer);

#endif
