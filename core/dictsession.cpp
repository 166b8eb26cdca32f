// The DictSession record: connecting to a DICT server, its greeting, and reading replies.
#include "core/dictsession.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/netio_wait.h"
#include "core/userinterface.h"

const DictLimits dictDefaultLimits = {
    10000,              // connect
    20000,              // one receive
    60000,              // a whole reply
    64u * 1024 * 1024,  // reply size
    4096,               // list entries
    serverIdleLimitMs,  // age of a connection opened ahead
    90000,              // a whole attempt on one server
};
DictLimits dictLimits = dictDefaultLimits;

static const int greetingStatus = 220;

int DictSession::getDefinitionCount() { return definitionCount; }
int DictSession::getMatchCount() { return matchCount; }
char* DictSession::getDefinition(int index) { return definitions[index]; }
char* DictSession::getMatchDatabase(int index) { return matchDatabases[index]; }

void DictSession::closeSocket()
{
    if (socketOpen)
        netClose(socket);
    socketOpen = false;
    carriedLength = 0;
}

void DictSession::forgetConnection()
{
    closeSocket();
    socket = 0;
    releaseTextList(databaseLines, databaseCount);
    databaseLines = nullptr;
    databaseCount = 0;
}

int DictSession::receivePiece(char* buffer, int capacity, ReplyDeadline deadline)
{
    if (carriedLength > 0 && capacity > 0) {
        int count = carriedLength < capacity ? carriedLength : capacity;
        memcpy(buffer, carried, (size_t)count);
        memmove(carried, carried + count, (size_t)(carriedLength - count));
        carriedLength -= count;
        return count;
    }
    return receiveBefore(socket, buffer, capacity, deadline);
}

void DictSession::releaseLists()
{
    releaseTextList(matchDatabases, matchCount);
    releaseTextList(definitions, definitionCount);
    delete[] definitionSources;
    definitionSources = nullptr;
    releaseTextList(databaseLines, databaseCount);
    matchDatabases = nullptr;
    definitions = nullptr;
    databaseLines = nullptr;
    matchCount = 0;
    definitionCount = 0;
    databaseCount = 0;
    currentDefinition = 0;
}

int DictSession::resolveHost(const char* host, NetAddress* addresses)
{
    return netResolve(host, addresses, netMaxAddresses);
}

int DictSession::addressesFor(const char* host, NetAddress* addresses)
{
    if (wonHost[0] != '\0' && strncmp(wonHost, host, sizeof wonHost) == 0) {
        addresses[0] = wonAddress;
        return 1;
    }
    return resolveHost(host, addresses);
}

void DictSession::rememberWinner(const char* host, const NetAddress& address)
{
    wonHost[0] = '\0';
    if (strlen(host) < sizeof wonHost) {
        snprintf(wonHost, sizeof wonHost, "%s", host);
        wonAddress = address;
    }
}

ReplyDeadline deadlineIn(int milliseconds)
{
    ReplyDeadline wanted = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    ReplyDeadline attemptEnd = attemptDeadline();
    return wanted < attemptEnd ? wanted : attemptEnd;
}

int millisecondsUntil(ReplyDeadline deadline)
{
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    const long long longest = 0x7FFFFFFF;
    return left <= 0 ? 0 : left > longest ? (int)longest : (int)left;
}

bool isGreeting(const char* greeting, size_t length)
{
    return beginsWithStatus(greeting, length, greetingStatus);
}

int receiveBefore(NetSocket s, char* buffer, int capacity, ReplyDeadline deadline)
{
    int left = millisecondsUntil(deadline);
    if (left <= 0)
        return -1;
    int wait = left < dictLimits.receiveTimeoutMs ? left : dictLimits.receiveTimeoutMs;
    NetWaitEntry entry = {s, false, false};
    if (waitOnNetwork(&entry, 1, wait) <= 0)
        return -1;
    return netReceive(s, buffer, capacity, 0);
}

// The server may send its greeting in pieces. What comes in the same piece after its line end
// is the reply to a request sent ahead of the greeting; the greeting is judged on the whole
// text as received all the same.
size_t receiveGreeting(NetSocket s, char* greeting, size_t capacity, ReplyDeadline deadline, char* carried,
                       int* carriedLength)
{
    size_t length = 0;
    *carriedLength = 0;
    while (length + 1 < capacity) {
        int got = receiveBefore(s, greeting + length, (int)(capacity - 1 - length), deadline);
        if (got <= 0)
            break;
        const char* zero = (const char*)memchr(greeting + length, '\0', (size_t)got);
        if (zero != nullptr) {
            length = (size_t)(zero - greeting);
            break;
        }
        length += (size_t)got;
        const char* lineEnd = (const char*)memchr(greeting + length - got, '\n', (size_t)got);
        if (lineEnd != nullptr) {
            // The line ends at the first line end after the greeting's first character that
            // is not white space (the leading number skips white space, line ends included).
            size_t at = 0;
            while (at < length && (greeting[at] == ' ' || greeting[at] == '\t' || greeting[at] == '\r' ||
                                   greeting[at] == '\n' || greeting[at] == '\v' || greeting[at] == '\f'))
                at++;
            const char* end = (const char*)memchr(greeting + at, '\n', length - at);
            if (end != nullptr) {
                size_t kept = (size_t)(end - greeting) + 1;
                *carriedLength = (int)(length - kept);
                memcpy(carried, greeting + kept, length - kept);
            }
            break;
        }
    }
    greeting[length] = '\0';
    return length;
}

int DictSession::connectToServer(const char* host)
{
    forgetConnection();

    // A cancelled look-up opens nothing more.
    if (lookUpCancelled())
        return 0;
    NetAddress addresses[netMaxAddresses];
    int count = addressesFor(host, addresses);
    if (count == 0) {
        if (!quietUnresolved)
            showMessage(nullptr, "Couldn't resolve %s", host);
        return 0;
    }
    AddressRace race;
    startRace(&race, addresses, count, dictPort, dictLimits.connectTimeoutMs);
    socket = runRace(&race);
    socketOpen = socket != netInvalidSocket;
    if (!socketOpen) {
        socket = 0;
        return 0;
    }
    rememberWinner(host, race.addresses[race.winner]);
    // A connected socket stays open whatever the greeting: the caller's request still goes on it.
    char greeting[dictPieceSize + 1];
    size_t length = receiveGreeting(socket, greeting, sizeof greeting,
                                    deadlineIn(dictLimits.receiveTimeoutMs), carried, &carriedLength);
    return isGreeting(greeting, length) ? 1 : 0;
}

ReplyOutcome DictSession::receiveReply(const char* const* refusalMarkers, int markerCount, ReplyText* reply)
{
    ReplyDeadline deadline = deadlineIn(dictLimits.replyTimeoutMs);
    char* piece = (char*)malloc(dictReplyPieceSize);
    ReplyOutcome outcome = replyEnded;
    while (piece != nullptr && socketOpen && !reply->full) {
        int got = receivePiece(piece, dictReplyPieceSize, deadline);
        if (got <= 0)
            break;
        outcome = appendReplyPiece(reply, piece, (size_t)got, refusalMarkers, markerCount);
        if (outcome != replyEnded)
            break;
    }
    free(piece);
    return outcome;
}

ReplyOutcome DictSession::readReply(const char* const* refusalMarkers, int markerCount, ReplyText* reply)
{
    ReplyOutcome outcome = receiveReply(refusalMarkers, markerCount, reply);
    if (outcome != replyEnded)
        closeSocket();
    return outcome;
}
