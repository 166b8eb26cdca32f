// Look-ups on threads of their own, and how they and the window thread talk: a look-up posts its requests
// and its end, the window thread serves them from its loop and may cancel it at any moment. The window
// thread never waits on the network, and a cancelled look-up can neither show a dialog nor leave its
// results where the next one would find them.
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
    // Who still needs the run: its thread (whose hold its posted end carries on), the window thread until
    // the run ends or is abandoned, and a request on its way to the window thread. The last to let go
    // frees it.
    std::atomic<int> holders;
    // A look-up started ahead of the user's Enter shows nothing: its status is dropped and its first
    // question waits until the user confirms the word (confirmed is set then, or when it is cancelled).
    std::atomic<bool> silent;
    HANDLE confirmed;
    DWORD confirmedAt;  // when the user confirmed the word (GetTickCount)
    // Told on the window thread, once, how a confirmed look-up ended.
    void (*ended)(void* data, DictSession* found);
    void* endedData;
    // The thread's request to the window thread (one at a time: the thread waits for each): a status to
    // show or a question to ask, and how it stands. answered wakes the thread when the request has been
    // served, or when the look-up is cancelled.
    void (*askCall)(void*);
    void* askData;
    bool askQuestion;
    bool askShown;  // askCall ran
    std::atomic<int> askState;
    HANDLE answered;
};

namespace {

enum RunState { runRunning, runFinished };
// A request posted, taken by the window thread (its dialog may be open), served, or dropped by its thread
// because the look-up was cancelled before the window thread took it.
enum AskState { askPosted, askTaken, askServed, askDropped };

// A question that comes this soon after the user's Enter may open the moment the word box closes.
const DWORD justConfirmedMs = 2000;
// Questions that came while the tray menu was open, in order, served once it has closed.
const int maxWaitingAsks = 16;
LookUpRun* waitingAsks[maxWaitingAsks];
int waitingAskCount;
// The running look-up's end, come while the tray menu was open: its viewer opens once the menu has closed.
LookUpRun* endAfterMenu;

// The confirmed look-up whose end has not been told yet (null: none); the look-up whose question is open
// now, and that question's window once it has opened (null before).
LookUpRun* runningLookUp;
LookUpRun* askingLookUp;
HWND questionWindow;
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
    if (run->answered != nullptr)
        CloseHandle(run->answered);
    free(run);
}

void letGo(LookUpRun* run)
{
    if (run->holders.fetch_sub(1) == 1)
        freeRun(run);
}

void postEnd(LookUpRun* run)
{
    if (!PostMessageW(TrayWindow, lookUpDoneMessage, 0, reinterpret_cast<LPARAM>(run)))
        letGo(run);  // the window is gone: nobody waits for it
}

DWORD WINAPI lookUpThread(void* parameter)
{
    LookUpRun* run = static_cast<LookUpRun*>(parameter);
    TlsSetValue(runSlot, run);
    run->found = run->serverIndex == configuredServer
                     ? run->session->lookUpWord(run->word)
                     : run->session->lookUpWordFrom(run->word, run->serverIndex);
    TlsSetValue(runSlot, nullptr);
    run->state = runFinished;
    postEnd(run);
    return 0;
}

bool cancelled(const LookUpRun* run)
{
    return run->session == nullptr || netSignalRaised(run->session->cancelSignal);
}

// On the window thread: the look-up stops, and its question, when one is open, closes.
void cancelRun(LookUpRun* run)
{
    run->session->cancel();
    // A question waiting for the user's word, or for its turn, goes on, to find the look-up cancelled.
    SetEvent(run->confirmed);
    SetEvent(run->answered);
    if (run == askingLookUp && questionWindow != nullptr)
        EndDialog(questionWindow, IDCANCEL);
}

// Notes the first top-level dialog made while a question is asked: the question's own window.
LRESULT CALLBACK noteQuestionWindow(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && askingLookUp != nullptr && questionWindow == nullptr) {
        HWND window = reinterpret_cast<HWND>(wParam);
        const CBT_CREATEWNDW* created = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        wchar_t className[8];
        if ((created->lpcs->style & WS_CHILD) == 0 && GetClassNameW(window, className, 8) > 0 &&
            lstrcmpW(className, L"#32770") == 0)
            questionWindow = window;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void releaseLookUp(DictSession* session)
{
    if (session == nullptr)
        return;
    session->release();
    free(session);
}

LookUpRun* startLookUp(const char* word, int serverIndex, bool silent, const char* database)
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
    run->answered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (run->session == nullptr || run->session->cancelSignal == nullptr || run->confirmed == nullptr ||
        run->answered == nullptr) {
        freeRun(run);
        return nullptr;
    }
    snprintf(run->word, sizeof run->word, "%s", word);
    // Copied here, on the thread that writes it: the look-up's thread never reads the flag itself.
    run->session->skipChoice = hideDbDialog;
    run->session->choiceCopied = true;
    if (database != nullptr)
        snprintf(run->session->keptDatabase, sizeof run->session->keptDatabase, "%s", database);
    run->serverIndex = serverIndex;
    run->state = runRunning;
    run->holders = 2;
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
    if (run == runningLookUp) {
        cancelRunningLookUp();
        return;
    }
    cancelRun(run);
    letGo(run);
}

void confirmLookUp(LookUpRun* run, void (*ended)(void* data, DictSession* found), void* data)
{
    cancelRunningLookUp();
    if (run == nullptr) {
        ended(data, nullptr);
        return;
    }
    run->ended = ended;
    run->endedData = data;
    // From now on the user waits for it: what it shows and asks comes up.
    run->silent = false;
    run->confirmedAt = GetTickCount();
    runningLookUp = run;
    SetEvent(run->confirmed);
    // Finished ahead, its end already taken while it was nobody's: it is told again.
    if (run->state.load() == runFinished) {
        run->holders++;
        postEnd(run);
    }
}

LRESULT onLookUpDone(LPARAM ended)
{
    LookUpRun* run = reinterpret_cast<LookUpRun*>(ended);
    if (run != runningLookUp) {
        letGo(run);  // abandoned or cancelled: told already, or nobody's
        return 0;
    }
    if (trayMenuOpen && endAfterMenu == nullptr) {
        endAfterMenu = run;
        return 0;
    }
    runningLookUp = nullptr;
    DictSession* found = nullptr;
    if (run->found == 1 && !cancelled(run)) {
        found = run->session;
        run->session = nullptr;
    }
    void (*tell)(void*, DictSession*) = run->ended;
    void* data = run->endedData;
    letGo(run);  // the window thread's hold
    letGo(run);  // the one its end carried
    tell(data, found);
    return 0;
}

void cancelRunningLookUp(bool hideItsStatus)
{
    LookUpRun* run = runningLookUp;
    if (run == nullptr)
        return;
    runningLookUp = nullptr;
    cancelRun(run);
    // Its status goes with it, also when it had finished just before the cancel (its end still on its
    // way): nothing else would take "Retrieving definitions..." away.
    if (hideItsStatus)
        hideStatus();
    void (*ended)(void*, DictSession*) = run->ended;
    void* data = run->endedData;
    letGo(run);
    ended(data, nullptr);
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

bool lookUpRunning() { return runningLookUp != nullptr; }

bool lookUpWaiting() { return runningLookUp != nullptr && askingLookUp != runningLookUp; }

namespace {

// Posts the request and waits until the window thread has served it, or until the look-up is cancelled
// before its turn came. Whether call ran.
bool postToWindowThread(void (*call)(void*), void* data, bool question)
{
    LookUpRun* run = runOfThisThread();
    if (run == nullptr) {
        call(data);
        return true;
    }
    ResetEvent(run->answered);
    // A look-up ahead of the user's Enter shows no status.
    if (run->silent || cancelled(run))
        return false;
    run->askCall = call;
    run->askData = data;
    run->askQuestion = question;
    run->askShown = false;
    run->askState = askPosted;
    run->holders++;
    if (!PostMessageW(TrayWindow, lookUpAskMessage, 0, reinterpret_cast<LPARAM>(run))) {
        run->holders--;
        return false;
    }
    for (;;) {
        WaitForSingleObject(run->answered, INFINITE);
        if (run->askState.load() == askServed)
            return run->askShown;
        // Not taken yet: the window thread drops it when its turn comes. Taken: its dialog is open, and
        // call's data must outlive it.
        int posted = askPosted;
        if (cancelled(run) && run->askState.compare_exchange_strong(posted, askDropped))
            return false;
    }
}

void serveAsk(LookUpRun* run)
{
    if (run->askState.load() == askDropped) {
        letGo(run);
        return;
    }
    // A dialog opened inside the menu's loop would hold the menu open behind it.
    if (run->askQuestion && trayMenuOpen && waitingAskCount < maxWaitingAsks) {
        waitingAsks[waitingAskCount++] = run;
        return;
    }
    int posted = askPosted;
    if (!run->askState.compare_exchange_strong(posted, askTaken)) {
        letGo(run);
        return;
    }
    // Decided here, on the thread that cancels: a cancelled look-up's questions never show.
    bool shown = false;
    if (!cancelled(run) && !run->askQuestion) {
        run->askCall(run->askData);
        shown = true;
    } else if (!cancelled(run)) {
        // Its window is noted as it opens, for a cancel to close it.
        LookUpRun* outerAsking = askingLookUp;
        HWND outerWindow = questionWindow;
        askingLookUp = run;
        questionWindow = nullptr;
        HHOOK hook = SetWindowsHookExW(WH_CBT, noteQuestionWindow, nullptr, GetCurrentThreadId());
        if (GetTickCount() - run->confirmedAt < justConfirmedMs)
            keepAnswerInFront();
        run->askCall(run->askData);
        if (hook != nullptr)
            UnhookWindowsHookEx(hook);
        askingLookUp = outerAsking;
        questionWindow = outerWindow;
        shown = true;
    }
    run->askShown = shown;
    run->askState = askServed;
    SetEvent(run->answered);
    letGo(run);
}

}  // namespace

bool runOnWindowThread(void (*call)(void*), void* data) { return postToWindowThread(call, data, false); }

bool askOnWindowThread(void (*call)(void*), void* data)
{
    LookUpRun* run = runOfThisThread();
    // A look-up ahead of the user's Enter asks only once the user has confirmed the word.
    if (run != nullptr)
        WaitForSingleObject(run->confirmed, INFINITE);
    return postToWindowThread(call, data, true);
}

LRESULT onLookUpAsk(LPARAM request)
{
    serveAsk(reinterpret_cast<LookUpRun*>(request));
    return 0;
}

void serveWaitingAsks()
{
    while (waitingAskCount > 0 && !trayMenuOpen) {
        LookUpRun* run = waitingAsks[0];
        waitingAskCount--;
        for (int i = 0; i < waitingAskCount; i++)
            waitingAsks[i] = waitingAsks[i + 1];
        serveAsk(run);
    }
    LookUpRun* ended = endAfterMenu;
    if (ended != nullptr && !trayMenuOpen) {
        endAfterMenu = nullptr;
        onLookUpDone(reinterpret_cast<LPARAM>(ended));
    }
}
