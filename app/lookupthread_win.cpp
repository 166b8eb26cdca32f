// Look-ups on threads of their own: the window thread never waits on the network, and a cancelled
// look-up can neither show a dialog nor leave its results where the next one would find them.
#include "app/lookupthread.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>

#include "app/trayapp.h"
#include "core/dictsession.h"
#include "core/userinterface.h"

namespace {

// Who lets go of a run: the window thread once it stops waiting for it, its thread once it has
// finished. Whichever comes second frees it.
enum RunState { runRunning, runFinished, runAbandoned };

struct LookUpRun {
    DictSession* session;
    char word[dictWordSize];
    int serverIndex;  // configuredServer, or the entry (offlineServerIndex: this computer's dictionaries)
    int found;
    std::atomic<int> state;
};

// A question or status of a look-up's thread, answered on the window thread.
struct LookUpAsk {
    LookUpRun* run;
    void (*call)(void*);
    void* data;
};

// The look-up the window thread waits for (null: none), and how many of its questions are open now.
LookUpRun* runningLookUp;
int openAsks;
// The slot of the system's thread-local storage that holds, on a look-up's thread, its run (null on
// every other thread). Taken on the window thread before the first look-up's thread starts.
DWORD runSlot = TLS_OUT_OF_INDEXES;

LookUpRun* runOfThisThread()
{
    return runSlot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<LookUpRun*>(TlsGetValue(runSlot));
}

void freeRun(LookUpRun* run)
{
    releaseLookUp(run->session);
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

}  // namespace

void releaseLookUp(DictSession* session)
{
    if (session == nullptr)
        return;
    session->release();
    free(session);
}

DictSession* runLookUp(const char* word, int serverIndex, HWND dialog)
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
    if (run->session == nullptr || run->session->cancelSignal == nullptr) {
        freeRun(run);
        return nullptr;
    }
    snprintf(run->word, sizeof run->word, "%s", word);
    run->serverIndex = serverIndex;
    run->state = runRunning;
    HANDLE thread = CreateThread(nullptr, 0, lookUpThread, run, 0, nullptr);
    if (thread == nullptr) {
        freeRun(run);
        return nullptr;
    }
    CloseHandle(thread);

    LookUpRun* outer = runningLookUp;
    runningLookUp = run;
    MSG message;
    while (run->state.load() == runRunning && !cancelled(run)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The program is ending: the quit goes on to the main loop.
            PostQuitMessage(got == 0 ? static_cast<int>(message.wParam) : 0);
            run->session->cancel();
            break;
        }
        if (dialog != nullptr && IsDialogMessageW(dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    runningLookUp = outer;

    const bool wasCancelled = cancelled(run);
    if (run->state.exchange(runAbandoned) != runFinished) {
        // Still running, so cancelled: it ends by itself, and its status must not stay up meanwhile.
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

bool lookUpWaiting() { return runningLookUp != nullptr && openAsks == 0; }

void cancelRunningLookUp()
{
    if (runningLookUp != nullptr)
        runningLookUp->session->cancel();
}

bool runOnWindowThread(void (*call)(void*), void* data)
{
    LookUpRun* run = runOfThisThread();
    if (run == nullptr) {
        call(data);
        return true;
    }
    LookUpAsk ask = {run, call, data};
    return SendMessageW(TrayWindow, lookUpAskMessage, 0, reinterpret_cast<LPARAM>(&ask)) != 0;
}

LRESULT onLookUpAsk(LPARAM request)
{
    LookUpAsk* ask = reinterpret_cast<LookUpAsk*>(request);
    // Decided here, on the thread that cancels: a cancelled look-up's questions never show.
    if (cancelled(ask->run))
        return 0;
    openAsks++;
    ask->call(ask->data);
    openAsks--;
    return 1;
}
