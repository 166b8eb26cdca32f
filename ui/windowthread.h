// The window thread's message loop, one shape for the program's main loop and the loops that wait
// inside it, and its hold on the foreground for a window that has just opened.
#pragma once
#include <windows.h>

// Handles this thread's messages until done(data) is true after one of them (never, when done is
// null), keys for dialog (when not null) going through IsDialogMessage. False when the program is
// ending: WM_QUIT came, and *exitCode (when not null) holds its code. A loop inside another (done not
// null) passes the quit on, so that the main loop ends too.
bool runMessagesUntil(bool (*done)(void*), void* data, HWND dialog, int* exitCode);

// For the next second, puts the window of this thread that the user is to answer (the topmost one
// that is visible and enabled) back in front whenever something else has the foreground: a window
// opened the moment another closed may come up behind the one the activation went back to.
void keepAnswerInFront();

// True while the tray menu is open. A dialog opened inside the menu's own loop would hold the menu open
// behind it, so a look-up's question waits until it has closed; the foreground is left to the menu.
extern bool trayMenuOpen;
