// The system-wide hot key that toggles the online state.
// Used by start-up, the window procedure and the library binding.
#ifndef HOTKEY_H
#define HOTKEY_H

#include <windows.h>

void UpdateHotKey();
void SetHotKey(DWORD value);
void SplitHotKey(DWORD value, DWORD *modifiers, DWORD *virtualKey);

#endif
