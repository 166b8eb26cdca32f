// Control identifiers of the settings and About dialogs (the tray menu's are in resource.h).
#pragma once

// Settings dialog: its save button is IDOK (1), its cancel button IDCANCEL (2).
#define IDC_SETTINGS_FONT 1002
#define IDC_SETTINGS_HOTKEY 1004
#define IDC_SETTINGS_SERVER 1015
#define IDC_SETTINGS_STARTUP 1016
#define IDC_SETTINGS_HIDEDB 1017
#define IDC_SETTINGS_KEEPCLIPBOARD 1020
#define IDC_SETTINGS_BASEFORMS 1021
#define IDC_SETTINGS_SUGGEST 1022
#define IDC_SETTINGS_OFFLINE 1023
#define IDC_SETTINGS_LOOKAHEAD 1024
#define IDC_SETTINGS_KEEPWORDS 1026
#define IDC_SETTINGS_ONEPAGE 1030

// About dialog: its OK button is IDOK (1); the text box below the banner.
#define IDC_ABOUT_TEXT 1003
