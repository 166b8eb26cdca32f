// The one place a look-up waits for the network: its sockets and its cancel signal together, the
// waiting status, one deadline per server attempt, and connecting to whichever of a host's addresses
// answers first. Each thread waits for its own look-up.
#pragma once
#include <chrono>

#include "core/netio.h"

// waitOnNetwork's result once the look-up has been cancelled.
const int netWaitCancelled = -1;

// Waits at most timeoutMs (0: just looks), and never past the attempt's deadline, until one of the
// entries is ready. Returns how many entries are ready, 0 when the time ran out, or netWaitCancelled
// when the calling thread's look-up was cancelled (before the wait or during it). While nothing has
// arrived for more than a second it shows "Waiting for <server>… N s", once a second.
int waitOnNetwork(NetWaitEntry* entries, int count, int timeoutMs);

// How the waits of a look-up stand. cancel: the look-up's signal (null: it cannot be cancelled from
// another thread); cancelledHere: cancelled from its own thread. The server the waiting status names,
// and when the present stretch of waiting began: a wait that follows one that ran out (the race waits in
// slices) goes on counting. deadline: the end of the present attempt, once one has begun.
const int waitHostSize = 64;
struct LookUpWaits {
    NetSignal* cancel;
    bool cancelledHere;
    char waitHost[waitHostSize];
    std::chrono::steady_clock::time_point quietSince;
    std::chrono::steady_clock::time_point lastWaitEnd;
    bool lastWaitRanOut;
    int shownSeconds;
    bool hasDeadline;
    std::chrono::steady_clock::time_point deadline;
    bool userTurn;
    std::chrono::steady_clock::time_point userTurnSince;
};

// The calling thread's look-up begins with fresh waits (null: it has ended); they end when cancel
// (may be null) is raised.
void bindLookUpWaits(LookUpWaits* waits, NetSignal* cancel);
// An attempt on host begins: the waiting status names it, and the attempt's deadline is set
// dictLimits' attemptTimeoutMs from now: no step of the attempt waits past it.
void beginNetworkWaits(const char* host);
// The look-up waits for the user (a question on screen, the box before Enter): the attempt's deadline
// stands still until userTurnEnds, so the user's time is never counted against the server.
void userTurnBegins();
void userTurnEnds();
// The attempt's deadline, or a time further off than any wait when none is set.
std::chrono::steady_clock::time_point attemptDeadline();
// Cancels the calling thread's look-up until the next bindLookUpWaits (tests call it while a wait
// runs its hook); the look-up's owner raises the look-up's signal instead.
void cancelLookUp();
// Whether the calling thread's look-up has been cancelled.
bool lookUpCancelled();

// How long an address has to connect before the next one is tried as well.
const int nextAddressDelayMs = 250;

// Connecting to one of a host's addresses: the first is started at once, each next one when the
// ones before have failed or nextAddressDelayMs after the last start; the first to connect wins.
struct AddressRace {
    NetAddress addresses[netMaxAddresses];
    int count;
    unsigned short port;
    NetSocket sockets[netMaxAddresses];
    bool pending[netMaxAddresses];  // started, and neither failed nor won
    int started;                    // how many addresses have been started
    std::chrono::steady_clock::time_point nextStart;
    std::chrono::steady_clock::time_point deadline;
    int winner;  // the index of the address that connected, -1 while none has
};
void startRace(AddressRace* race, const NetAddress* addresses, int count, unsigned short port, int timeoutMs);
// Puts the race's pending connects into entries (room for netMaxAddresses); how many.
int raceWaitEntries(const AddressRace* race, NetWaitEntry* entries);
// How long a wait may last before the race has something to do.
int raceWaitMs(const AddressRace* race);
// Takes in a wait's outcome for the entries raceWaitEntries gave: ends the connects that are
// ready and starts the next address when it is due.
void raceAfterWait(AddressRace* race, const NetWaitEntry* entries, int count);
// Whether the race is over: one address connected, all have failed, or the time is up.
bool raceOver(const AddressRace* race);
// Closes every socket but the winner's; returns the winner's socket, or netInvalidSocket.
NetSocket endRace(AddressRace* race);
// Runs a race to its end on its own; the connected socket or netInvalidSocket.
NetSocket runRace(AddressRace* race);
