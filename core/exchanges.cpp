// The DICT exchanges of a look-up: the matches, the server's database list, the definitions.
#include "core/dictsession.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/baseforms.h"
#include "core/requestline.h"

static const char* const matchRefusals[] = {"551 ", "552 ", "501 "};
static const char* const defineRefusals[] = {"550 ", "552 ", "501 "};
static const int refusalCount = 3;
static const int matchStatus = 152;
static const int noMatchStatus = 552;
static const int invalidStrategyStatus = 551;
// Room for the MATCH requests sent together: every base form of a word, each a request line.
static const int pipelinedRequestsSize = maxBaseForms * dictRequestSize;
// The near spellings are asked with both strategies at once, so that a server that does not know
// the first still costs one round trip.
static const char* const suggestionStrategies[] = {"lev", "."};
static const int suggestionStrategyCount = 2;
static const int databaseStatus = 110;
static const int definitionsStatus = 150;
// The database reply is judged by its first characters: "110 " and room for the count.
static const size_t databaseHeadLength = 9;
static const char terminator[] = "\r\n.\r\n";
static const size_t terminatorLength = 5;

// Sends the request on the session's socket; a socket that never connected fails at once.
static int sendRequest(DictSession* session, const char* request, size_t length)
{
    if (!session->socketOpen)
        return 0;
    return netSend(session->socket, request, (int)length);
}

// Reads the database list reply on the session's socket: its head of nine characters, and
// when that is status 110, on until the terminator line. Linear: each search covers only
// the new bytes and the four before them.
static void receiveDatabaseReply(DictSession* session, ReplyText* reply)
{
    ReplyDeadline deadline = deadlineIn(dictLimits.replyTimeoutMs);
    char piece[dictPieceSize];
    size_t received = 0;
    while (received < databaseHeadLength) {
        int got = session->receivePiece(piece, (int)(databaseHeadLength - received), deadline);
        if (got <= 0)
            return;
        received += (size_t)got;
        appendReplyText(reply, piece, (size_t)got);
    }
    if (!beginsWithStatus(reply->data, reply->length, databaseStatus))
        return;
    size_t searched = 0;
    for (;;) {
        size_t from = searched >= terminatorLength - 1 ? searched - (terminatorLength - 1) : 0;
        if (findText(reply->data, from, reply->length, terminator, terminatorLength) < reply->length)
            return;
        searched = reply->length;
        if (reply->full)
            return;
        int got = session->receivePiece(piece, (int)sizeof piece, deadline);
        if (got <= 0)
            return;
        appendReplyText(reply, piece, (size_t)got);
    }
}

int DictSession::findMatches(const char* word, const char* host)
{
    suggestionCount = 0;
    char request[dictRequestSize];
    size_t length = 0;
    if (!buildRequest(request, "MATCH * exact %s\r\n", word, nullptr, &length))
        return dictSendFailed;
    bool opened = aheadTo(host);
    // Opened ahead, the match connection carries its request already.
    if (!(opened && ahead.links[matchLink].sent) && !sendRequest(this, request, length))
        return dictSendFailed;
    if (opened)
        serviceAhead(0);

    ReplyText reply = {};
    ReplyOutcome outcome = receiveReply(matchRefusals, refusalCount, &reply);
    char** names = nullptr;
    int filled = 0;
    if (outcome != replyRefused && beginsWithStatus(reply.data, reply.length, matchStatus))
        filled = cutMatchNames(reply.data, reply.length, &names);
    if (word != matchedWord)
        snprintf(matchedWord, sizeof matchedWord, "%s", word);
    // Only a whole "no match" answer leaves the connection in step for further requests; the
    // marker that ended the reading may have come before its line end.
    bool inStep = filled == 0 && socketOpen &&
                  ((outcome == replyRefused && beginsWithStatus(reply.data, reply.length, noMatchStatus)) ||
                   (outcome == replyComplete && beginsWithStatus(reply.data, reply.length, matchStatus)));
    bool restOfLine = reply.length == 0 || reply.data[reply.length - 1] != '\n';
    releaseReply(&reply);
    if (inStep && tryBaseForms) {
        filled = matchBaseForm(word, restOfLine, &names, &inStep);
        restOfLine = false;
    }
    if (filled == 0 && inStep && trySuggestions)
        findSuggestions(word, restOfLine);
    if (outcome != replyEnded)
        closeSocket();
    // No match line at all is no match: the look-up must not pick a database from nothing.
    if (filled == 0)
        return dictRefused;
    releaseTextList(matchDatabases, matchCount);
    matchDatabases = names;
    matchCount = filled;

    // When the database is known already, the definitions' request goes out now, so that its
    // reply travels while the database list is read.
    char define[dictRequestSize];
    if (opened && (matchCount == 1 || ahead.firstMatchChosen || allDatabases) &&
        buildRequest(define, "define %s %s\r\n", allDatabases ? "*" : matchDatabases[0], matchedWord,
                     &length))
        standAheadRequest(definitionLink, define, (int)length);

    // The request goes out whatever the greeting was; a socket that never connected fails it.
    int sent = 0;
    if (opened) {
        sent = takeAhead(databaseLink, host, dictDatabaseRequest, (int)sizeof dictDatabaseRequest - 1);
    } else {
        connectToServer(host);
        sent = sendRequest(this, dictDatabaseRequest, sizeof dictDatabaseRequest - 1);
    }
    if (!sent)
        return dictSendFailed;

    receiveDatabaseReply(this, &reply);
    keepDatabaseList(&reply);
    closeSocket();
    return dictSuccess;
}

void DictSession::keepDatabaseList(ReplyText* reply)
{
    if (beginsWithStatus(reply->data, reply->length, databaseStatus)) {
        char** lines = nullptr;
        int lineCount = cutDatabaseLines(reply->data, reply->length, &lines);
        releaseTextList(databaseLines, databaseCount);
        databaseLines = lines;
        databaseCount = lineCount;
    }
    releaseReply(reply);
}

int DictSession::keepDefinitions(ReplyText* reply, bool refused)
{
    char** texts = nullptr;
    char(*sources)[dictSlotSize] = nullptr;
    int filled = 0;
    if (!refused && beginsWithStatus(reply->data, reply->length, definitionsStatus))
        filled = cutDefinitionTexts(reply->data, reply->length, &texts, &sources);
    releaseReply(reply);
    if (filled == 0)
        return dictRefused;
    releaseTextList(definitions, definitionCount);
    delete[] definitionSources;
    definitionSources = sources;
    definitions = texts;
    definitionCount = filled;
    return dictSuccess;
}

int DictSession::retrieveDefinitions(const char* database, const char* word, const char* host)
{
    char request[dictRequestSize];
    size_t length = 0;
    bool built = buildRequest(request, "define %s %s\r\n", database, word, &length);
    int sent = 0;
    if (aheadTo(host)) {
        // The connection opened ahead to the server that reported the matches.
        sent = built && takeAhead(definitionLink, host, request, (int)length);
    } else {
        // The definitions come from the server that reported the matches.
        connectToServer(host);
        sent = built && sendRequest(this, request, length);
    }
    if (!sent)
        return dictSendFailed;

    ReplyText reply = {};
    ReplyOutcome outcome = readReply(defineRefusals, refusalCount, &reply);
    // A connection opened ahead may have been dropped on the way while it lay idle (a firewall
    // or NAT that forgets it closes nothing): no reply at all came on it before the receive
    // time-out, a reset or its end. The request changes nothing on the server, so it goes once
    // more on a new connection before anything is said.
    if (aheadTo(host) && ahead.links[definitionLink].taken && outcome == replyEnded && reply.length == 0) {
        ahead.links[definitionLink].taken = false;
        releaseReply(&reply);
        connectToServer(host);
        if (!sendRequest(this, request, length))
            return dictSendFailed;
        outcome = readReply(defineRefusals, refusalCount, &reply);
    }
    return keepDefinitions(&reply, outcome == replyRefused);
}

int DictSession::sendMatchRequests(const char* const* strategies, const char* const* words, int count)
{
    char* batch = (char*)malloc(pipelinedRequestsSize);
    size_t used = 0;
    bool built = batch != nullptr;
    for (int i = 0; i < count && built; i++) {
        char request[dictRequestSize];
        size_t length = 0;
        built = buildRequest(request, "MATCH * %s %s\r\n", strategies[i], words[i], &length) &&
                used + length <= (size_t)pipelinedRequestsSize;
        if (built) {
            memcpy(batch + used, request, length);
            used += length;
        }
    }
    int sent = built && sendRequest(this, batch, used);
    free(batch);
    return sent;
}

int DictSession::readMatchReplies(int count, bool restOfLine, ReplyText* replies)
{
    ReplyDeadline deadline = deadlineIn(dictLimits.replyTimeoutMs);
    char* piece = (char*)malloc(dictReplyPieceSize);
    ReplyText all = {};
    MatchReplyCutter cutter = startMatchCutter(restOfLine);
    int whole = 0;
    while (piece != nullptr) {
        size_t start = 0;
        size_t end = 0;
        while (whole < count && (end = nextMatchReplyEnd(all.data, all.length, &cutter, &start)) > 0)
            appendReplyText(&replies[whole++], all.data + start, end - start);
        if (whole == count || all.full || !socketOpen)
            break;
        int got = receivePiece(piece, dictReplyPieceSize, deadline);
        if (got <= 0)
            break;
        appendReplyText(&all, piece, (size_t)got);
    }
    releaseReply(&all);
    free(piece);
    return whole;
}

int DictSession::matchBaseForm(const char* word, bool restOfLine, char*** names, bool* socketInStep)
{
    char forms[maxBaseForms][dictWordSize];
    int count = baseFormCandidates(word, forms, maxBaseForms);
    if (count == 0)
        return 0;
    const char* strategies[maxBaseForms];
    const char* words[maxBaseForms];
    for (int i = 0; i < count; i++) {
        strategies[i] = "exact";
        words[i] = forms[i];
    }
    if (!sendMatchRequests(strategies, words, count)) {
        *socketInStep = false;
        return 0;
    }
    ReplyText replies[maxBaseForms] = {};
    int whole = readMatchReplies(count, restOfLine, replies);
    *socketInStep = whole == count;
    int filled = 0;
    for (int i = 0; i < whole && filled == 0; i++) {
        if (beginsWithStatus(replies[i].data, replies[i].length, matchStatus))
            filled = cutMatchNames(replies[i].data, replies[i].length, names);
        if (filled > 0)
            snprintf(matchedWord, sizeof matchedWord, "%s", forms[i]);
    }
    for (int i = 0; i < count; i++)
        releaseReply(&replies[i]);
    return filled;
}

void DictSession::findSuggestions(const char* word, bool restOfLine)
{
    suggestionCount = 0;
    const char* words[suggestionStrategyCount] = {word, word};
    if (!sendMatchRequests(suggestionStrategies, words, suggestionStrategyCount))
        return;
    ReplyText replies[suggestionStrategyCount] = {};
    int whole = readMatchReplies(suggestionStrategyCount, restOfLine, replies);
    // The default strategy's answer counts only where the server did not know lev.
    int used =
        whole >= 2 && beginsWithStatus(replies[0].data, replies[0].length, invalidStrategyStatus) ? 1 : 0;
    if (whole > used)
        suggestionCount =
            cutSuggestedWords(replies[used].data, replies[used].length, suggestions, maxSuggestions);
    for (int i = 0; i < suggestionStrategyCount; i++)
        releaseReply(&replies[i]);
}
