// The guarded start of a look-up, shared by the hotkey and the tray menu's "Look Up A Word".
#include "app/lookuptrigger.h"

#include <stdio.h>

#include "app/trayapp.h"
#include "core/dictsession.h"
#include "core/history.h"
#include "core/userinterface.h"
#include "core/viewertext.h"
#include "ui/lookupdialogs.h"
#include "ui/lookupthread.h"

bool lookupActive;

// Set when a new start came while the look-up waited on the network: that look-up ends, and a
// fresh word box opens for what is selected now.
static bool lookupStartsAgain;

void startLookup()
{
    // The word box, the questions, the viewer and the wait for a look-up's thread handle messages,
    // so the hotkey and the menu still arrive while a look-up is on; this is the only guard against
    // a second one.
    if (lookupActive) {
        if (lookUpWaiting()) {
            // The look-up waiting on the network ends, a followed word's viewer with it, and a fresh
            // word box opens at once.
            lookupStartsAgain = true;
            cancelRunningLookUp();
            closeDefinitionViewer();
        } else {
            // The hotkey over the viewer with text selected in it looks that text up there.
            followViewerSelection();
        }
        return;
    }
    do {
        lookupStartsAgain = false;
        lookupActive = true;
        DictSession* found = nullptr;
        if (runWordEntryDialog(TrayWindow, &found) == wordLookupSucceeded)
            runDefinitionViewer(TrayWindow, found);
        releaseLookUp(found);
        lookupActive = false;
    } while (lookupStartsAgain);
}

// A word kept from an earlier run is being looked up again.
static bool keptLookUpRunning;

// Looks the kept word at index up again in its own database, online or offline as it was, and shows it:
// in a viewer of its own, or, when one is open, there (through Recent Words, which it joins in front).
static void lookUpKeptWord(int index)
{
    const ViewerPage& kept = recentWords.pages[index];
    // The list may change while the look-up runs.
    char word[dictWordSize], database[dictSlotSize];
    snprintf(word, sizeof word, "%s", kept.shownWord);
    snprintf(database, sizeof database, "%s", kept.database);
    const int serverIndex = kept.serverIndex;
    const bool viewerOpen = lookupActive;
    if (!viewerOpen) {
        lookupStartsAgain = false;
        lookupActive = true;
    }
    keptLookUpRunning = true;
    DictSession* found = runLookUp(word, serverIndex, nullptr, database);
    keptLookUpRunning = false;
    if (!viewerOpen) {
        if (found)
            runDefinitionViewer(TrayWindow, found);
        releaseLookUp(found);
        lookupActive = false;
        if (lookupStartsAgain)
            startLookup();
        return;
    }
    if (found) {
        hideStatus();
        ViewerPage page = {};
        takeViewerPage(*found, &page);
        if (rememberRecentWord(&recentWords, page))
            showRecentWordInViewer(0);
        releaseViewerPage(&page);
    }
    releaseLookUp(found);
}

void startRecentWord(int index)
{
    if (!recentWordCanShow(index))
        return;
    if (recentWordNeedsLookUp(recentWords.pages[index])) {
        lookUpKeptWord(index);
        return;
    }
    if (lookupActive) {
        // The open viewer shows it as if its word had been followed; over the word box, a question or a
        // look-up under way it does nothing.
        showRecentWordInViewer(index);
        return;
    }
    lookupStartsAgain = false;
    lookupActive = true;
    runRecentWordViewer(TrayWindow, index);
    lookupActive = false;
    // The hotkey came while a word followed in this viewer waited on the network.
    if (lookupStartsAgain)
        startLookup();
}

bool recentWordCanShow(int index)
{
    if (index < 0 || index >= recentWords.count)
        return false;
    if (keptLookUpRunning && recentWordNeedsLookUp(recentWords.pages[index]))
        return false;
    return !lookupActive || viewerCanShowRecentWord();
}
