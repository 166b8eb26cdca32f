// The look-up dialogs: the word entry box and the definition viewer (the database choice is
// runDatabaseChoiceDialog of core/userinterface.h).
#pragma once
#include <windows.h>

#include "core/viewertext.h"

// Makes the word entry box, hidden, ahead of its first use; false when it cannot be made.
bool prepareWordEntryDialog(HWND owner);

struct DictSession;

// The settings changed: a look-up ahead of the open word box ends, and the copied word is looked up
// ahead afresh with the new settings (when they still ask for it).
void restartWordLookAhead();

// Captures the selection of the foreground application and opens the box, in which the user confirms
// or types the word, and returns. ended(found) comes later on this thread, once: null when the box
// closed without a look-up or its look-up failed or was cancelled, else the look-up with the
// definitions (the callee releases it with releaseLookUp). Nothing while the box is open.
void openWordEntryDialog(HWND owner, void (*ended)(DictSession* found));
// Passes the open box its keys; true when the message was the box's.
bool wordEntryMessage(MSG* message);
// At the program's end: the box closes, a look-up ahead of it with it, telling nothing.
void closeWordEntryDialog();
// Whether the word box is open.
bool wordEntryOpen();

// Shows the definitions of the look-up, one at a time, until the user closes it; words
// double-clicked in them are looked up in turn.
void runDefinitionViewer(HWND owner, DictSession* found);

// The words the viewer has shown since the program started, for the tray menu to show again. Only
// the viewer adds to it.
extern RecentWords recentWords;

// Shows the recent word at index (a place in recentWords) in a viewer of its own, from memory, until
// the user closes it; nothing when there is no such word.
void runRecentWordViewer(HWND owner, int index);

// Shows the recent word at index in the open viewer, the page it showed going on its Back history.
// False, showing nothing, when no viewer is open or it is busy following a word.
bool showRecentWordInViewer(int index);

// Whether a viewer is open and could show a recent word now.
bool viewerCanShowRecentWord();

// Closes the viewer, when one is open, as its Close button does (a word it follows is cancelled).
void closeDefinitionViewer();

// When the viewer is the foreground window and text is selected in it, has it look that text up
// (once the current message is handled) and returns true; else does nothing and returns false.
bool followViewerSelection();
