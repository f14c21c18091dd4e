// What the files of the configuration library offer each other.
// Used by every source file of CVConfig; the tray program never sees it.
#ifndef LIBRARY_H
#define LIBRARY_H

#include "cvconfig.h"

extern HINSTANCE moduleHandle;   // set by DllMain: the instance of the dialogs and icons

// Settings store (store.cpp)
int LoadSettings(Settings *settings);
int SaveSettings(const Settings *settings);
void DeleteSettings();

// Options dialog (options.cpp)
int RunOptionsDialog(HWND owner, Settings *settings);

// Centring a dialog on the screen (center.cpp)
void CenterDialog(HWND window);

// Dialog icons at the dialog's DPI (icons.cpp): given to the icon statics in template order at
// initialisation, destroyed once the dialog has ended
void ScaleDialogIcons(HWND dialog, const WORD *iconIds, int count);
void DestroyDialogIcons();

// Start-with-Windows shortcut (shortcut.cpp)
void CreateStartupShortcut(HWND owner);
void DeleteStartupShortcut();

// About box (about.cpp)
void ShowAboutBox(HWND owner);

#endif
