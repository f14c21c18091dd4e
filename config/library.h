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

// Dialog icons at the dialog's DPI (icons.cpp): each icon static, by its control id, gets its icon's
// frame for dpi (0: the dialog's own DPI) at initialisation and at every WM_DPICHANGED; the
// pictures are destroyed once replaced and once the dialog has ended
struct DialogIcon {
    WORD iconId;
    int controlId;
};
void ScaleDialogIcons(HWND dialog, const DialogIcon *icons, int count, UINT dpi);
void DestroyDialogIcons();

// Start-with-Windows shortcut (shortcut.cpp)
void CreateStartupShortcut(HWND owner);
void DeleteStartupShortcut();

// About box (about.cpp)
void ShowAboutBox(HWND owner);

#endif
