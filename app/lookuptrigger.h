// The guarded start of a look-up, shared by the hotkey and the tray menu's "Look Up A Word".
#pragma once

// Set from the moment the word box opens until the box, its look-up or the definition viewer after it
// has ended; while set, a new look-up starts only in place of one under way. Only this file changes it.
extern bool lookupActive;

// Opens the word box and returns; the viewer opens when the box's look-up has found definitions, both
// owned by TrayWindow. Over a look-up under way it cancels that one and opens the box; over the box or
// the viewer it opens none, and over the viewer with a selection it has the viewer follow that selection.
void startLookup();

// Shows the recent word at index (a place in recentWords) from memory: in a viewer of its own, or in
// the open viewer (its page going on the Back history); while the word box, a question or a look-up is
// under way, nothing. A word kept from an earlier run is looked up again first, in its own database.
void startRecentWord(int index);
// Whether startRecentWord would show the word at index now.
bool recentWordCanShow(int index);
