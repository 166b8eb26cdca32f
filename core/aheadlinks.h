// The connections of a look-up opened before their turn, and the record that holds them.
#pragma once
#include <chrono>

#include "core/netio.h"
#include "core/requestline.h"

// How long a server (or a firewall or NAT on the way) is likely to keep an idle connection: one
// opened ahead and older than this is replaced before it carries a request.
const int serverIdleLimitMs = 30000;
// The moment by which a whole reply must have come, on a clock that never jumps.
typedef std::chrono::steady_clock::time_point ReplyDeadline;

// The three connections of a look-up, in the order their replies are judged.
enum LookUpLink { matchLink, databaseLink, definitionLink, lookUpLinkCount };

// A connection of a look-up opened before its turn.
struct AheadLink {
    NetSocket socket;
    bool open;          // the handle needs closing (nobody has taken it yet)
    bool connecting;    // the connect is under way
    bool sent;          // its request is out
    bool taken;         // its request went out on it when its turn came (not on a new connection)
    int requestLength;  // the length of the request that stands for it; 0 while none does
    char request[dictRequestSize];
};

// Room for the host of an ahead look-up; a longer host is never given connections ahead.
const int aheadHostSize = 64;

// A look-up's connections opened together, so that their set-ups, greetings and requests
// travel at once instead of costing a round trip each in turn. Each still carries exactly
// one request; their replies are read and judged in the usual order.
struct AheadConnections {
    bool active;
    char host[aheadHostSize];  // the server they lead to: used for no other
    bool firstMatchChosen;     // the look-up takes the first match without asking
    ReplyDeadline connectDeadline;
    std::chrono::steady_clock::time_point openedAt;  // when the connects began: none of them is older
    AheadLink links[lookUpLinkCount];
};
