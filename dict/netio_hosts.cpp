// Host names and address texts for the socket seam: the same calls on Winsock and BSD sockets.
#include "dict/netio.h"

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
