// The guarded start of a look-up, shared by the hotkey and the tray menu's "Look Up A Word".
#include "app/lookuptrigger.h"

#include "app/trayapp.h"
#include "ui/lookupdialogs.h"

bool lookupActive;

void startLookup()
{
    // The word box, the questions and the viewer run modal loops, so the hotkey and the menu
    // still arrive while a look-up is on; this is the only guard against a second one.
    if (lookupActive) {
        // The hotkey over the viewer with text selected in it looks that text up there.
        followViewerSelection();
        return;
    }
    lookupActive = true;
    if (runWordEntryDialog(TrayWindow) == wordLookupSucceeded)
        runDefinitionViewer(TrayWindow);
    lookupActive = false;
}
