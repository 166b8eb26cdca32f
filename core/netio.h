// The few socket calls the DICT client needs: TCP connections with time-outs, sends and receives.
// netio_win.cpp implements them on Winsock, netio_posix.cpp on BSD sockets.
#pragma once
#include <stdint.h>

// A socket handle wide enough for both platforms (SOCKET is pointer-sized on Windows).
typedef uintptr_t NetSocket;
extern const NetSocket netInvalidSocket;

// The address netParseAddress gives for a text that is not a dotted address.
const uint32_t netNoAddress = 0xFFFFFFFFu;

// Starts the socket library (Winsock 2.2); 1 on success. Cheap to call again.
int netStartup();

// Looks the name up (gethostbyname); 1 when resolved. The first address, in network byte
// order, goes to firstAddress, and addressCount says how many addresses the host has
// (0 leaves firstAddress untouched).
int netLookUpHost(const char* host, unsigned char firstAddress[4], int* addressCount);

// Converts a dotted address text to a network-order address (inet_addr); netNoAddress when
// the text is not one.
uint32_t netParseAddress(const char* text);

// A new TCP stream socket with delayed acknowledgements turned off, or netInvalidSocket.
NetSocket netOpenStream();

// Connects to address:port (address in network order) within timeoutMs; 1 on success.
// The socket is blocking again afterwards.
int netConnect(NetSocket s, uint32_t address, unsigned short port, int timeoutMs);

// Starts connecting to address:port without waiting, so that several connects can run at once;
// the socket stays non-blocking until netFinishConnect. 1 when the connect completed or is
// under way, 0 when it failed at once.
int netStartConnect(NetSocket s, uint32_t address, unsigned short port);

// One socket to wait for: a connecting one until its connect has completed or failed, any
// other until it has data or its end to read. netWaitAny sets ready.
struct NetWaitEntry {
    NetSocket socket;
    bool connecting;
    bool ready;
};
// The most entries one wait takes.
const int netMaxWaitEntries = 8;

// Waits at most timeoutMs (0: just looks) until one of the entries is ready; returns how many are.
int netWaitAny(NetWaitEntry* entries, int count, int timeoutMs);

// Ends a connect that netWaitAny reported ready: 1 when it succeeded (the socket is blocking
// again), 0 when it failed.
int netFinishConnect(NetSocket s);

// Sends all of the bytes; 1 on success, 0 on failure.
int netSend(NetSocket s, const char* data, int length);

// Waits at most timeoutMs for data, then receives up to capacity bytes.
// Returns the count received, 0 when the peer closed, -1 on failure or time-out.
int netReceive(NetSocket s, char* buffer, int capacity, int timeoutMs);

void netClose(NetSocket s);
