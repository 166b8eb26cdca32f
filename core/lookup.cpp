// The look-up workflow: one word from the configured server entry to its definitions, with failover.
#include <stdio.h>

#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/netio_wait.h"
#include "core/userinterface.h"

// Entries server0 .. server16; after the last one the list starts again at 0.
const int lastServerIndex = serverCount - 1;
// Progress texts stay up this long unless something takes them away first.
const int progressStatusMs = 60000;
// Room for a status text or question: a word of up to 255 bytes, a host of 24 and the fixed
// text all fit whole (snprintf would cut, never overrun, a longer one).
const int messageSize = 512;

// Copies text into a slot of capacity bytes, cut to fit and terminated.
static void copyBounded(char* slot, int capacity, const char* text)
{
    snprintf(slot, static_cast<size_t>(capacity), "%s", text);
}

int DictSession::lookUpWord(const char* word) { return lookUpWordFrom(word, readConfigInt("server", 0)); }

// Shows the near spellings of the word not found; the word picked is copied to word. Returns what the
// dialog returned, or suggestionCancelled when it handed back no word.
static int offerSuggestions(DictSession* session, char* word)
{
    const char* listed[maxSuggestions];
    for (int i = 0; i < session->suggestionCount; i++)
        listed[i] = session->suggestions[i];
    char chosen[dictWordSize] = "";
    int answer = runSuggestionDialog(listed, session->suggestionCount, chosen, dictWordSize);
    if (answer != suggestionChosen)
        return answer == suggestionNextServer ? suggestionNextServer : suggestionCancelled;
    if (chosen[0] == '\0')
        return suggestionCancelled;
    copyBounded(word, dictWordSize, chosen);
    return suggestionChosen;
}

int DictSession::lookUpWordFrom(const char* word, int serverIndex)
{
    bindLookUpSignal(cancelSignal);
    int found = lookUpOnServers(word, serverIndex);
    // A cancelled look-up has nothing to show, whatever it had found by then.
    if (lookUpCancelled())
        found = 0;
    bindLookUpSignal(nullptr);
    releaseSpareReplyRoom();
    return found;
}

void DictSession::cancel() { netRaiseSignal(cancelSignal); }

void DictSession::release()
{
    closeSocket();
    closeAhead();
    releaseLists();
    netDestroySignal(cancelSignal);
    cancelSignal = nullptr;
}

int DictSession::lookUpOnServers(const char* word, int serverIndex)
{
    if (!netStartup())
        return 0;
    // The word as the user gave it, without the marks around it in the text it came from; then the
    // word being looked up, which a suggestion picked by the user replaces.
    char asked[dictWordSize];
    trimWord(word, asked, dictWordSize);
    char current[dictWordSize];
    copyBounded(current, dictWordSize, asked);
    tryBaseForms = readConfigInt("baseforms", 1) != 0;
    trySuggestions = readConfigInt("suggest", 1) != 0;

    int index = serverIndex;
    char host[hostBufferSize];
    char text[messageSize];
    for (;;) {
        if (index > lastServerIndex)
            index = 0;
        host[0] = '\0';
        readServerHost(host, index);
        beginNetworkWaits(host);

        snprintf(text, sizeof text, "Trying to connect to DICT server \"%s\"...", host);
        showStatus(text, progressStatusMs);
        // All three connections of the attempt are opened now, so that their set-ups and
        // requests overlap; the first one's greeting decides as a lone connection's would.
        ahead.firstMatchChosen = hideDbDialog;
        if (connectAhead(host, current) != dictSuccess) {
            hideStatus();
            // A connection whose greeting was refused may still be open.
            closeSocket();
            closeAhead();
            // A cancelled look-up ends here, asking nothing.
            if (lookUpCancelled())
                return 0;
            snprintf(text, sizeof text,
                     "The dictionary server \"%s\" is not responding.\n"
                     "Would you like to try the next server in the list?",
                     host);
            if (askYesNo(text) != 1)
                return 0;
            index++;
            continue;
        }

        showStatus("Finding matches for word...", progressStatusMs);
        int found = findMatches(current, host);
        // Nothing to choose from counts as not found, whatever the status line said.
        if (found == dictSuccess && matchCount < 1)
            found = dictRefused;
        if (found != dictSuccess) {
            hideStatus();
            closeSocket();
            closeAhead();
            if (lookUpCancelled())
                return 0;
            // Near spellings take the place of the question; a word picked is looked up on the
            // same server.
            if (suggestionCount > 0) {
                int answer = offerSuggestions(this, current);
                if (answer == suggestionChosen)
                    continue;
                if (answer != suggestionNextServer)
                    return 0;
                index++;
                continue;
            }
            snprintf(text, sizeof text,
                     "The word \"%s\" was not found in any dictionary on \"%s\"\n"
                     "Would you like to try the next server in the list?",
                     current, host);
            if (askYesNo(text) != 1)
                return 0;
            index++;
            continue;
        }
        hideStatus();

        int databaseIndex = 0;
        if (matchCount > 1 && !hideDbDialog)
            databaseIndex = runDatabaseChoiceDialog(this);
        // The dialog never ends outside the matches, but the list is indexed with its result.
        if (databaseIndex < 0 || databaseIndex >= matchCount)
            databaseIndex = 0;

        // The database list does not outlive the definitions' connection: name the dictionary now.
        char description[dictSlotSize];
        matchDescription(*this, databaseIndex, description, dictSlotSize);

        showStatus("Retrieving definitions...", progressStatusMs);
        int retrieved = retrieveDefinitions(matchDatabases[databaseIndex], matchedWord, host);
        closeSocket();
        closeAhead();
        if (retrieved == dictSuccess && definitionCount >= 1) {
            copyBounded(askedWord, dictWordSize, asked);
            copyBounded(shownWord, dictWordSize, matchedWord);
            shownServerIndex = index;
            copyBounded(shownDatabase, dictSlotSize, matchDatabases[databaseIndex]);
            copyBounded(shownDescription, dictSlotSize, description);
            // The status stays up: the definition viewer takes it away when it opens.
            return 1;
        }
        // Nothing else would take the status away on this path; it should not run out its minute.
        hideStatus();
        return 0;
    }
}
