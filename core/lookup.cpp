// The look-up workflow: one word from the configured server entry to its definitions, with failover.
#include <stdio.h>
#include <string.h>

#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/netio_wait.h"
#include "core/offlinedict.h"
#include "core/userinterface.h"

// Entries server0 .. server16; after the last one the list starts again at 0.
const int lastServerIndex = serverCount - 1;
// Progress texts stay up this long unless something takes them away first.
const int progressStatusMs = 60000;
// Room for a status text or question: a word of up to 255 bytes, a host of 24 and the fixed
// text all fit whole (snprintf would cut, never overrun, a longer one).
const int messageSize = 512;
// What the questions call the offline dictionaries where they name a server.
const char offlineHostName[] = "offline";

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
    userTurnBegins();
    int answer = runSuggestionDialog(listed, session->suggestionCount, chosen, dictWordSize);
    userTurnEnds();
    if (answer != suggestionChosen)
        return answer == suggestionNextServer ? suggestionNextServer : suggestionCancelled;
    if (chosen[0] == '\0')
        return suggestionCancelled;
    copyBounded(word, dictWordSize, chosen);
    return suggestionChosen;
}

int DictSession::lookUpWordFrom(const char* word, int serverIndex)
{
    bindLookUpWaits(&waits, cancelSignal);
    // A look-up started on another thread had the flag copied where it is written.
    if (!choiceCopied)
        skipChoice = hideDbDialog;
    int found = lookUpOnServers(word, serverIndex);
    // A cancelled look-up has nothing to show, whatever it had found by then.
    if (lookUpCancelled())
        found = 0;
    bindLookUpWaits(nullptr, nullptr);
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

// The question after a server (or the offline dictionaries, named "offline") did not know the word.
static int askNotFound(const char* word, const char* where)
{
    char text[messageSize];
    snprintf(text, sizeof text,
             "The word \"%s\" was not found in any dictionary on \"%s\"\n"
             "Would you like to try the next server in the list?",
             word, where);
    return askYesNo(text);
}

// The database the definitions come from: the kept word's own, else the first match, or the one the
// user chooses; none is chosen when every database's definitions are shown.
static int chooseDatabase(DictSession* session)
{
    if (session->keptDatabase[0] != '\0')
        for (int i = 0; i < session->matchCount; i++)
            if (strcmp(session->matchDatabases[i], session->keptDatabase) == 0)
                return i;
    int databaseIndex = 0;
    if (session->matchCount > 1 && !session->skipChoice && !session->allDatabases && !lookUpCancelled()) {
        userTurnBegins();
        databaseIndex = runDatabaseChoiceDialog(session);
        userTurnEnds();
    }
    // The dialog never ends outside the matches, but the list is indexed with its result.
    if (databaseIndex < 0 || databaseIndex >= session->matchCount)
        databaseIndex = 0;
    return databaseIndex;
}

// Records what the look-up shows once its definitions are in.
static void keepShown(DictSession* session, const char* asked, int serverIndex, int databaseIndex,
                      const char* description)
{
    copyBounded(session->askedWord, dictWordSize, asked);
    copyBounded(session->shownWord, dictWordSize, session->matchedWord);
    session->shownServerIndex = serverIndex;
    copyBounded(session->shownDatabase, dictSlotSize, session->matchDatabases[databaseIndex]);
    copyBounded(session->shownDescription, dictSlotSize, description);
}

int DictSession::lookUpOffline(const char* asked, char* current, bool askNext)
{
    for (;;) {
        if (lookUpCancelled())
            return offlineEnded;
        if (findOfflineMatches(current) != dictSuccess) {
            if (suggestionCount > 0) {
                int answer = offerSuggestions(this, current);
                if (answer == suggestionChosen)
                    continue;
                return answer == suggestionNextServer ? offlineTryServers : offlineEnded;
            }
            if (!askNext)
                return offlineNothing;
            if (lookUpCancelled() || askNotFound(current, offlineHostName) != 1)
                return offlineEnded;
            return offlineTryServers;
        }
        int databaseIndex = chooseDatabase(this);
        char description[dictSlotSize];
        matchDescription(*this, databaseIndex, description, dictSlotSize);
        if (retrieveOfflineDefinitions(allDatabases ? "*" : matchDatabases[databaseIndex], matchedWord) !=
            dictSuccess)
            return offlineEnded;
        keepShown(this, asked, offlineServerIndex, databaseIndex, description);
        return offlineFound;
    }
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
    allDatabases = readConfigFlag("onepage", 0);
    offlineFallback = false;
    int offline = readConfigInt("offline", offlineWhenNoServer);
    // The server list as it stands now: a Settings change while the look-up runs does not move it.
    const int configuredIndex = readConfigInt("server", 0);
    char hosts[serverCount][hostBufferSize];
    for (int i = 0; i < serverCount; i++) {
        hosts[i][0] = '\0';
        readServerHost(hosts[i], i);
    }
    bool offlineReady = offline != offlineNever && offlineDictionaryCount() > 0;

    int index = serverIndex;
    // The offline dictionaries first: always, or for a word followed in their definitions.
    if (serverIndex == offlineServerIndex || (offlineReady && offline == offlineFirst)) {
        int outcome = lookUpOffline(asked, current, true);
        if (outcome != offlineTryServers || lookUpCancelled())
            return outcome == offlineFound ? 1 : 0;
        index = serverIndex == offlineServerIndex ? configuredIndex : serverIndex;
        // The servers try the word as the user gave it again.
        copyBounded(current, dictWordSize, asked);
        offlineReady = false;
    }
    // Once no server answers, the offline dictionaries answer in their place, without a question.
    bool offlineInstead = offlineReady && offline == offlineWhenNoServer;

    char host[hostBufferSize];
    char text[messageSize];
    for (;;) {
        if (index > lastServerIndex)
            index = 0;
        host[0] = '\0';
        if (index >= 0)
            copyBounded(host, hostBufferSize, hosts[index]);
        else
            readServerHost(host, index);  // no entry of the list: the store's default host
        beginNetworkWaits(host);

        snprintf(text, sizeof text, "Trying to connect to DICT server \"%s\"...", host);
        showStatus(text, progressStatusMs);
        // All three connections of the attempt are opened now, so that their set-ups and
        // requests overlap; the first one's greeting decides as a lone connection's would.
        ahead.firstMatchChosen = skipChoice;
        quietUnresolved = offlineInstead;
        if (connectAhead(host, current) != dictSuccess) {
            hideStatus();
            // A connection whose greeting was refused may still be open.
            closeSocket();
            closeAhead();
            // A cancelled look-up ends here, asking nothing.
            if (lookUpCancelled())
                return 0;
            if (offlineInstead) {
                offlineInstead = false;
                int outcome = lookUpOffline(asked, current, false);
                offlineFallback = outcome == offlineFound;
                if (outcome == offlineFound || outcome == offlineEnded || lookUpCancelled())
                    return offlineFallback ? 1 : 0;
                copyBounded(current, dictWordSize, asked);
                // "Did you mean?" asked for the next server already.
                if (outcome == offlineTryServers) {
                    index++;
                    continue;
                }
            }
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
            if (askNotFound(current, host) != 1)
                return 0;
            index++;
            continue;
        }
        hideStatus();

        int databaseIndex = chooseDatabase(this);
        // Cancelled while the choice was up: no definitions go out, not even on a connection opened ahead.
        if (lookUpCancelled()) {
            closeSocket();
            closeAhead();
            return 0;
        }
        // The database list does not outlive the definitions' connection: name the dictionary now.
        char description[dictSlotSize];
        matchDescription(*this, databaseIndex, description, dictSlotSize);

        showStatus("Retrieving definitions...", progressStatusMs);
        int retrieved =
            retrieveDefinitions(allDatabases ? "*" : matchDatabases[databaseIndex], matchedWord, host);
        closeSocket();
        closeAhead();
        if (retrieved == dictSuccess && definitionCount >= 1) {
            keepShown(this, asked, index, databaseIndex, description);
            // The status stays up: the definition viewer takes it away when it opens.
            return 1;
        }
        // Nothing else would take the status away on this path; it should not run out its minute.
        hideStatus();
        return 0;
    }
}
