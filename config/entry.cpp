// The library's entry points: DllMain and CVCInterface, which dispatches the five operations.
// Called by the tray program, which loads the library for each operation.
#include "library.h"

HINSTANCE moduleHandle;

BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID)
{
    moduleHandle = module;
    return TRUE;
}

extern "C" LONG WINAPI CVCInterface(HWND owner, LONG operation, Settings *settings)
{
    switch (operation) {
    case CFG_LOAD:
        if (settings)
            LoadSettings(settings);
        return CONFIG_OK;
    case CFG_SAVE:
        if (settings)
            SaveSettings(settings);
        return CONFIG_OK;
    case CFG_OPTIONS:
        if (settings) {
            RunOptionsDialog(owner, settings);
            SaveSettings(settings);
        }
        return CONFIG_OK;
    case CFG_ABOUT:
        ShowAboutBox(owner);
        return CONFIG_OK;
    case CFG_UNINSTALL:
        DeleteStartupShortcut();
        DeleteSettings();
        return CONFIG_OK;
    }
    return CONFIG_UNKNOWN_OPERATION;
}
