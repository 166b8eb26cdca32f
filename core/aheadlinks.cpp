// A look-up's three connections opened at once: each request goes out as soon as it stands.
#include <stdio.h>
#include <string.h>

#include "core/aheadlinks.h"
#include "core/dictsession.h"
#include "core/netio_wait.h"
#include "core/userinterface.h"

static void closeLink(AheadLink* link)
{
    if (link->open)
        netClose(link->socket);
    link->open = false;
    link->connecting = false;
}

// Sends the request that stands for a connected link, once.
static void sendStanding(AheadLink* link)
{
    if (!link->open || link->connecting || link->sent || link->requestLength <= 0)
        return;
    if (netSend(link->socket, link->request, link->requestLength))
        link->sent = true;
    else
        // Broken before it carried anything: its turn opens a new connection instead.
        closeLink(link);
}

// Waits at most timeoutMs for a link's connect to end or, when reading is given, for it to
// have something to read; ends the connects that are done, gives up those past the connect
// deadline, and sends the requests that stand. Whether reading has something to read. A race
// given takes part in the wait with its connects. A cancelled look-up's links are all closed.
static bool waitAheadWith(AheadConnections* ahead, AddressRace* race, const NetSocket* reading, int timeoutMs)
{
    NetWaitEntry entries[lookUpLinkCount + 1 + netMaxAddresses];
    AheadLink* waiting[lookUpLinkCount];
    int count = 0;
    for (int i = 0; i < lookUpLinkCount; i++) {
        AheadLink* link = &ahead->links[i];
        if (link->open && link->connecting) {
            entries[count] = NetWaitEntry{link->socket, true, false};
            waiting[count++] = link;
        }
    }
    int connecting = count;
    if (reading != nullptr)
        entries[count++] = NetWaitEntry{*reading, false, false};
    int connectLeft = millisecondsUntil(ahead->connectDeadline);
    // A connect is never waited for past its deadline; a reading wait may go on without them.
    if (connecting > 0 && reading == nullptr && timeoutMs > connectLeft)
        timeoutMs = connectLeft;
    if (connecting > 0 && reading != nullptr && connectLeft > 0 && timeoutMs > connectLeft)
        timeoutMs = connectLeft;
    int racing = 0;
    if (race != nullptr) {
        racing = raceWaitEntries(race, entries + count);
        int raceMs = raceWaitMs(race);
        if (timeoutMs > raceMs)
            timeoutMs = raceMs;
    }
    int all = count + racing;
    if (waitOnNetwork(entries, all, timeoutMs) == netWaitCancelled) {
        for (int i = 0; i < lookUpLinkCount; i++)
            closeLink(&ahead->links[i]);
        return false;
    }
    if (race != nullptr)
        raceAfterWait(race, entries + count, racing);
    bool late = millisecondsUntil(ahead->connectDeadline) <= 0;
    for (int i = 0; i < connecting; i++) {
        AheadLink* link = waiting[i];
        if (entries[i].ready) {
            link->connecting = false;
            if (!netFinishConnect(link->socket))
                closeLink(link);
        } else if (late) {
            closeLink(link);
        }
    }
    for (int i = 0; i < lookUpLinkCount; i++)
        sendStanding(&ahead->links[i]);
    return reading != nullptr && entries[count - 1].ready;
}

static bool waitAhead(AheadConnections* ahead, const NetSocket* reading, int timeoutMs)
{
    return waitAheadWith(ahead, nullptr, reading, timeoutMs);
}

// Opens the link and starts its connect to address.
static void startLink(AheadLink* link, const NetAddress& address)
{
    link->socket = netOpenStream(address.family);
    link->open = link->socket != netInvalidSocket;
    link->connecting = link->open;
    link->sent = false;
    link->taken = false;
    if (link->open && !netStartConnect(link->socket, address, dictPort))
        closeLink(link);
}

bool DictSession::aheadTo(const char* host) const
{
    return ahead.active && host != nullptr && strncmp(ahead.host, host, aheadHostSize) == 0;
}

void DictSession::closeAhead()
{
    for (int i = 0; i < lookUpLinkCount; i++) {
        AheadLink* link = &ahead.links[i];
        closeLink(link);
        link->sent = false;
        link->taken = false;
        link->requestLength = 0;
    }
    ahead.active = false;
    ahead.host[0] = '\0';
}

void DictSession::standAheadRequest(LookUpLink which, const char* request, int length)
{
    AheadLink* link = &ahead.links[which];
    if (!ahead.active || link->sent || length <= 0 || length >= dictRequestSize)
        return;
    memcpy(link->request, request, (size_t)length);
    link->requestLength = length;
    sendStanding(link);
}

void DictSession::serviceAhead(int timeoutMs)
{
    if (ahead.active)
        waitAhead(&ahead, nullptr, timeoutMs);
}

int DictSession::connectAhead(const char* host, const char* word)
{
    closeAhead();
    if (strlen(host) >= (size_t)aheadHostSize)
        return connectToServer(host);
    forgetConnection();

    wonHost[0] = '\0';
    if (lookUpCancelled())
        return 0;
    NetAddress addresses[netMaxAddresses];
    int addressCount = resolveHost(host, addresses);
    if (addressCount == 0) {
        if (!quietUnresolved)
            showMessage(nullptr, "Couldn't resolve %s", host);
        return 0;
    }
    ahead.active = true;
    snprintf(ahead.host, sizeof ahead.host, "%s", host);
    ahead.connectDeadline = deadlineIn(dictLimits.connectTimeoutMs);
    ahead.openedAt = std::chrono::steady_clock::now();
    // The first connection races over the host's addresses; the other two go to the first
    // address at once, and move to the winner should another address win.
    AddressRace race;
    startRace(&race, addresses, addressCount, dictPort, dictLimits.connectTimeoutMs);
    AheadLink* first = &ahead.links[matchLink];
    first->open = false;
    first->connecting = false;
    first->sent = false;
    for (int i = matchLink + 1; i < lookUpLinkCount; i++)
        startLink(&ahead.links[i], addresses[0]);
    // The match request stands when the word makes one line; findMatches sends nothing else.
    char request[dictRequestSize];
    size_t length = 0;
    if (buildRequest(request, "MATCH * exact %s\r\n", word, nullptr, &length))
        standAheadRequest(matchLink, request, (int)length);
    standAheadRequest(databaseLink, dictDatabaseRequest, (int)sizeof dictDatabaseRequest - 1);

    while (!raceOver(&race) && !lookUpCancelled())
        waitAheadWith(&ahead, &race, nullptr, raceWaitMs(&race));
    NetSocket won = endRace(&race);
    // A cancelled look-up sends nothing more, on the winner or on the connections opened beside it.
    if (won != netInvalidSocket && lookUpCancelled())
        netClose(won);
    if (won == netInvalidSocket || lookUpCancelled()) {
        closeAhead();
        return 0;
    }
    rememberWinner(host, race.addresses[race.winner]);
    if (race.winner != 0) {
        for (int i = matchLink + 1; i < lookUpLinkCount; i++) {
            closeLink(&ahead.links[i]);
            startLink(&ahead.links[i], race.addresses[race.winner]);
        }
    }
    // From here the first connection is the session's, as connectToServer's would be; its
    // request, if one stands, goes out now.
    first->socket = won;
    first->open = true;
    sendStanding(first);
    for (int i = matchLink + 1; i < lookUpLinkCount; i++)
        sendStanding(&ahead.links[i]);
    if (!first->open)
        return 0;
    socket = first->socket;
    socketOpen = true;
    first->open = false;

    // Its greeting, while the other connects complete and their requests go out.
    ReplyDeadline greetingDeadline = deadlineIn(dictLimits.receiveTimeoutMs);
    bool readable = false;
    int left;
    while (!readable && !lookUpCancelled() && (left = millisecondsUntil(greetingDeadline)) > 0)
        readable = waitAhead(&ahead, &socket, left);
    if (!readable)
        return 0;
    // It has begun to arrive: the rest has its own time, since a dialog run during the wait may have
    // held it past greetingDeadline.
    char greeting[dictPieceSize + 1];
    size_t greetingLength = receiveGreeting(socket, greeting, sizeof greeting,
                                            deadlineIn(dictLimits.receiveTimeoutMs), carried, &carriedLength);
    return isGreeting(greeting, greetingLength) ? 1 : 0;
}

// Sends request on a new connection to host, as a look-up without connections ahead would.
static int sendOnNewConnection(DictSession* session, const char* host, const char* request, int length)
{
    session->connectToServer(host);
    return session->socketOpen && netSend(session->socket, request, length) ? 1 : 0;
}

int DictSession::takeAhead(LookUpLink which, const char* host, const char* request, int length)
{
    AheadLink* link = &ahead.links[which];
    link->taken = false;
    forgetConnection();
    if (lookUpCancelled()) {
        closeAhead();
        return 0;
    }

    while (link->open && link->connecting)
        waitAhead(&ahead, nullptr, millisecondsUntil(ahead.connectDeadline));
    bool sentOther =
        link->sent && (link->requestLength != length || memcmp(link->request, request, (size_t)length) != 0);
    // Idle for longer than a server or a NAT on the way is likely to keep a connection (the user
    // took long to choose a database): it may be gone without a word, so it is not trusted.
    long long age = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                          ahead.openedAt)
                        .count();
    bool stale = !link->sent && age > dictLimits.aheadIdleLimitMs;
    if (!link->open || sentOther || stale) {
        // It did not connect (or carries another request, or is too old): a new connection, as
        // without ahead.
        closeLink(link);
        return sendOnNewConnection(this, host, request, length);
    }
    socket = link->socket;
    socketOpen = true;
    link->open = false;
    char greeting[dictPieceSize + 1];
    size_t greetingLength = receiveGreeting(socket, greeting, sizeof greeting,
                                            deadlineIn(dictLimits.receiveTimeoutMs), carried, &carriedLength);
    // A server that turns away connections beyond its first few (a busy one, or one that limits
    // each client) has not taken this request: it goes on a new connection, opened now that the
    // earlier ones are done, whose greeting is then not judged, as without connections ahead.
    // (A server silent from the start is not turned away: it is waited for as before.)
    NetWaitEntry entry = {socket, false, false};
    bool ended = netWaitAny(&entry, 1, 0) > 0 && carriedLength == 0;
    bool turnedAway = greetingLength > 0 ? !isGreeting(greeting, greetingLength) : ended;
    if (link->sent && !turnedAway) {
        link->taken = true;
        return 1;
    }
    // Idle until now (while the user chose a database), it may have been ended by the server
    // meanwhile, or hold something unasked; a send that fails finds it reset. Its request goes
    // on a new connection instead.
    if (turnedAway || carriedLength > 0 || netWaitAny(&entry, 1, 0) > 0 ||
        !netSend(socket, request, length)) {
        closeSocket();
        return sendOnNewConnection(this, host, request, length);
    }
    link->taken = true;
    return 1;
}
