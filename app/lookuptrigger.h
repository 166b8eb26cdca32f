// The guarded start of a look-up, shared by the hotkey and the tray menu's "Look Up A Word".
#pragma once

// Set from the moment the word box opens until the word box or the definition viewer after it
// has closed; while set, a new look-up does nothing. Only startLookup changes it.
extern bool lookupActive;

// Runs the word box and, when it found definitions, the viewer, both owned by TrayWindow.
// While another look-up is on it starts none; over the viewer with a selection it has the viewer
// follow that selection.
void startLookup();

// Shows the recent word at index (a place in recentWords) from memory: in a viewer of its own, or in
// the open viewer (its page going on the Back history); while the word box, a question or a look-up is
// under way, nothing. A word kept from an earlier run is looked up again first, in its own database.
void startRecentWord(int index);
// Whether startRecentWord would show the word at index now.
bool recentWordCanShow(int index);
