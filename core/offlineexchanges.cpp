// The look-up's three questions (the matches, the database list, the definitions) put to the offline
// dictionaries: the same requests a server gets, answered on this computer, cut by the same rules.
#include <stdio.h>

#include "core/baseforms.h"
#include "core/dictsession.h"
#include "core/offlinedict.h"
#include "core/userinterface.h"

static const int matchStatus = 152;
// Room for a message naming a damaged file.
static const int messageBytes = 1024;

// The offline answer to a request built from format and its texts; empty when it cannot be built.
static ReplyText askOffline(const char* format, const char* first, const char* second)
{
    ReplyText reply = {};
    char request[dictRequestSize];
    size_t length = 0;
    if (buildRequest(request, format, first, second, &length))
        answerOfflineRequest(request, length, &reply);
    return reply;
}

// The database names of a MATCH strategy word answer; how many (0: no match).
static int offlineMatchNames(const char* strategy, const char* word, char*** names)
{
    ReplyText reply = askOffline("MATCH * %s %s\r\n", strategy, word);
    int filled = 0;
    if (beginsWithStatus(reply.data, reply.length, matchStatus))
        filled = cutMatchNames(reply.data, reply.length, names);
    releaseReply(&reply);
    return filled;
}

int DictSession::findOfflineMatches(const char* word)
{
    suggestionCount = 0;
    if (word != matchedWord)
        snprintf(matchedWord, sizeof matchedWord, "%s", word);
    char** names = nullptr;
    int filled = offlineMatchNames("exact", word, &names);
    if (filled == 0 && tryBaseForms) {
        // The forms in the order the rules give them; the first that matches wins, as on a server.
        char forms[maxBaseForms][dictWordSize];
        int count = baseFormCandidates(word, forms, maxBaseForms);
        for (int i = 0; i < count && filled == 0; i++) {
            filled = offlineMatchNames("exact", forms[i], &names);
            if (filled > 0)
                snprintf(matchedWord, sizeof matchedWord, "%s", forms[i]);
        }
    }
    if (filled == 0) {
        if (trySuggestions) {
            ReplyText reply = askOffline("MATCH * lev %s\r\n", word, nullptr);
            if (beginsWithStatus(reply.data, reply.length, matchStatus))
                suggestionCount = cutSuggestedWords(reply.data, reply.length, suggestions, maxSuggestions);
            releaseReply(&reply);
        }
        return dictRefused;
    }
    releaseTextList(matchDatabases, matchCount);
    matchDatabases = names;
    matchCount = filled;

    ReplyText reply = {};
    answerOfflineRequest(dictDatabaseRequest, sizeof dictDatabaseRequest - 1, &reply);
    keepDatabaseList(&reply);
    return dictSuccess;
}

int DictSession::retrieveOfflineDefinitions(const char* database, const char* word)
{
    ReplyText reply = askOffline("define %s %s\r\n", database, word);
    // Damaged data is said, not taken for a word that is not there.
    if (beginsWithStatus(reply.data, reply.length, offlineDamagedStatus)) {
        const char* text = reply.data + 4;
        size_t length = reply.length - 4;
        while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
            length--;
        char message[messageBytes];
        snprintf(message, sizeof message, "%.*s", (int)length, text);
        showMessage(nullptr, "%s", message);
    }
    return keepDefinitions(&reply, false);
}
