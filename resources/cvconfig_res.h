// Resource ids of CVConfig.dll: the Options and About dialogs, their controls and icons.
// Shared by resources/cvconfig.rc and the library's sources.
#ifndef CVCONFIG_RES_H
#define CVCONFIG_RES_H

#define IDD_OPTIONS 101
#define IDD_ABOUT   108

#define IDI_KEYBOARD   102
#define IDI_AUTOMATION 103
#define IDI_AUTOSWITCH 105
#define IDI_ONLINE     110
#define IDI_OFFLINE    111

// Options dialog
#define IDC_ENABLE_HOTKEY        1000
#define IDC_HOTKEY               1001
#define IDC_START_WITH_WINDOWS   1002
#define IDC_EXIT_AFTERWARDS      1003
#define IDC_AUTOSWITCH           1004
#define IDC_AGGRESSIVE_OFFLINE   1005
#define IDC_OPTIONS_OK           1006
#define IDC_OPTIONS_CANCEL       1007
#define IDC_AUTOSWITCH_TOOLTIPS  1008
#define IDC_STARTUP_MODE         1009
#define IDC_DELAYED_SETTING      1010
#define IDC_AUTOMATION_GROUP     1013
#define IDC_AUTOMATION_ICON      1014
#define IDC_AUTOSWITCH_ICON      1015
#define IDC_AUTOSWITCH_GROUP     1016
#define IDC_KEYBOARD_ICON        1017
#define IDC_KEYBOARD_GROUP       1018
#define IDC_DELAY                1020
#define IDC_SECONDS_LABEL        1021
#define IDC_METERED_OFFLINE      1022

// About dialog
#define IDC_ABOUT_EMAIL        2
#define IDC_ABOUT_WEB          3
#define IDC_ABOUT_OK           1019
#define IDC_ABOUT_ONLINE_ICON  1023
#define IDC_ABOUT_OFFLINE_ICON 1024

#endif
