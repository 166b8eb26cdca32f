// Recent Words kept from one run to the next in history.txt, below the user's local application data.
#pragma once

// At start: with the setting on, Recent Words comes back from the file (a damaged or foreign one is
// said once and left as it is until the list changes); from then on every change of the list is
// written there while the setting is on.
void loadKeptWords();

// "Clear Recent Words": the list empties, and with the setting on the file too.
void clearKeptWords();
