// The settings record, its option bits and the one entry point of CVConfig.
// Shared by the configuration library and the tray program (its only header from the library).
#ifndef CVCONFIG_H
#define CVCONFIG_H

#include <windows.h>

// Four 32-bit words, little-endian, no header: each word is also one registry value.
struct Settings {
    DWORD options;
    DWORD startupMode;
    DWORD hotKey;
    DWORD delay;
};

static_assert(sizeof(Settings) == 16, "Settings must stay four 32-bit words on every target");

// Bits of Settings.options
#define OPT_START_WITH_WINDOWS  0x00000001
#define OPT_EXIT_AFTERWARDS     0x00000002
#define OPT_AUTOSWITCH          0x00000004
#define OPT_HOTKEY              0x00000008
#define OPT_AUTOSWITCH_TOOLTIPS 0x00000010
#define OPT_AGGRESSIVE_OFFLINE  0x00000020
#define OPT_DELAYED_SETTING     0x00000040
#define OPT_METERED_OFFLINE     0x00000080   // a metered connection counts as none
#define OPT_NO_DIALUP           0x80000000   // run-time flag, set by the tray program

// Values of Settings.startupMode (the index in the Options dialog's list)
#define STARTUP_DEFAULT 0
#define STARTUP_OFFLINE 1
#define STARTUP_ONLINE  2
#define STARTUP_AUTO    3

// Operation codes of CVCInterface
#define CFG_LOAD      0
#define CFG_SAVE      1
#define CFG_OPTIONS   2
#define CFG_ABOUT     3
#define CFG_UNINSTALL 4

// Results of CVCInterface
#define CONFIG_OK                0
#define CONFIG_UNKNOWN_OPERATION 2

extern "C" {
typedef LONG (WINAPI *CVCInterfaceProc)(HWND owner, LONG operation, Settings *settings);
LONG WINAPI CVCInterface(HWND owner, LONG operation, Settings *settings);
}

#endif
