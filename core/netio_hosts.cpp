// The parts of the socket seam that are the same on Winsock and BSD sockets: host names, address texts,
// socket addresses, and a connect with a time-out built on the non-blocking calls.
#include "core/netio.h"

#include <string.h>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

NetResolveHook netResolveHook;
NetWaitHook netWaitHook;

// Takes a system address into a NetAddress; false for a family the program does not use.
static bool fromSystem(const struct sockaddr* system, NetAddress* address)
{
    memset(address, 0, sizeof *address);
    if (system->sa_family == AF_INET) {
        address->family = netFamilyIPv4;
        memcpy(address->bytes, &((const struct sockaddr_in*)system)->sin_addr, 4);
        return true;
    }
    if (system->sa_family == AF_INET6) {
        address->family = netFamilyIPv6;
        memcpy(address->bytes, &((const struct sockaddr_in6*)system)->sin6_addr, 16);
        return true;
    }
    return false;
}

int netResolve(const char* host, NetAddress* addresses, int capacity)
{
    if (netResolveHook != nullptr)
        return netResolveHook(host, addresses, capacity);
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    struct addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr)
        return 0;
    int count = 0;
    for (struct addrinfo* at = found; at != nullptr && count < capacity; at = at->ai_next) {
        if (at->ai_addr != nullptr && fromSystem(at->ai_addr, &addresses[count]))
            count++;
    }
    freeaddrinfo(found);
    return count;
}

int netParseAddress(const char* text, NetAddress* address)
{
    memset(address, 0, sizeof *address);
    if (inet_pton(AF_INET, text, address->bytes) == 1) {
        address->family = netFamilyIPv4;
        return 1;
    }
    if (inet_pton(AF_INET6, text, address->bytes) == 1) {
        address->family = netFamilyIPv6;
        return 1;
    }
    return 0;
}

int netSocketAddress(const NetAddress& address, unsigned short port, void* storage, int capacity)
{
    if (address.family == netFamilyIPv4 && capacity >= (int)sizeof(struct sockaddr_in)) {
        struct sockaddr_in target;
        memset(&target, 0, sizeof target);
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        memcpy(&target.sin_addr, address.bytes, 4);
        memcpy(storage, &target, sizeof target);
        return (int)sizeof target;
    }
    if (address.family == netFamilyIPv6 && capacity >= (int)sizeof(struct sockaddr_in6)) {
        struct sockaddr_in6 target;
        memset(&target, 0, sizeof target);
        target.sin6_family = AF_INET6;
        target.sin6_port = htons(port);
        memcpy(&target.sin6_addr, address.bytes, 16);
        memcpy(storage, &target, sizeof target);
        return (int)sizeof target;
    }
    return 0;
}

int netConnect(NetSocket s, const NetAddress& address, unsigned short port, int timeoutMs)
{
    if (netStartConnect(s, address, port)) {
        NetWaitEntry entry = {s, true, false};
        netWaitAny(&entry, 1, timeoutMs);
    }
    // Also when the start failed or the wait ran out: a connect not completed counts as failed, and
    // the socket is blocking again either way.
    return netFinishConnect(s);
}
