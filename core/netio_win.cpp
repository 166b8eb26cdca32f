// The socket seam on Windows Sockets 2.2.
#include "core/netio.h"

#include <winsock2.h>
#include <mstcpip.h>
#include <windows.h>
#include <string.h>

#include <stdlib.h>

#include <atomic>

#ifndef SIO_TCP_SET_ACK_FREQUENCY
#define SIO_TCP_SET_ACK_FREQUENCY _WSAIOW(IOC_VENDOR, 23)
#endif

const NetSocket netInvalidSocket = (NetSocket)INVALID_SOCKET;

static SOCKET toSocket(NetSocket s) { return (SOCKET)s; }

// Fills a timeval for select; a negative time-out waits the shortest time.
static void toTimeval(int timeoutMs, struct timeval* time)
{
    if (timeoutMs < 0)
        timeoutMs = 0;
    time->tv_sec = timeoutMs / 1000;
    time->tv_usec = (timeoutMs % 1000) * 1000;
}

int netStartup()
{
    static bool started = false;
    if (started)
        return 1;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 0;
    started = true;
    return 1;
}

NetSocket netOpenStream(int family)
{
    SOCKET s = socket(family == netFamilyIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return netInvalidSocket;
    // Acknowledge every segment at once: a server that writes a status line and its body
    // separately would otherwise wait ~200 ms for our delayed acknowledgement on every
    // exchange. Wine refuses the call; the reply then just comes a little later.
    DWORD frequency = 1;
    DWORD returned = 0;
    WSAIoctl(s, SIO_TCP_SET_ACK_FREQUENCY, &frequency, sizeof frequency, nullptr, 0, &returned, nullptr,
             nullptr);
    return (NetSocket)s;
}

int netStartConnect(NetSocket s, const NetAddress& address, unsigned short port)
{
    struct sockaddr_storage target;
    int targetSize = netSocketAddress(address, port, &target, (int)sizeof target);
    if (s == netInvalidSocket || targetSize == 0)
        return 0;
    SOCKET handle = toSocket(s);
    u_long nonBlocking = 1;
    if (ioctlsocket(handle, FIONBIO, &nonBlocking) != 0)
        return 0;
    if (connect(handle, (struct sockaddr*)&target, targetSize) == 0)
        return 1;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 1 : 0;
}

// Which entries are ready now, without waiting; how many are.
static int readyNow(NetWaitEntry* entries, int count)
{
    // Windows reports a failed non-blocking connect in the exception set.
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (int i = 0; i < count; i++) {
        entries[i].ready = false;
        SOCKET handle = toSocket(entries[i].socket);
        if (entries[i].connecting) {
            FD_SET(handle, &writable);
            FD_SET(handle, &failed);
        } else {
            FD_SET(handle, &readable);
        }
    }
    if (count == 0)
        return 0;
    struct timeval time;
    toTimeval(0, &time);
    if (select(0, &readable, &writable, &failed, &time) <= 0)
        return 0;
    int ready = 0;
    for (int i = 0; i < count; i++) {
        SOCKET handle = toSocket(entries[i].socket);
        entries[i].ready = entries[i].connecting ? FD_ISSET(handle, &writable) || FD_ISSET(handle, &failed)
                                                 : FD_ISSET(handle, &readable) != 0;
        ready += entries[i].ready ? 1 : 0;
    }
    return ready;
}

// The thread values live in one slot of the system's thread-local storage, taken once.
static DWORD threadSlot = TLS_OUT_OF_INDEXES;
static INIT_ONCE threadSlotTaken = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK takeThreadSlot(PINIT_ONCE, PVOID, PVOID*)
{
    threadSlot = TlsAlloc();
    return TRUE;
}

void* netThreadValue()
{
    InitOnceExecuteOnce(&threadSlotTaken, takeThreadSlot, nullptr, nullptr);
    return threadSlot == TLS_OUT_OF_INDEXES ? nullptr : TlsGetValue(threadSlot);
}

void netSetThreadValue(void* value)
{
    InitOnceExecuteOnce(&threadSlotTaken, takeThreadSlot, nullptr, nullptr);
    if (threadSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(threadSlot, value);
}

// The signal is a manual-reset event, set once for good when it is raised.
struct NetSignal {
    std::atomic<bool> raised;
    HANDLE event;
};

NetSignal* netCreateSignal()
{
    NetSignal* signal = (NetSignal*)calloc(1, sizeof(NetSignal));
    if (signal == nullptr)
        return nullptr;
    signal->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (signal->event == nullptr) {
        free(signal);
        return nullptr;
    }
    return signal;
}

void netRaiseSignal(NetSignal* signal)
{
    if (signal == nullptr || signal->raised.exchange(true))
        return;
    SetEvent(signal->event);
}

bool netSignalRaised(const NetSignal* signal) { return signal != nullptr && signal->raised; }

void netDestroySignal(NetSignal* signal)
{
    if (signal == nullptr)
        return;
    CloseHandle(signal->event);
    free(signal);
}

int netWaitAny(NetWaitEntry* entries, int count, int timeoutMs, const NetSignal* cancel)
{
    if (count < 0 || count > netMaxWaitEntries)
        return 0;
    if (timeoutMs <= 0)
        return readyNow(entries, count);
    // The sockets signal their events, and the wait ends at the first of them or the cancel. An event
    // that has happened already is signalled at once (data waiting, a socket connected and so
    // writable), so nothing is missed between a look and the wait. The events belong to this wait
    // alone: look-ups on other threads wait on their own.
    WSAEVENT waitEvents[netMaxWaitEntries + 1];
    int made = 0;
    for (; made < count; made++) {
        waitEvents[made] = WSACreateEvent();
        if (waitEvents[made] == WSA_INVALID_EVENT)
            break;
        long events = entries[made].connecting ? FD_CONNECT | FD_WRITE | FD_CLOSE : FD_READ | FD_CLOSE;
        WSAEventSelect(toSocket(entries[made].socket), waitEvents[made], events);
    }
    DWORD handles = (DWORD)made;
    if (cancel != nullptr)
        waitEvents[handles++] = cancel->event;
    if (handles == 0)
        Sleep((DWORD)timeoutMs);
    else if (made == count)
        WaitForMultipleObjects(handles, waitEvents, FALSE, (DWORD)timeoutMs);
    for (int i = 0; i < made; i++) {
        SOCKET handle = toSocket(entries[i].socket);
        WSAEventSelect(handle, nullptr, 0);
        WSACloseEvent(waitEvents[i]);
        // The event selection made the socket non-blocking; a connected one is blocking again
        // (a connecting one becomes so in netFinishConnect).
        if (!entries[i].connecting) {
            u_long blocking = 0;
            ioctlsocket(handle, FIONBIO, &blocking);
        }
    }
    int ready = readyNow(entries, count);
    return ready == 0 && netSignalRaised(cancel) ? netWaitSignalled : ready;
}

int netFinishConnect(NetSocket s)
{
    if (s == netInvalidSocket)
        return 0;
    SOCKET handle = toSocket(s);
    int error = 0;
    int size = sizeof error;
    bool connected = getsockopt(handle, SOL_SOCKET, SO_ERROR, (char*)&error, &size) == 0 && error == 0;
    struct sockaddr_storage peer;
    int peerSize = sizeof peer;
    connected = connected && getpeername(handle, (struct sockaddr*)&peer, &peerSize) == 0;
    u_long blocking = 0;
    if (ioctlsocket(handle, FIONBIO, &blocking) != 0)
        return 0;
    return connected ? 1 : 0;
}

int netSend(NetSocket s, const char* data, int length)
{
    if (s == netInvalidSocket || length < 0)
        return 0;
    int sent = 0;
    while (sent < length) {
        int result = send(toSocket(s), data + sent, length - sent, 0);
        if (result == SOCKET_ERROR || result == 0)
            return 0;
        sent += result;
    }
    return 1;
}

int netReceive(NetSocket s, char* buffer, int capacity, int timeoutMs)
{
    if (s == netInvalidSocket || capacity <= 0)
        return -1;
    SOCKET handle = toSocket(s);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    struct timeval time;
    toTimeval(timeoutMs, &time);
    if (select(0, &readable, nullptr, nullptr, &time) <= 0)
        return -1;
    int result = recv(handle, buffer, capacity, 0);
    return result == SOCKET_ERROR ? -1 : result;
}

void netClose(NetSocket s)
{
    if (s != netInvalidSocket)
        closesocket(toSocket(s));
}
