// A look-up on a thread of its own: the window thread starts it, goes on handling messages, answers its
// questions, and may cancel it at any moment.
#pragma once
#include <windows.h>

struct DictSession;

// Sent by a look-up's thread to TrayWindow to have a question or status shown (lParam: the request);
// posted when a look-up's thread has finished.
const UINT lookUpAskMessage = WM_APP + 40;
const UINT lookUpDoneMessage = WM_APP + 41;

// runLookUp's server index for the entry the settings name.
const int configuredServer = -1;

// Looks word up on a thread of its own, from the given server entry (or configuredServer), while this
// thread handles its messages (keys for dialog, when not null, go through IsDialogMessage). Returns the
// look-up with its definitions when it found them, for the caller to show and then release with
// releaseLookUp; null when it failed or was cancelled. A cancelled look-up is left to end by itself: its
// thread may still finish resolving a name, and then drops what it has.
DictSession* runLookUp(const char* word, int serverIndex, HWND dialog);
void releaseLookUp(DictSession* session);

// Whether a look-up runs and is waiting on the network rather than on the user's answer.
bool lookUpWaiting();
// Cancels the look-up that runs, if one does: runLookUp returns null at once, and the look-up asks and
// shows nothing more.
void cancelRunningLookUp();

// Runs call(data) on the window thread: directly when called there, else for the calling look-up thread,
// unless its look-up has been cancelled. Returns whether call ran.
bool runOnWindowThread(void (*call)(void*), void* data);
// The window procedure's answer to lookUpAskMessage.
LRESULT onLookUpAsk(LPARAM request);
