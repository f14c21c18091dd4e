// The "Start with Windows" shortcut in the user's StartUp folder: found, written through
// the shell link object, deleted. Used by the Options dialog's OK and by uninstall.
#include "library.h"
#include <shlobj.h>

static WCHAR startupFolder[MAX_PATH];

static const WCHAR shortcutName[] = L"\\Corvalent.lnk";

// Refreshes startupFolder from the shell's folder list, as wide text, so any folder name works;
// a value that is missing, unreadable or too long for a path leaves it as it was.
static void ReadStartupFolder()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell folders",
                      0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    WCHAR value[MAX_PATH];
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, L"Startup", NULL, NULL, (BYTE *)value, &size) == ERROR_SUCCESS) {
        DWORD length = 0;
        while (length < size / sizeof value[0] && value[length])
            length++;
        if (length < ARRAYSIZE(value)) {
            CopyMemory(startupFolder, value, length * sizeof value[0]);
            startupFolder[length] = 0;
        }
    }
    RegCloseKey(key);
}

static BOOL FormatShortcutPath(WCHAR *path, const WCHAR *folder)
{
    if (!*folder || lstrlenW(folder) + ARRAYSIZE(shortcutName) > MAX_PATH)
        return FALSE;
    wsprintfW(path, L"%s%s", folder, shortcutName);
    return TRUE;
}

// The shortcut's path in the StartUp folder of the registry, else in the shell's own
// StartUp folder; FALSE when neither is known or the path would not fit.
static BOOL GetShortcutPath(WCHAR *path)
{
    WCHAR shellFolder[MAX_PATH];
    ReadStartupFolder();
    if (FormatShortcutPath(path, startupFolder))
        return TRUE;
    return SHGetFolderPathW(NULL, CSIDL_STARTUP, NULL, SHGFP_TYPE_CURRENT, shellFolder) == S_OK
        && FormatShortcutPath(path, shellFolder);
}

static void ReportLinkStep(HRESULT result, const char *text)
{
    char message[256];
    if (result == 0)
        return;
    wsprintfA(message, "%s\nError: %08x", text, (unsigned)result);
    MessageBoxA(NULL, message, "Shortcut Creation Error", MB_ICONWARNING);
}

static HRESULT SaveLink(IShellLinkW *link, const WCHAR *linkPath)
{
    IPersistFile *file;
    HRESULT result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    if (FAILED(result)) {
        MessageBoxA(NULL, "Couldn't save the link", "CreateLink", MB_ICONWARNING);
        return result;
    }
    result = file->Save(linkPath, TRUE);
    file->Release();
    return result;
}

static HRESULT CreateLink(const WCHAR *target, const WCHAR *linkPath, const WCHAR *description, const WCHAR *arguments)
{
    IShellLinkW *link;
    CoInitialize(NULL);
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link);
    if (FAILED(result)) {
        MessageBoxA(NULL, "Couldn't create IShellLink instance", "CreateLink", MB_ICONWARNING);
    } else {
        ReportLinkStep(link->SetPath(target), "Couldn't set link path.");
        ReportLinkStep(link->SetArguments(arguments), "Couldn't set link arguments");
        ReportLinkStep(link->SetDescription(description), "Couldn't set link description.");
        ReportLinkStep(link->SetShowCmd(SW_SHOWMINNOACTIVE), "Couldn't set link show command");
        result = SaveLink(link, linkPath);
        link->Release();
    }
    CoUninitialize();
    return result;
}

void CreateStartupShortcut(HWND owner)
{
    WCHAR target[MAX_PATH];
    WCHAR linkPath[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, target, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !GetShortcutPath(linkPath)
        || FAILED(CreateLink(target, linkPath, L"Corvalent Auto Start", L"startup")))
        MessageBoxA(owner, "Corvalent couldn't create a shortcut to Corvalent\nin the StartUp folder.",
                    "Start Corvalent with Windows", MB_ICONWARNING);
}

void DeleteStartupShortcut()
{
    WCHAR linkPath[MAX_PATH];
    if (GetShortcutPath(linkPath))
        DeleteFileW(linkPath);
}
