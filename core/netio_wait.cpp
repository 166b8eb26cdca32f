// Waiting for the network while the program stays alive: the wait, the cancel, the waiting status,
// and the race between a host's addresses.
#include "core/netio_wait.h"

#include <stdio.h>
#include <string.h>

#include "core/dictsession.h"
#include "core/userinterface.h"

namespace {

typedef std::chrono::steady_clock Clock;

// The waits of a thread that runs no look-up (tests and benchmarks talking to a server directly).
LookUpWaits unboundWaits;

// The waits of the calling thread's look-up.
LookUpWaits* waitsHere()
{
    LookUpWaits* bound = static_cast<LookUpWaits*>(netThreadValue());
    return bound != nullptr ? bound : &unboundWaits;
}

const int statusAfterMs = 1000;
const int statusEveryMs = 1000;
// A wait that starts this soon after one ran out continues it.
const int continuedWithinMs = 50;
// With a test hook set, the hook runs at least this often.
const int hookSliceMs = 5;
const int waitingTextSize = 128;

long long msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// Shows the waiting status when a new whole second has passed since the quiet began.
void updateWaitingStatus(Clock::time_point now)
{
    LookUpWaits* waits = waitsHere();
    long long quietMs = msBetween(waits->quietSince, now);
    if (quietMs < statusAfterMs)
        return;
    int seconds = (int)(quietMs / 1000);
    if (seconds == waits->shownSeconds)
        return;
    waits->shownSeconds = seconds;
    char text[waitingTextSize];
    // The ellipsis is one character, in UTF-8 like every text the core hands on.
    snprintf(text, sizeof text, "Waiting for %s\xE2\x80\xA6 %d s", waits->waitHost, seconds);
    showWaitingStatus(text);
}

// How long the next slice of a wait may last: to the end, the next status second, or the hook.
int sliceMs(Clock::time_point now, Clock::time_point end)
{
    LookUpWaits* waits = waitsHere();
    long long left = msBetween(now, end);
    long long untilStatus = statusEveryMs - msBetween(waits->quietSince, now) % statusEveryMs;
    long long slice = left < untilStatus ? left : untilStatus;
    if (netWaitHook != nullptr && slice > hookSliceMs)
        slice = hookSliceMs;
    return slice < 1 ? 1 : (int)slice;
}

}  // namespace

void bindLookUpWaits(LookUpWaits* waits, NetSignal* cancel)
{
    netSetThreadValue(waits);
    if (waits == nullptr)
        return;
    *waits = LookUpWaits();
    waits->cancel = cancel;
}

void beginNetworkWaits(const char* host)
{
    LookUpWaits* waits = waitsHere();
    snprintf(waits->waitHost, sizeof waits->waitHost, "%s", host);
    waits->lastWaitRanOut = false;
    waits->hasDeadline = true;
    waits->userTurn = false;
    waits->deadline = Clock::now() + std::chrono::milliseconds(dictLimits.attemptTimeoutMs);
}

void userTurnBegins()
{
    LookUpWaits* waits = waitsHere();
    if (waits->userTurn)
        return;
    waits->userTurn = true;
    waits->userTurnSince = Clock::now();
}

void userTurnEnds()
{
    LookUpWaits* waits = waitsHere();
    if (!waits->userTurn)
        return;
    waits->userTurn = false;
    if (waits->hasDeadline)
        waits->deadline += Clock::now() - waits->userTurnSince;
}

Clock::time_point attemptDeadline()
{
    LookUpWaits* waits = waitsHere();
    // Far enough for any wait, near enough that adding a wait's length cannot overflow the clock.
    return waits->hasDeadline ? waits->deadline : Clock::now() + std::chrono::hours(24 * 365);
}

void cancelLookUp() { waitsHere()->cancelledHere = true; }

bool lookUpCancelled()
{
    LookUpWaits* waits = waitsHere();
    return waits->cancelledHere || netSignalRaised(waits->cancel);
}

int waitOnNetwork(NetWaitEntry* entries, int count, int timeoutMs)
{
    LookUpWaits* waits = waitsHere();
    if (lookUpCancelled())
        return netWaitCancelled;
    int ready = netWaitAny(entries, count, 0);
    if (ready > 0) {
        waits->lastWaitRanOut = false;
        return ready;
    }
    Clock::time_point now = Clock::now();
    long long attemptLeft = msBetween(now, attemptDeadline());
    if (timeoutMs > attemptLeft)
        timeoutMs = attemptLeft < 0 ? 0 : (int)attemptLeft;
    if (timeoutMs <= 0)
        return 0;
    Clock::time_point end = now + std::chrono::milliseconds(timeoutMs);
    if (!(waits->lastWaitRanOut && msBetween(waits->lastWaitEnd, now) <= continuedWithinMs)) {
        waits->quietSince = now;
        waits->shownSeconds = 0;
    }
    int result = 0;
    for (;;) {
        ready = netWaitAny(entries, count, sliceMs(now, end), waits->cancel);
        if (ready > 0) {
            result = ready;
            break;
        }
        if (netWaitHook != nullptr)
            netWaitHook();
        if (lookUpCancelled()) {
            result = netWaitCancelled;
            break;
        }
        now = Clock::now();
        if (now >= end) {
            // The thread may have been held past the end (a loaded machine, a test's hook): what
            // arrived meanwhile counts, the clock alone does not make the server silent.
            ready = netWaitAny(entries, count, 0);
            if (ready > 0)
                result = ready;
            break;
        }
        updateWaitingStatus(now);
    }
    waits->lastWaitEnd = Clock::now();
    waits->lastWaitRanOut = result == 0;
    return result;
}

void startRace(AddressRace* race, const NetAddress* addresses, int count, unsigned short port, int timeoutMs)
{
    *race = AddressRace();
    race->port = port;
    race->count = count < netMaxAddresses ? count : netMaxAddresses;
    memcpy(race->addresses, addresses, sizeof(NetAddress) * (size_t)(race->count > 0 ? race->count : 0));
    race->winner = -1;
    race->deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    race->nextStart = Clock::now();
    raceAfterWait(race, nullptr, 0);
}

// Starts the next address; false when none is left.
static bool startNext(AddressRace* race)
{
    while (race->started < race->count) {
        int i = race->started++;
        race->nextStart = Clock::now() + std::chrono::milliseconds(nextAddressDelayMs);
        race->sockets[i] = netOpenStream(race->addresses[i].family);
        if (race->sockets[i] == netInvalidSocket)
            continue;
        if (netStartConnect(race->sockets[i], race->addresses[i], race->port)) {
            race->pending[i] = true;
            return true;
        }
        netClose(race->sockets[i]);
    }
    return false;
}

int raceWaitEntries(const AddressRace* race, NetWaitEntry* entries)
{
    int n = 0;
    for (int i = 0; i < race->started; i++) {
        if (race->pending[i])
            entries[n++] = NetWaitEntry{race->sockets[i], true, false};
    }
    return n;
}

int raceWaitMs(const AddressRace* race)
{
    Clock::time_point now = Clock::now();
    Clock::time_point until = race->deadline;
    if (race->started < race->count && race->nextStart < until)
        until = race->nextStart;
    long long left = msBetween(now, until);
    return left < 0 ? 0 : (int)left;
}

void raceAfterWait(AddressRace* race, const NetWaitEntry* entries, int count)
{
    for (int e = 0; e < count && race->winner < 0; e++) {
        if (!entries[e].ready)
            continue;
        for (int i = 0; i < race->started; i++) {
            if (!race->pending[i] || race->sockets[i] != entries[e].socket)
                continue;
            race->pending[i] = false;
            if (netFinishConnect(race->sockets[i]))
                race->winner = i;
            else
                netClose(race->sockets[i]);
        }
    }
    if (race->winner >= 0 || Clock::now() >= race->deadline)
        return;
    bool anyPending = false;
    for (int i = 0; i < race->started; i++)
        anyPending = anyPending || race->pending[i];
    // The next address starts when the ones before have all failed, or when it is due.
    if (!anyPending || Clock::now() >= race->nextStart)
        startNext(race);
}

bool raceOver(const AddressRace* race)
{
    if (race->winner >= 0 || Clock::now() >= race->deadline)
        return true;
    for (int i = 0; i < race->started; i++) {
        if (race->pending[i])
            return false;
    }
    return race->started >= race->count;
}

NetSocket endRace(AddressRace* race)
{
    for (int i = 0; i < race->started; i++) {
        if (race->pending[i])
            netClose(race->sockets[i]);
        race->pending[i] = false;
    }
    return race->winner >= 0 ? race->sockets[race->winner] : netInvalidSocket;
}

NetSocket runRace(AddressRace* race)
{
    while (!raceOver(race)) {
        NetWaitEntry entries[netMaxAddresses];
        int count = raceWaitEntries(race, entries);
        int ready = waitOnNetwork(entries, count, raceWaitMs(race));
        // Past the attempt's deadline every wait returns at once: the race is over, not spun.
        if (ready == netWaitCancelled || (ready == 0 && Clock::now() >= attemptDeadline()))
            break;
        raceAfterWait(race, entries, ready > 0 ? count : 0);
    }
    return endRace(race);
}
