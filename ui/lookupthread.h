// A look-up on a thread of its own: the window thread starts it, goes on handling messages, answers its
// questions, and may cancel it at any moment.
#pragma once
#include <windows.h>

struct DictSession;

// Posted by a look-up's thread to TrayWindow to have a question or status shown (lParam: the request),
// and when a look-up's thread has finished.
const UINT lookUpAskMessage = WM_APP + 40;
const UINT lookUpDoneMessage = WM_APP + 41;
// Posted by the tray menu once it has closed and its command has been posted: questions may show again.
const UINT trayMenuClosedMessage = WM_APP + 42;

// runLookUp's server index for the entry the settings name.
const int configuredServer = -1;

// Looks word up on a thread of its own, from the given server entry (or configuredServer), while this
// thread handles its messages (keys for dialog, when not null, go through IsDialogMessage). Returns the
// look-up with its definitions when it found them, for the caller to show and then release with
// releaseLookUp; null when it failed or was cancelled. A cancelled look-up is left to end by itself: its
// thread may still finish resolving a name, and then drops what it has. With a database, that one is
// taken without asking when the word matches there (a kept word looked up again).
DictSession* runLookUp(const char* word, int serverIndex, HWND dialog, const char* database = nullptr);

// A look-up started ahead of the user's confirmation, on its own thread.
struct LookUpRun;
// Starts a look-up as runLookUp does, without waiting for it. A silent one shows no status, and its
// first question waits until finishLookUp (so a failure found ahead is told only then); null when it
// could not start.
LookUpRun* startLookUp(const char* word, int serverIndex, bool silent, const char* database = nullptr);
// The user confirmed the word: the look-up shows and asks from now on, and this waits for it as
// runLookUp does. Returns what runLookUp returns; the run is gone afterwards.
DictSession* finishLookUp(LookUpRun* run, HWND dialog);
// The word was not confirmed: the look-up is cancelled, its connections close and it is gone.
void abandonLookUp(LookUpRun* run);
void releaseLookUp(DictSession* session);

// At the program's end, once every look-up has been cancelled: waits for their threads to end (their
// sockets closed), at most the given time.
void waitForLookUpThreads(DWORD milliseconds);

// Whether a look-up runs and is waiting on the network rather than on the user's answer.
bool lookUpWaiting();
// Cancels the look-up that runs, if one does: runLookUp returns null at once, and the look-up asks and
// shows nothing more.
void cancelRunningLookUp();

// Runs call(data) on the window thread: directly when called there, else for the calling look-up thread,
// unless its look-up has been cancelled or is silent. Returns whether call ran. For a status.
bool runOnWindowThread(void (*call)(void*), void* data);
// The same for a question: a silent look-up's question waits until the user has confirmed the word.
bool askOnWindowThread(void (*call)(void*), void* data);
// The window procedure's answer to lookUpAskMessage: the request is served now, or, a question while the
// tray menu is open, once serveWaitingAsks runs after the menu has closed.
LRESULT onLookUpAsk(LPARAM request);
void serveWaitingAsks();
