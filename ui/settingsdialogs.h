// The dialogs the tray menu opens: Settings and About.
#pragma once
#include <windows.h>

// Runs the modal settings dialog, without an owner window. Ends with the index of
// the chosen server entry after a successful save (-1 when none is selected), or IDCANCEL.
INT_PTR runSettingsDialog();

// Runs the modal About dialog owned by owner; it always ends with 0.
void runAboutDialog(HWND owner);
