// A look-up on a thread of its own: the window thread starts it and goes on handling messages; the look-up
// posts its requests (a status, a question) and its end, which the window thread serves from its loop, and
// may be cancelled at any moment.
#pragma once
#include <windows.h>

struct DictSession;

// Posted by a look-up's thread to TrayWindow to have a question or status shown (lParam: the request),
// and when a look-up's thread has finished (lParam: the look-up).
const UINT lookUpAskMessage = WM_APP + 40;
const UINT lookUpDoneMessage = WM_APP + 41;
// Posted by the tray menu once it has closed and its command has been posted: questions may show again.
const UINT trayMenuClosedMessage = WM_APP + 42;

// startLookUp's server index for the entry the settings name.
const int configuredServer = -1;

struct LookUpRun;
// Starts a look-up of word from the given server entry (or configuredServer) on a thread of its own, and
// returns at once; null when it could not start. A silent one, started ahead of the user's Enter, shows no
// status and its first question waits until confirmLookUp (so a failure found ahead is told only then).
// With a database, that one is taken without asking when the word matches there (a kept word looked up
// again).
LookUpRun* startLookUp(const char* word, int serverIndex, bool silent, const char* database = nullptr);
// The user confirmed the word: the look-up shows and asks from now on, and it is the running look-up (one
// that ran before is cancelled). ended(data, found) is called once on this thread when it ends: from its
// posted end with the look-up holding its definitions (the callee shows them and releases it with
// releaseLookUp), or with null when it failed or was cancelled. The run is not the caller's any more.
void confirmLookUp(LookUpRun* run, void (*ended)(void* data, DictSession* found), void* data);
// The word was not confirmed: the look-up is cancelled, its connections close and it is gone.
void abandonLookUp(LookUpRun* run);
void releaseLookUp(DictSession* session);

// At the program's end, once every look-up has been cancelled: waits for their threads to end (their
// sockets closed), at most the given time.
void waitForLookUpThreads(DWORD milliseconds);

// Whether a confirmed look-up runs; and whether it is waiting on the network rather than on the user's
// answer to one of its questions.
bool lookUpRunning();
bool lookUpWaiting();
// Cancels the running look-up, if there is one: what it shows goes (its status, its open question), its
// waits end, its ended is called with null now, and it asks and shows nothing more. The caller that has
// taken the status down already, and shown another since, keeps that one.
void cancelRunningLookUp(bool hideItsStatus = true);

// Runs call(data) on the window thread: directly when called there, else for the calling look-up thread,
// unless its look-up has been cancelled or is silent. Returns whether call ran. For a status.
bool runOnWindowThread(void (*call)(void*), void* data);
// The same for a question: a silent look-up's question waits until the user has confirmed the word. The
// first top-level dialog call opens is the question, closed when the look-up is cancelled.
bool askOnWindowThread(void (*call)(void*), void* data);
// The window procedure's answers to lookUpAskMessage and lookUpDoneMessage: the request or the end is
// served now, or, a question or an end while the tray menu is open, once serveWaitingAsks runs after the
// menu has closed.
LRESULT onLookUpAsk(LPARAM request);
LRESULT onLookUpDone(LPARAM run);
void serveWaitingAsks();
