// The "Start with Windows" shortcut in the user's StartUp folder: found, written through
// the shell link object, deleted. Used by the Options dialog's OK and by uninstall.
#include "library.h"
#include <shlobj.h>

static char startupFolder[MAX_PATH];

static const char shortcutName[] = "\\Corvalent.lnk";

// Refreshes startupFolder from the shell's folder list; a value that is missing,
// unreadable or too long for a path leaves it as it was.
static void ReadStartupFolder()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell folders",
                      0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char value[MAX_PATH];
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, "Startup", NULL, NULL, (BYTE *)value, &size) == ERROR_SUCCESS) {
        DWORD length = 0;
        while (length < size && value[length])
            length++;
        if (length < sizeof value) {
            CopyMemory(startupFolder, value, length);
            startupFolder[length] = 0;
        }
    }
    RegCloseKey(key);
}

static BOOL FormatShortcutPath(char *path, const char *folder)
{
    if (!*folder || lstrlenA(folder) + sizeof shortcutName > MAX_PATH)
        return FALSE;
    wsprintfA(path, "%s%s", folder, shortcutName);
    return TRUE;
}

// The shortcut's path in the StartUp folder of the registry, else in the shell's own
// StartUp folder; FALSE when neither is known or the path would not fit.
static BOOL GetShortcutPath(char *path)
{
    char shellFolder[MAX_PATH];
    ReadStartupFolder();
    if (FormatShortcutPath(path, startupFolder))
        return TRUE;
    return SHGetFolderPathA(NULL, CSIDL_STARTUP, NULL, SHGFP_TYPE_CURRENT, shellFolder) == S_OK
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

static HRESULT SaveLink(IShellLinkA *link, const char *linkPath)
{
    IPersistFile *file;
    HRESULT result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    if (FAILED(result)) {
        MessageBoxA(NULL, "Couldn't save the link", "CreateLink", MB_ICONWARNING);
        return result;
    }
    WCHAR widePath[MAX_PATH] = L"";
    MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH);
    result = file->Save(widePath, TRUE);
    file->Release();
    return result;
}

static HRESULT CreateLink(const char *target, const char *linkPath, const char *description, const char *arguments)
{
    IShellLinkA *link;
    CoInitialize(NULL);
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link);
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
    char target[MAX_PATH];
    char linkPath[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, target, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !GetShortcutPath(linkPath)
        || FAILED(CreateLink(target, linkPath, "Corvalent Auto Start", "startup")))
        MessageBoxA(owner, "Corvalent couldn't create a shortcut to Corvalent\nin the StartUp folder.",
                    "Start Corvalent with Windows", MB_ICONWARNING);
}

void DeleteStartupShortcut()
{
    char linkPath[MAX_PATH];
    if (GetShortcutPath(linkPath))
        DeleteFileA(linkPath);
}
