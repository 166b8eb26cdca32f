// The few socket calls the DICT client needs: TCP connections with time-outs, sends and receives.
// netio_win.cpp implements them on Winsock, netio_posix.cpp on BSD sockets.
#pragma once
#include <stdint.h>

// A socket handle wide enough for both platforms (SOCKET is pointer-sized on Windows).
typedef uintptr_t NetSocket;
extern const NetSocket netInvalidSocket;

// An address to connect to, IPv6 or IPv4, as the system resolved it.
const int netFamilyIPv4 = 4;
const int netFamilyIPv6 = 6;
struct NetAddress {
    int family;               // netFamilyIPv4 or netFamilyIPv6
    unsigned char bytes[16];  // in network order; an IPv4 address takes the first 4
};
// The most addresses of one host that a look-up tries.
const int netMaxAddresses = 4;

// Starts the socket library (Winsock 2.2); 1 on success. Cheap to call again.
int netStartup();

// Resolves the name (getaddrinfo, IPv6 and IPv4) into at most capacity stream addresses, in the
// order the system gives them; returns how many, 0 when the name does not resolve.
int netResolve(const char* host, NetAddress* addresses, int capacity);
// When set, netResolve asks it instead of the system (tests give a host several addresses).
typedef int (*NetResolveHook)(const char* host, NetAddress* addresses, int capacity);
extern NetResolveHook netResolveHook;

// Converts an IPv4 or IPv6 address text; 1 when the text is one.
int netParseAddress(const char* text, NetAddress* address);

// A new TCP stream socket of the address family, with delayed acknowledgements turned off, or
// netInvalidSocket.
NetSocket netOpenStream(int family = netFamilyIPv4);

// Connects to address:port within timeoutMs, without handling window messages (tests use it to
// talk to a server apart from the client); 1 on success. The socket is blocking again afterwards.
int netConnect(NetSocket s, const NetAddress& address, unsigned short port, int timeoutMs);

// Starts connecting to address:port without waiting, so that several connects can run at once;
// the socket stays non-blocking until netFinishConnect. 1 when the connect completed or is
// under way, 0 when it failed at once.
int netStartConnect(NetSocket s, const NetAddress& address, unsigned short port);

// One socket to wait for: a connecting one until its connect has completed or failed, any
// other until it has data or its end to read. netWaitAny sets ready.
struct NetWaitEntry {
    NetSocket socket;
    bool connecting;
    bool ready;
};
// The most entries one wait takes.
const int netMaxWaitEntries = 8;

// A look-up's cancel signal: raised from any thread (the window thread cancels the look-up that runs
// on a worker), and waited for together with the look-up's sockets. Never lowered again.
struct NetSignal;
// A new signal, not raised; null when the system has no room for one.
NetSignal* netCreateSignal();
void netRaiseSignal(NetSignal* signal);
bool netSignalRaised(const NetSignal* signal);
void netDestroySignal(NetSignal* signal);

// A value of the calling thread's own, null until set (the waits of the look-up the thread runs).
void* netThreadValue();
void netSetThreadValue(void* value);

// netWaitAny's result when the cancel signal was raised before any entry was ready.
const int netWaitSignalled = -2;
// Waits at most timeoutMs (0: just looks) until one of the entries is ready, or cancel (when not
// null) is raised; returns how many entries are ready, or netWaitSignalled. No window message is
// handled: the look-up waits on a thread of its own. It waits only through waitOnNetwork
// (netio_wait.h), which builds on this.
int netWaitAny(NetWaitEntry* entries, int count, int timeoutMs, const NetSignal* cancel = nullptr);

// When set, run by waitOnNetwork at least every few milliseconds of a wait (tests use it to act
// while the client waits).
typedef void (*NetWaitHook)();
extern NetWaitHook netWaitHook;

// Ends a connect that netWaitAny reported ready: 1 when it succeeded (the socket is blocking
// again), 0 when it failed.
int netFinishConnect(NetSocket s);

// Sends all of the bytes; 1 on success, 0 on failure.
int netSend(NetSocket s, const char* data, int length);

// Waits at most timeoutMs for data (0 after a wait said it is there), then receives up to
// capacity bytes.
// Returns the count received, 0 when the peer closed, -1 on failure or time-out.
int netReceive(NetSocket s, char* buffer, int capacity, int timeoutMs);

void netClose(NetSocket s);

// The system's socket address for address:port, written into storage (capacity bytes); returns
// its length, 0 when it does not fit. Shared by both socket files.
int netSocketAddress(const NetAddress& address, unsigned short port, void* storage, int capacity);
