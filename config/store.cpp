// The settings store: four 4-byte binary values under the current user's key.
// Used by CVCInterface for load, save, the save after the Options dialog, and uninstall.
#include "library.h"

#define SETTINGS_WORDS 4

static const char *const valueNames[SETTINGS_WORDS] = { "Options", "Startup Mode", "HotKey", "Delay" };

static DWORD Settings::*const settingsWords[SETTINGS_WORDS] = {
    &Settings::options, &Settings::startupMode, &Settings::hotKey, &Settings::delay,
};

static void FormatKeyPath(char *path)
{
    wsprintfA(path, "Software%s", "\\Bramlow Software\\Corvalent");
}

// A missing value leaves its word alone, a short one replaces only its leading bytes,
// and one longer than the word (or unreadable) leaves the word alone too.
int LoadSettings(Settings *settings)
{
    char path[64];
    HKEY key;
    FormatKeyPath(path);
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    for (int index = 0; index < SETTINGS_WORDS; index++) {
        DWORD value;
        DWORD size = sizeof value;
        if (RegQueryValueExA(key, valueNames[index], NULL, NULL, (BYTE *)&value, &size) == ERROR_SUCCESS
            && size <= sizeof value)
            CopyMemory(&(settings->*settingsWords[index]), &value, size);
    }
    RegCloseKey(key);
    return 0;
}

int SaveSettings(const Settings *settings)
{
    char path[64];
    HKEY key;
    DWORD disposition;
    FormatKeyPath(path);
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, (LPSTR) "", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        NULL, &key, &disposition) != ERROR_SUCCESS)
        return 1;
    for (int index = 0; index < SETTINGS_WORDS; index++)
        RegSetValueExA(key, valueNames[index], 0, REG_BINARY, (const BYTE *)&(settings->*settingsWords[index]),
                       sizeof(DWORD));
    RegCloseKey(key);
    return 0;
}

// Deletes the key itself with its values; its parent stays.
void DeleteSettings()
{
    char path[64];
    HKEY key;
    FormatKeyPath(path);
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteKeyA(key, "");
    RegCloseKey(key);
}
