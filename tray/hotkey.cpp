// The system-wide hot key: kept in step with the settings, registered for the main window.
// Used by start-up, the window procedure (release at destroy) and after the Options dialog.
#include "startup.h"
#include "hotkey.h"
#include <commctrl.h>

#define HOTKEY_ID 0

static DWORD registeredHotKey;

void SplitHotKey(DWORD value, DWORD *modifiers, DWORD *virtualKey)
{
    DWORD flags = value >> 8;
    *modifiers = 0;
    if (flags & HOTKEYF_ALT)
        *modifiers |= MOD_ALT;
    if (flags & HOTKEYF_CONTROL)
        *modifiers |= MOD_CONTROL;
    if (flags & HOTKEYF_SHIFT)
        *modifiers |= MOD_SHIFT;
    *virtualKey = value & 0xFF;
}

void SetHotKey(DWORD value)
{
    if (value == registeredHotKey)
        return;
    if (registeredHotKey) {
        UnregisterHotKey(mainWindow, HOTKEY_ID);
        registeredHotKey = 0;
    }
    if (!value)
        return;
    DWORD modifiers;
    DWORD virtualKey;
    SplitHotKey(value, &modifiers, &virtualKey);
    // A held hot key fires once, not with every key repeat; systems before Windows 7 refuse
    // MOD_NOREPEAT and get the plain registration.
    if (RegisterHotKey(mainWindow, HOTKEY_ID, modifiers | MOD_NOREPEAT, virtualKey)
        || RegisterHotKey(mainWindow, HOTKEY_ID, modifiers, virtualKey))
        registeredHotKey = value;
}

void UpdateHotKey()
{
    SetHotKey((settings.options & OPT_HOTKEY) ? settings.hotKey : 0);
}
