// The tray icon's context menu and the commands it sends to TrayWindow.
#pragma once
#include <windows.h>

// Opens the menu with its lower left corner at the cursor, owned by TrayWindow.
void showTrayMenu();

// The notification area's message for an icon: a left or right button press on the program's
// icon opens the menu; releases, double-clicks and moves do nothing.
void onTrayIconMessage(WPARAM iconId, LPARAM mouseMessage);

// The menu's commands: exit, About, settings, a look-up and a recent word; others are ignored.
void onTrayMenuCommand(WORD command);
