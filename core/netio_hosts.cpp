// The parts of the socket seam that are the same on Winsock and BSD sockets: host names, address texts,
// and a connect with a time-out built on the non-blocking calls.
#include "core/netio.h"

#include <string.h>
#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#endif

int netLookUpHost(const char* host, unsigned char firstAddress[4], int* addressCount)
{
    *addressCount = 0;
    struct hostent* entry = gethostbyname(host);
    if (entry == nullptr)
        return 0;
    if (entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list == nullptr)
        return 1;
    int count = 0;
    while (entry->h_addr_list[count] != nullptr)
        count++;
    if (count > 0)
        memcpy(firstAddress, entry->h_addr_list[0], 4);
    *addressCount = count;
    return 1;
}

uint32_t netParseAddress(const char* text) { return (uint32_t)inet_addr(text); }

int netConnect(NetSocket s, uint32_t address, unsigned short port, int timeoutMs)
{
    if (netStartConnect(s, address, port)) {
        NetWaitEntry entry = {s, true, false};
        netWaitAny(&entry, 1, timeoutMs);
    }
    // Also when the start failed or the wait ran out: a connect not completed counts as failed, and
    // the socket is blocking again either way.
    return netFinishConnect(s);
}
