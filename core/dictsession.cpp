// The DictSession record: connecting to a DICT server, its greeting, and reading replies.
#include "core/dictsession.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/userinterface.h"

const DictLimits dictDefaultLimits = {
    10000,              // connect
    20000,              // one receive
    60000,              // a whole reply
    64u * 1024 * 1024,  // reply size
    4096,               // list entries
    serverIdleLimitMs,  // age of a connection opened ahead
};
DictLimits dictLimits = dictDefaultLimits;

DictSession dictSession;

// "255.255.255.255" and its terminator.
static const int addressTextSize = 16;
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
    releaseTextList(databaseLines, databaseCount);
    matchDatabases = nullptr;
    definitions = nullptr;
    databaseLines = nullptr;
    matchCount = 0;
    definitionCount = 0;
    databaseCount = 0;
    currentDefinition = 0;
}

int DictSession::resolveHost(const char* host, char* addressText)
{
    unsigned char address[4];
    int addressCount = 0;
    if (!netLookUpHost(host, address, &addressCount))
        return 0;
    if (addressCount > 0)
        snprintf(addressText, addressTextSize, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return 1;
}

ReplyDeadline deadlineIn(int milliseconds)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
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
    return netReceive(s, buffer, capacity, wait);
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
    // A previous connection still open is of no further use.
    closeSocket();
    socket = 0;
    // No database list belongs to the new connection until one is read on it.
    releaseTextList(databaseLines, databaseCount);
    databaseLines = nullptr;
    databaseCount = 0;

    socket = netOpenStream();
    socketOpen = socket != netInvalidSocket;

    char addressText[addressTextSize] = "";
    if (!resolveHost(host, addressText)) {
        showMessage(nullptr, "Couldn't resolve %s", host);
        closeSocket();
        return 0;
    }
    // A socket that never connected carries nothing; closing it at once makes the request
    // that follows fail without touching the handle again.
    if (!socketOpen || addressText[0] == '\0' ||
        !netConnect(socket, netParseAddress(addressText), dictPort, dictLimits.connectTimeoutMs)) {
        closeSocket();
        return 0;
    }
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
