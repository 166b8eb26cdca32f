// The guarded start of a look-up, shared by the hotkey and the tray menu's "Look Up A Word".
#include "app/lookuptrigger.h"

#include "app/trayapp.h"
#include "core/netio_wait.h"
#include "ui/lookupdialogs.h"

bool lookupActive;

// Set when a new start came while the look-up waited on the network: that look-up ends, and a
// fresh word box opens for what is selected now.
static bool lookupStartsAgain;

void startLookup()
{
    // The word box, the questions, the viewer and the network waits handle messages, so the
    // hotkey and the menu still arrive while a look-up is on; this is the only guard against a
    // second one.
    if (lookupActive) {
        if (waitingOnNetwork()) {
            lookupStartsAgain = true;
            cancelLookUp();
        } else {
            // The hotkey over the viewer with text selected in it looks that text up there.
            followViewerSelection();
        }
        return;
    }
    do {
        lookupStartsAgain = false;
        lookupActive = true;
        if (runWordEntryDialog(TrayWindow) == wordLookupSucceeded)
            runDefinitionViewer(TrayWindow);
        lookupActive = false;
    } while (lookupStartsAgain);
}
