// Binds CVConfig from the program's folder afresh for each configuration operation, refuses nested calls;
// wraps the Options and About dialogs. Used by start-up and the window procedure.
#include "startup.h"
#include "window.h"
#include "trayicon.h"
#include "hotkey.h"
#include "binding.h"

int configBusy;
static int optionsOpen;

static const WCHAR libraryFileName[] = L"CVConfig.dll";

// The library from the program's own folder, by its full wide path (any folder name works);
// null when it isn't there or the path doesn't fit.
static HMODULE LoadConfigLibrary()
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return NULL;
    DWORD folderLength = length;
    while (folderLength > 0 && path[folderLength - 1] != L'\\')
        folderLength--;
    if (folderLength == 0 || folderLength + ARRAYSIZE(libraryFileName) > MAX_PATH)
        return NULL;
    lstrcpyW(path + folderLength, libraryFileName);
    return LoadLibraryW(path);
}

// A close that comes during the call (the library's dialogs and this file's boxes are modal) ends
// them and is carried out once the call has returned.
LONG CallConfig(LONG operation, Settings *record)
{
    if (configBusy)
        return CONFIG_BUSY;
    BeginModalCall();
    HMODULE library = LoadConfigLibrary();
    if (!library) {
        MessageBoxA(mainWindow, "Couldn't load CVConfig.DLL\n\nPlease re-install Corvalent.",
                    "Missing Corvalent DLL file", MB_ICONWARNING);
        EndModalCall();
        return CONFIG_FAILED_LOAD;
    }
    configBusy = 1;
    LONG result;
    CVCInterfaceProc entry = (CVCInterfaceProc)(void (*)())GetProcAddress(library, "CVCInterface");
    if (entry) {
        result = entry(mainWindow, operation, record);
    } else {
        MessageBoxA(mainWindow, "Couldn't get Interface Proc Address", "Missing Proc", MB_ICONWARNING);
        result = CONFIG_FAILED_PROC;
    }
    FreeLibrary(library);
    configBusy = 0;
    EndModalCall();
    return result;
}

// The hot key and the icon follow the dialog before a close that came meanwhile is carried out.
int ShowOptions()
{
    if (windowClosing || optionsOpen)
        return 1;
    optionsOpen = 1;
    BeginModalCall();
    CallConfig(CFG_OPTIONS, &settings);
    UpdateHotKey();
    RefreshTray(1);
    optionsOpen = 0;
    EndModalCall();
    return 0;
}

int ShowAbout()
{
    CallConfig(CFG_ABOUT, &settings);
    return 0;
}
