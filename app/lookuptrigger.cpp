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

// How many word boxes have opened: a viewer that closes once a newer box has opened (the hotkey came
// while it followed a word) leaves lookupActive to that box.
static unsigned boxesOpened;

// The box closed without a look-up, or its look-up ended: the viewer shows what it found.
static void wordLookUpEnded(DictSession* found)
{
    if (found == nullptr) {
        // A look-up cancelled by the hotkey ends after the box that replaces it has opened.
        lookupActive = wordEntryOpen();
        return;
    }
    const unsigned box = boxesOpened;
    runDefinitionViewer(TrayWindow, found);
    releaseLookUp(found);
    if (boxesOpened == box)
        lookupActive = false;
}

void startLookup()
{
    // The word box, the questions and the viewer leave the hotkey and the menu working while a look-up is
    // on; this is the only guard against a second one.
    const bool replacing = lookupActive;
    if (replacing) {
        if (!lookUpRunning()) {
            // The hotkey over the viewer with text selected in it looks that text up there.
            followViewerSelection();
            return;
        }
        // The look-up under way gives way to a fresh word box; its status goes first, as the box may show
        // one of its own.
        hideStatus();
    }
    lookupActive = true;
    boxesOpened++;
    openWordEntryDialog(TrayWindow, wordLookUpEnded);
    if (replacing) {
        // The look-up ends behind the box (its open question closes, a followed word's viewer with it). In
        // this order the window that closes is no longer the active one: closed while active, it would hand
        // the activation to another program's window, which could still take the keyboard from the box.
        cancelRunningLookUp(false);
        closeDefinitionViewer();
    }
}

// A word kept from an earlier run is being looked up again; and whether a viewer was open when it began.
static bool keptLookUpRunning;
static bool keptIntoOpenViewer;

// The kept word's look-up ended: what it found shows in a viewer of its own, or, when one was open, there
// (through Recent Words, which it joins in front).
static void keptLookUpEnded(void*, DictSession* found)
{
    keptLookUpRunning = false;
    if (!keptIntoOpenViewer) {
        wordLookUpEnded(found);
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

// Looks the kept word at index up again in its own database, online or offline as it was; the look-up
// runs on while the menu's command returns.
static void lookUpKeptWord(int index)
{
    const ViewerPage& kept = recentWords.pages[index];
    keptIntoOpenViewer = lookupActive;
    lookupActive = true;
    keptLookUpRunning = true;
    confirmLookUp(startLookUp(kept.shownWord, kept.serverIndex, false, kept.database), keptLookUpEnded,
                  nullptr);
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
    lookupActive = true;
    const unsigned box = boxesOpened;
    runRecentWordViewer(TrayWindow, index);
    if (boxesOpened == box)
        lookupActive = false;
}

bool recentWordCanShow(int index)
{
    if (index < 0 || index >= recentWords.count)
        return false;
    if (keptLookUpRunning && recentWordNeedsLookUp(recentWords.pages[index]))
        return false;
    return !lookupActive || viewerCanShowRecentWord();
}
