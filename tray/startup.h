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

#endif
