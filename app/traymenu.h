// The tray icon's context menu and the commands it sends to TrayWindow.
#pragma once
#include <windows.h>

// Opens the menu with its lower left corner at the cursor, owned by TrayWindow.
void showTrayMenu();

// The notification area's message for an icon: a left or right button press on the program's
// icon opens the menu; releases, double-clicks and moves do nothing.
void onTrayIconMessage(WPARAM iconId, LPARAM mouseMessage);

// The menu's commands: exit, About, settings, a look-up, a recent word and emptying Recent Words; others
// are ignored.
void onTrayMenuCommand(WORD command);

// Set when the hotkey came while the menu was open: the menu was told to close, and the look-up starts
// once it has.
extern bool lookupAfterMenu;
// The menu has closed (posted after its command): questions may show again, and a hotkey pressed over it
// starts its look-up now.
void onTrayMenuClosed();
