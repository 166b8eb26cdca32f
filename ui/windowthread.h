// The window thread's one message loop, and its hold on the foreground for a window that has just opened.
#pragma once
#include <windows.h>

// Handles this thread's messages until WM_QUIT comes, whose code it returns. Each message is offered to
// dialogMessage first (the modeless word box's keys), and is taken when it says so.
int runWindowLoop(bool (*dialogMessage)(MSG* message));

// For the next second, puts the window of this thread that the user is to answer (the topmost one
// that is visible and enabled) back in front whenever something else has the foreground: a window
// opened the moment another closed may come up behind the one the activation went back to.
void keepAnswerInFront();

// True while the tray menu is open. A dialog opened inside the menu's own loop would hold the menu open
// behind it, so a look-up's question, or the viewer of one that has ended, waits until it has closed; the
// foreground is left to the menu.
extern bool trayMenuOpen;
