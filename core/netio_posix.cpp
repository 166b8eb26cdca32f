// The socket seam on BSD sockets, for native builds and tests.
#include "core/netio.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <new>

const NetSocket netInvalidSocket = (NetSocket)-1;

static int toFd(NetSocket s) { return (int)s; }

// A server that writes a status line and its body separately would otherwise wait for our
// delayed acknowledgement on every exchange. The kernel clears the flag again after a while,
// so it is set anew around every receive.
static void armQuickAck(int fd)
{
#ifdef TCP_QUICKACK
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    (void)fd;
#endif
}

// Waits for the events within timeoutMs; 1 when they came, 0 on time-out or failure.
static int waitFor(int fd, short events, int timeoutMs)
{
    struct pollfd entry;
    entry.fd = fd;
    entry.events = events;
    entry.revents = 0;
    int result;
    do {
        result = poll(&entry, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    return result > 0 ? 1 : 0;
}

int netStartup() { return 1; }

NetSocket netOpenStream(int family)
{
    int fd = socket(family == netFamilyIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0)
        return netInvalidSocket;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    armQuickAck(fd);
    return (NetSocket)fd;
}

int netStartConnect(NetSocket s, const NetAddress& address, unsigned short port)
{
    int fd = toFd(s);
    struct sockaddr_storage target;
    int targetSize = netSocketAddress(address, port, &target, (int)sizeof target);
    if (s == netInvalidSocket || targetSize == 0)
        return 0;
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return 0;
    if (connect(fd, (struct sockaddr*)&target, (socklen_t)targetSize) == 0)
        return 1;
    return errno == EINPROGRESS || errno == EINTR ? 1 : 0;
}

static thread_local void* threadValue;

void* netThreadValue() { return threadValue; }

void netSetThreadValue(void* value) { threadValue = value; }

// The signal is a pipe whose reading end becomes readable, once and for good, when it is raised.
struct NetSignal {
    std::atomic<bool> raised;
    int pipeEnds[2];
};

NetSignal* netCreateSignal()
{
    NetSignal* signal = new (std::nothrow) NetSignal;
    if (signal == nullptr)
        return nullptr;
    signal->raised = false;
    if (pipe(signal->pipeEnds) != 0) {
        delete signal;
        return nullptr;
    }
    return signal;
}

void netRaiseSignal(NetSignal* signal)
{
    if (signal == nullptr || signal->raised.exchange(true))
        return;
    const char byte = 1;
    ssize_t written;
    do {
        written = write(signal->pipeEnds[1], &byte, 1);
    } while (written < 0 && errno == EINTR);
}

bool netSignalRaised(const NetSignal* signal) { return signal != nullptr && signal->raised; }

void netDestroySignal(NetSignal* signal)
{
    if (signal == nullptr)
        return;
    close(signal->pipeEnds[0]);
    close(signal->pipeEnds[1]);
    delete signal;
}

int netWaitAny(NetWaitEntry* entries, int count, int timeoutMs, const NetSignal* cancel)
{
    if (count < 0 || count > netMaxWaitEntries)
        return 0;
    struct pollfd polled[netMaxWaitEntries + 1];
    for (int i = 0; i < count; i++) {
        entries[i].ready = false;
        polled[i].fd = toFd(entries[i].socket);
        polled[i].events = entries[i].connecting ? POLLOUT : POLLIN;
        polled[i].revents = 0;
        // Armed before the data arrives, so that its acknowledgement is not delayed.
        if (!entries[i].connecting && timeoutMs > 0)
            armQuickAck(polled[i].fd);
    }
    int polledCount = count;
    if (cancel != nullptr) {
        polled[polledCount].fd = cancel->pipeEnds[0];
        polled[polledCount].events = POLLIN;
        polled[polledCount++].revents = 0;
    }
    int result;
    do {
        result = poll(polled, (nfds_t)polledCount, timeoutMs < 0 ? 0 : timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result <= 0)
        return 0;
    int ready = 0;
    for (int i = 0; i < count; i++) {
        // An error or hang-up is ready too: the connect or receive that follows reports it.
        entries[i].ready = polled[i].revents != 0;
        ready += entries[i].ready ? 1 : 0;
    }
    return ready == 0 && netSignalRaised(cancel) ? netWaitSignalled : ready;
}

int netFinishConnect(NetSocket s)
{
    int fd = toFd(s);
    if (s == netInvalidSocket)
        return 0;
    int error = 0;
    socklen_t size = sizeof error;
    bool connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    // Whether it is really connected: a socket still connecting has no error either.
    struct sockaddr_storage peer;
    socklen_t peerSize = sizeof peer;
    connected = connected && getpeername(fd, (struct sockaddr*)&peer, &peerSize) == 0;
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
        return 0;
    return connected ? 1 : 0;
}

int netSend(NetSocket s, const char* data, int length)
{
    if (s == netInvalidSocket || length < 0)
        return 0;
    int sent = 0;
    while (sent < length) {
        // MSG_NOSIGNAL: a peer that has gone away must fail the send, not kill the process.
        ssize_t result = send(toFd(s), data + sent, (size_t)(length - sent), MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return 0;
        sent += (int)result;
    }
    return 1;
}

int netReceive(NetSocket s, char* buffer, int capacity, int timeoutMs)
{
    int fd = toFd(s);
    if (s == netInvalidSocket || capacity <= 0)
        return -1;
    armQuickAck(fd);
    if (!waitFor(fd, POLLIN, timeoutMs))
        return -1;
    ssize_t result;
    do {
        result = recv(fd, buffer, (size_t)capacity, 0);
    } while (result < 0 && errno == EINTR);
    armQuickAck(fd);
    return result < 0 ? -1 : (int)result;
}

void netClose(NetSocket s)
{
    if (s != netInvalidSocket)
        close(toFd(s));
}
