// The Options dialog: shows and edits every setting, its enable rules and context help.
// Run by CVCInterface for the Options operation; the caller saves the record afterwards.
#include "library.h"
#include "cvconfig_res.h"
#include <commctrl.h>

#define DELAY_TEXT_SIZE 15
#define DELAY_MAX_DIGITS 3
#define DELAY_DEFAULT 8
#define DELAY_LONGEST 300

static Settings *editedSettings;

static const char *const startupModeTexts[] = {
    "Leave in the default mode",
    "Start in offline mode",
    "Start in online mode",
    "Auto start mode",
};

struct CheckBoxBit {
    int id;
    DWORD bit;
};

static const CheckBoxBit checkBoxBits[] = {
    { IDC_START_WITH_WINDOWS,  OPT_START_WITH_WINDOWS },
    { IDC_EXIT_AFTERWARDS,     OPT_EXIT_AFTERWARDS },
    { IDC_DELAYED_SETTING,     OPT_DELAYED_SETTING },
    { IDC_AUTOSWITCH,          OPT_AUTOSWITCH },
    { IDC_AUTOSWITCH_TOOLTIPS, OPT_AUTOSWITCH_TOOLTIPS },
    { IDC_AGGRESSIVE_OFFLINE,  OPT_AGGRESSIVE_OFFLINE },
    { IDC_METERED_OFFLINE,     OPT_METERED_OFFLINE },
    { IDC_ENABLE_HOTKEY,       OPT_HOTKEY },
};

// The icon statics and their icons.
static const DialogIcon optionsIcons[] = {
    { IDI_AUTOSWITCH, IDC_AUTOSWITCH_ICON },
    { IDI_AUTOMATION, IDC_AUTOMATION_ICON },
    { IDI_KEYBOARD,   IDC_KEYBOARD_ICON },
};

// The controls that follow "Start with Windows".
static const int startupControls[] = { IDC_STARTUP_MODE, IDC_EXIT_AFTERWARDS, IDC_DELAYED_SETTING, IDC_DELAY };

struct ControlHelp {
    int id;
    const char *text;
};

static const ControlHelp controlHelpTable[] = {
    { IDC_AUTOMATION_GROUP,
      "These settings are used to automate Corvalent" },
    { IDC_AUTOMATION_ICON,
      "These settings are used to automate Corvalent" },
    { IDC_START_WITH_WINDOWS,
      "Select this option to have Corvalent start with Windows." },
    { IDC_STARTUP_MODE,
      "Determine how Corvalent sets Window's offline mode when it starts.\n"
      "\n"
      "Leave in the default mode\n"
      "  Corvalent doesn't set the offline mode - it is left as Windows sets it\n"
      "\n"
      "Start in offline mode\n"
      "  Corvalent puts Windows into offline mode when it starts\n"
      "\n"
      "Start in online mode\n"
      "  Corvalent puts Windows into online mode when it starts\n"
      "\n"
      "Auto start mode\n"
      "  Corvalent puts Windows into online mode if there's a\n"
      "  connection to the Internet, otherwise offline mode is set.\n"
      "\n"
      "If none of these options appear to work for you, try checking\n"
      "the \"Delayed Setting\" box" },
    { IDC_EXIT_AFTERWARDS,
      "Selecting this option will instruct Corvalent to exit after setting the offline/online mode (specified above). \n"
      "\n"
      "This can be useful if you want Corvalent to set Windows into offline mode, but don't want Corvalent running all the time, for example." },
    { IDC_DELAYED_SETTING,
      "Selecting this option will instruct Corvalent to wait a few seconds\n"
      "before applying the above settings.\n"
      "\n"
      "This can be useful if you suspect than IE is clobbering Corvalent's\n"
      "startup online/offline mode settings when Windows starts." },
    { IDC_DELAY,
      "You can specify how many seconds after loading Corvalent should wait\n"
      "before applying the above settings.\n"
      "\n"
      "Because every PC system is different, you may find increasing the default\n"
      "delay improves Corvalent's ability to set the starting mode." },
    { IDC_AUTOSWITCH_GROUP,
      "These settings are used to control Corvalent's AutoSwitch feature." },
    { IDC_AUTOSWITCH_ICON,
      "These settings are used to control Corvalent's AutoSwitch feature." },
    { IDC_AUTOSWITCH,
      "Selecting this option enables Corvalent's AutoSwitch feature.\n"
      "\n"
      "When AutoSwitch is enabled, Corvalent looks for an active Internet\n"
      "connection. As soon as one is made, Corvalent switches Windows into\n"
      "online mode. Conversely, when an Internet connection is terminated,\n"
      "Corvalent switches Windows into offline mode.\n"
      "\n"
      "Enabling AutoSwitch also gives a visual indication of being connected\n"
      "to the Internet." },
    { IDC_AUTOSWITCH_TOOLTIPS,
      "Selecting this options adds AutoSwitch and Internet connection status to the Corvalent tray icon ToolTip." },
    { IDC_AGGRESSIVE_OFFLINE,
      "When Aggressive Offline is enabled, Corvalent will not leave online mode set if there's no active\n"
      "connection to the Internet. This feature may help workaround the IE 5.x bug that sets online mode\n"
      "whenever it is closed down.\n"
      "\n"
      "Aggressive Offline requires dial up networking (DUN) components to be installed, so it may\n"
      "not be available if you do not have DUN installed." },
    { IDC_METERED_OFFLINE,
      "Selecting this option makes AutoSwitch treat a connection that Windows marks as metered\n"
      "(a phone's hotspot, a mobile broadband modem, a capped data plan) as no connection:\n"
      "Corvalent switches Windows into offline mode when you join a metered network, and into\n"
      "online mode when you move to one that is not metered, so that programs do not quietly\n"
      "spend your data.\n"
      "\n"
      "The Auto start mode treats it the same way: started with Windows on a metered\n"
      "connection, Corvalent puts Windows into offline mode. The option can be set whenever\n"
      "AutoSwitch or the Auto start mode is selected.\n"
      "\n"
      "You can still go online by hand. Aggressive Offline, when enabled, undoes that, as it\n"
      "does without a connection.\n"
      "\n"
      "Windows tells the cost of a connection from Windows 8 on; before that, this option has\n"
      "no effect." },
    { IDC_KEYBOARD_GROUP,
      "These settings are used to control Corvalent's AutoSwitch feature." },
    { IDC_KEYBOARD_ICON,
      "These settings are used to control Corvalent's hotkey online toggling." },
    { IDC_ENABLE_HOTKEY,
      "Select this option to enable offline/online toggling with the keyboard." },
    { IDC_HOTKEY,
      "Click here and press the keyboard combination you wish to use for online offline toggling." },
    { IDC_OPTIONS_OK,
      "Accept these options and exit" },
    { IDC_OPTIONS_CANCEL,
      "Discard these options and exit" },
    { 0, NULL },
};

static int IsChecked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

static void UpdateStartupControls(HWND dialog)
{
    int enable = IsChecked(dialog, IDC_START_WITH_WINDOWS);
    for (int id : startupControls)
        EnableWindow(GetDlgItem(dialog, id), enable);
}

static void UpdateAggressiveOffline(HWND dialog)
{
    int enable = !(editedSettings->options & OPT_NO_DIALUP) && IsChecked(dialog, IDC_AUTOSWITCH);
    EnableWindow(GetDlgItem(dialog, IDC_AGGRESSIVE_OFFLINE), enable);
}

// The bit counts for AutoSwitch and for the Auto start mode.
static void UpdateMeteredOffline(HWND dialog)
{
    int autoMode = SendDlgItemMessageA(dialog, IDC_STARTUP_MODE, CB_GETCURSEL, 0, 0) == STARTUP_AUTO;
    EnableWindow(GetDlgItem(dialog, IDC_METERED_OFFLINE), IsChecked(dialog, IDC_AUTOSWITCH) || autoMode);
}

static void UpdateHotKeyControl(HWND dialog)
{
    EnableWindow(GetDlgItem(dialog, IDC_HOTKEY), IsChecked(dialog, IDC_ENABLE_HOTKEY));
}

static void InitOptionsControls(HWND dialog)
{
    char delayText[DELAY_TEXT_SIZE];
    for (int position = 0; position < 4; position++)
        SendDlgItemMessageA(dialog, IDC_STARTUP_MODE, CB_INSERTSTRING, position,
                            (LPARAM)startupModeTexts[position]);
    SendDlgItemMessageA(dialog, IDC_STARTUP_MODE, CB_SETCURSEL, (WPARAM)(int)editedSettings->startupMode, 0);
    for (const CheckBoxBit &box : checkBoxBits)
        CheckDlgButton(dialog, box.id, (editedSettings->options & box.bit) ? BST_CHECKED : BST_UNCHECKED);
    wsprintfA(delayText, "%d", (int)editedSettings->delay);
    SetDlgItemTextA(dialog, IDC_DELAY, delayText);
    SendDlgItemMessageA(dialog, IDC_DELAY, EM_LIMITTEXT, DELAY_MAX_DIGITS, 0);
    SendDlgItemMessageA(dialog, IDC_HOTKEY, HKM_SETHOTKEY, editedSettings->hotKey, 0);
    UpdateStartupControls(dialog);
    UpdateAggressiveOffline(dialog);
    UpdateMeteredOffline(dialog);
    UpdateHotKeyControl(dialog);
}

// The typed delay: white space, an optional sign, then digits. Numbers past the
// longest delay stay past it, so no long entry can wrap into the accepted range.
static DWORD ReadDelay(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        text++;
    int negative = *text == '-';
    if (*text == '+' || *text == '-')
        text++;
    DWORD number = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        number = number * 10 + (*text - '0');
        if (number > DELAY_LONGEST)
            return DELAY_DEFAULT;
    }
    if (negative || number < 1)
        return DELAY_DEFAULT;
    return number;
}

static void StoreOptionsControls(HWND dialog)
{
    char delayText[DELAY_TEXT_SIZE];
    for (const CheckBoxBit &box : checkBoxBits) {
        if (IsChecked(dialog, box.id))
            editedSettings->options |= box.bit;
        else
            editedSettings->options &= ~box.bit;
    }
    GetDlgItemTextA(dialog, IDC_DELAY, delayText, sizeof delayText);
    editedSettings->delay = ReadDelay(delayText);
    editedSettings->startupMode = (DWORD)SendDlgItemMessageA(dialog, IDC_STARTUP_MODE, CB_GETCURSEL, 0, 0);
    editedSettings->hotKey = (DWORD)SendDlgItemMessageA(dialog, IDC_HOTKEY, HKM_GETHOTKEY, 0, 0);
    if (IsChecked(dialog, IDC_START_WITH_WINDOWS))
        CreateStartupShortcut(dialog);
    else
        DeleteStartupShortcut();
}

static void ShowControlHelp(HWND dialog, const HELPINFO *help)
{
    const ControlHelp *entry = controlHelpTable;
    while (entry->id && entry->id != help->iCtrlId)
        entry++;
    if (entry->id && entry->text)
        MessageBoxA(dialog, entry->text, "Corvalent Help", MB_ICONINFORMATION);
}

static INT_PTR OnOptionsCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDC_ENABLE_HOTKEY:
        UpdateHotKeyControl(dialog);
        return FALSE;
    case IDC_START_WITH_WINDOWS:
        UpdateStartupControls(dialog);
        return FALSE;
    case IDC_STARTUP_MODE:
        UpdateMeteredOffline(dialog);
        return FALSE;
    case IDC_AUTOSWITCH:
        UpdateAggressiveOffline(dialog);
        UpdateMeteredOffline(dialog);
        return FALSE;
    case IDC_OPTIONS_OK:
        StoreOptionsControls(dialog);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return TRUE;
    case IDC_OPTIONS_CANCEL:
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return TRUE;
    }
    return FALSE;
}

static void ScaleOptionsIcons(HWND dialog, UINT dpi)
{
    ScaleDialogIcons(dialog, optionsIcons, sizeof optionsIcons / sizeof optionsIcons[0], dpi);
}

static INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        CenterDialog(dialog);
        ScaleOptionsIcons(dialog, 0);
        InitOptionsControls(dialog);
        return TRUE;
    case WM_DPICHANGED:
        ScaleOptionsIcons(dialog, LOWORD(wParam));
        // The dialog manager lays the dialog out for the new DPI.
        return FALSE;
    case WM_COMMAND:
        return OnOptionsCommand(dialog, LOWORD(wParam));
    case WM_HELP:
        if (lParam)
            ShowControlHelp(dialog, (const HELPINFO *)lParam);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, lParam);
        return TRUE;
    }
    return FALSE;
}

typedef BOOL (WINAPI *InitCommonControlsExProc)(const INITCOMMONCONTROLSEX *);

// The hot-key control's class lives in the common controls, which no other call of the library
// needs: loaded for the dialog alone, so that loading and saving the settings keeps them (their
// classes and pages) out of the program. The program's manifest still redirects the name to
// version 6; without it the system folder's copy (Windows 7 without the search flags: the classic
// search, as an import had).
static HMODULE LoadCommonControls(void)
{
    HMODULE library = LoadLibraryExA("comctl32.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library && GetLastError() == ERROR_INVALID_PARAMETER)
        library = LoadLibraryA("comctl32.dll");
    InitCommonControlsExProc initCommonControlsEx =
        library ? (InitCommonControlsExProc)(void (*)())GetProcAddress(library, "InitCommonControlsEx") : NULL;
    INITCOMMONCONTROLSEX controls = { sizeof controls, ICC_HOTKEY_CLASS };
    if (initCommonControlsEx)
        initCommonControlsEx(&controls);
    return library;
}

int RunOptionsDialog(HWND owner, Settings *settings)
{
    HMODULE commonControls = LoadCommonControls();
    editedSettings = settings;
    DialogBoxParamA(moduleHandle, MAKEINTRESOURCEA(IDD_OPTIONS), owner, OptionsDialogProc, 0);
    DestroyDialogIcons();
    if (commonControls)
        FreeLibrary(commonControls);
    return 0;
}
