// Look-ups on threads of their own: the window thread never waits on the network, and a cancelled
// look-up can neither show a dialog nor leave its results where the next one would find them.
#include "ui/lookupthread.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>

#include "config/config.h"
#include "core/dictsession.h"
#include "core/userinterface.h"
#include "ui/uihost.h"
#include "ui/windowthread.h"

struct LookUpRun {
    DictSession* session;
    char word[dictWordSize];
    int serverIndex;  // configuredServer, or the entry (offlineServerIndex: this computer's dictionaries)
    int found;
    std::atomic<int> state;
    // A look-up started ahead of the user's Enter shows nothing: its status is dropped and its first
    // question waits until the user confirms the word (confirmed is set then, or when it is cancelled).
    std::atomic<bool> silent;
    HANDLE confirmed;
    DWORD confirmedAt;  // when the user confirmed the word (GetTickCount)
};

namespace {

// Who lets go of a run: the window thread once it stops waiting for it, its thread once it has
// finished. Whichever comes second frees it.
enum RunState { runRunning, runFinished, runAbandoned };

// A question or status of a look-up's thread, answered on the window thread.
struct LookUpAsk {
    LookUpRun* run;
    void (*call)(void*);
    void* data;
    bool question;  // the user is to answer it (a status is only shown)
};

// A question that comes this soon after the user's Enter may open the moment the word box closes.
const DWORD justConfirmedMs = 2000;
// onLookUpAsk's answer for a question that must wait (the tray menu is open), and how long the look-up's
// thread waits before it asks again.
const LRESULT askLater = 2;
const DWORD askLaterMs = 50;

// The look-up the window thread waits for (null: none), and how many of its questions are open now.
LookUpRun* runningLookUp;
int openAsks;
// The slot of the system's thread-local storage that holds, on a look-up's thread, its run (null on
// every other thread). Taken on the window thread before the first look-up's thread starts.
DWORD runSlot = TLS_OUT_OF_INDEXES;

// The threads of look-ups that may still run (a cancelled one may be finishing a name's resolution), for
// the program's end to wait for; a finished one's handle is closed when its slot is wanted.
const int keptThreadCount = 16;
HANDLE keptThreads[keptThreadCount];

void keepThread(HANDLE thread)
{
    for (HANDLE& kept : keptThreads) {
        if (kept != nullptr && WaitForSingleObject(kept, 0) == WAIT_OBJECT_0) {
            CloseHandle(kept);
            kept = nullptr;
        }
    }
    for (HANDLE& kept : keptThreads) {
        if (kept == nullptr) {
            kept = thread;
            return;
        }
    }
    CloseHandle(thread);  // sixteen cancelled look-ups still resolving names: this one is not waited for
}

LookUpRun* runOfThisThread()
{
    return runSlot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<LookUpRun*>(TlsGetValue(runSlot));
}

void freeRun(LookUpRun* run)
{
    releaseLookUp(run->session);
    if (run->confirmed != nullptr)
        CloseHandle(run->confirmed);
    free(run);
}

DWORD WINAPI lookUpThread(void* parameter)
{
    LookUpRun* run = static_cast<LookUpRun*>(parameter);
    TlsSetValue(runSlot, run);
    run->found = run->serverIndex == configuredServer
                     ? run->session->lookUpWord(run->word)
                     : run->session->lookUpWordFrom(run->word, run->serverIndex);
    TlsSetValue(runSlot, nullptr);
    if (run->state.exchange(runFinished) == runAbandoned) {
        freeRun(run);
        return 0;
    }
    // Wakes the waiting loop; the run may be freed from this moment on.
    PostMessageW(TrayWindow, lookUpDoneMessage, 0, 0);
    return 0;
}

bool cancelled(const LookUpRun* run) { return netSignalRaised(run->session->cancelSignal); }

void cancelRun(LookUpRun* run)
{
    run->session->cancel();
    // A question waiting for the user's word goes on, to find the look-up cancelled.
    SetEvent(run->confirmed);
}

// Whether the window thread stops waiting for the run: it has finished, or it was cancelled.
bool runOver(void* run)
{
    const LookUpRun* waited = static_cast<const LookUpRun*>(run);
    return waited->state.load() != runRunning || cancelled(waited);
}

}  // namespace

void releaseLookUp(DictSession* session)
{
    if (session == nullptr)
        return;
    session->release();
    free(session);
}

LookUpRun* startLookUp(const char* word, int serverIndex, bool silent)
{
    if (runSlot == TLS_OUT_OF_INDEXES)
        runSlot = TlsAlloc();
    // Zeroed, as a new look-up record and run start: no connection, no lists, nothing shown.
    LookUpRun* run = static_cast<LookUpRun*>(calloc(1, sizeof(LookUpRun)));
    if (run == nullptr || runSlot == TLS_OUT_OF_INDEXES) {
        free(run);
        return nullptr;
    }
    run->session = static_cast<DictSession*>(calloc(1, sizeof(DictSession)));
    if (run->session != nullptr)
        run->session->cancelSignal = netCreateSignal();
    run->confirmed = CreateEventW(nullptr, TRUE, silent ? FALSE : TRUE, nullptr);
    if (run->session == nullptr || run->session->cancelSignal == nullptr || run->confirmed == nullptr) {
        freeRun(run);
        return nullptr;
    }
    snprintf(run->word, sizeof run->word, "%s", word);
    // Copied here, on the thread that writes it: the look-up's thread never reads the flag itself.
    run->session->skipChoice = hideDbDialog;
    run->session->choiceCopied = true;
    run->serverIndex = serverIndex;
    run->state = runRunning;
    run->silent = silent;
    HANDLE thread = CreateThread(nullptr, 0, lookUpThread, run, 0, nullptr);
    if (thread == nullptr) {
        freeRun(run);
        return nullptr;
    }
    keepThread(thread);
    return run;
}

void abandonLookUp(LookUpRun* run)
{
    if (run == nullptr)
        return;
    cancelRun(run);
    if (run->state.exchange(runAbandoned) == runFinished)
        freeRun(run);
}

DictSession* finishLookUp(LookUpRun* run, HWND dialog)
{
    if (run == nullptr)
        return nullptr;
    // From now on the user waits for it: what it shows and asks comes up.
    run->silent = false;
    run->confirmedAt = GetTickCount();
    SetEvent(run->confirmed);
    LookUpRun* outer = runningLookUp;
    runningLookUp = run;
    if (!runMessagesUntil(runOver, run, dialog, nullptr))
        cancelRun(run);  // the program is ending
    runningLookUp = outer;

    const bool wasCancelled = cancelled(run);
    // A cancelled look-up's status goes with it, also when it had finished just before the cancel (its end
    // was still on its way): nothing else would take "Retrieving definitions..." away.
    if (wasCancelled)
        hideStatus();
    if (run->state.exchange(runAbandoned) != runFinished) {
        // Still running, so cancelled: it ends by itself.
        if (!wasCancelled)
            hideStatus();
        return nullptr;
    }
    DictSession* session = run->session;
    const bool found = run->found == 1 && !wasCancelled;
    run->session = nullptr;
    freeRun(run);
    if (!found) {
        releaseLookUp(session);
        return nullptr;
    }
    return session;
}

DictSession* runLookUp(const char* word, int serverIndex, HWND dialog)
{
    return finishLookUp(startLookUp(word, serverIndex, false), dialog);
}

void waitForLookUpThreads(DWORD milliseconds)
{
    HANDLE live[keptThreadCount];
    DWORD count = 0;
    for (HANDLE& kept : keptThreads) {
        if (kept != nullptr)
            live[count++] = kept;
        kept = nullptr;
    }
    if (count > 0)
        WaitForMultipleObjects(count, live, TRUE, milliseconds);
    for (DWORD i = 0; i < count; i++)
        CloseHandle(live[i]);
}

bool lookUpWaiting() { return runningLookUp != nullptr && openAsks == 0; }

void cancelRunningLookUp()
{
    if (runningLookUp != nullptr)
        cancelRun(runningLookUp);
}

namespace {

bool sendToWindowThread(void (*call)(void*), void* data, bool question)
{
    LookUpRun* run = runOfThisThread();
    if (run == nullptr) {
        call(data);
        return true;
    }
    // A look-up ahead of the user's Enter shows no status.
    if (run->silent)
        return false;
    LookUpAsk ask = {run, call, data, question};
    LRESULT answer;
    while ((answer = SendMessageW(TrayWindow, lookUpAskMessage, 0, reinterpret_cast<LPARAM>(&ask))) ==
           askLater)
        Sleep(askLaterMs);
    return answer != 0;
}

}  // namespace

bool runOnWindowThread(void (*call)(void*), void* data) { return sendToWindowThread(call, data, false); }

bool askOnWindowThread(void (*call)(void*), void* data)
{
    LookUpRun* run = runOfThisThread();
    // A look-up ahead of the user's Enter asks only once the user has confirmed the word.
    if (run != nullptr)
        WaitForSingleObject(run->confirmed, INFINITE);
    return sendToWindowThread(call, data, true);
}

LRESULT onLookUpAsk(LPARAM request)
{
    LookUpAsk* ask = reinterpret_cast<LookUpAsk*>(request);
    // Decided here, on the thread that cancels: a cancelled look-up's questions never show.
    if (cancelled(ask->run))
        return 0;
    if (ask->question && trayMenuOpen)
        return askLater;
    openAsks++;
    if (ask->question && GetTickCount() - ask->run->confirmedAt < justConfirmedMs)
        keepAnswerInFront();
    ask->call(ask->data);
    openAsks--;
    return 1;
}
