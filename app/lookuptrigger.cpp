// The guarded start of a look-up, shared by the hotkey and the tray menu's "Look Up A Word".
#include "app/lookuptrigger.h"

#include "app/trayapp.h"
#include "core/dictsession.h"
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
        lookupActive = false;
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
    if (lookupActive) {
        if (!lookUpRunning()) {
            // The hotkey over the viewer with text selected in it looks that text up there.
            followViewerSelection();
            return;
        }
        // The look-up under way ends (its open question closes, a followed word's viewer with it), and a
        // fresh word box opens at once.
        cancelRunningLookUp();
        closeDefinitionViewer();
    }
    lookupActive = true;
    boxesOpened++;
    openWordEntryDialog(TrayWindow, wordLookUpEnded);
}

void startRecentWord(int index)
{
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

bool recentWordCanShow() { return !lookupActive || viewerCanShowRecentWord(); }
