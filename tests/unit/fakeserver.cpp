// Scripted DICT servers for the unit tests, on their own small socket layer (Winsock or BSD).
#include "tests/unit/fakeserver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <chrono>

#include "core/dictsession.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
typedef int SocketLength;
static int lastError() { return WSAGetLastError(); }
static void closeHandle(SOCKET s) { closesocket(s); }
static const int shutdownSending = SD_SEND;
static const int sendFlags = 0;
#else
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int SOCKET;
typedef socklen_t SocketLength;
static const SOCKET INVALID_SOCKET = -1;
static int lastError() { return errno; }
static void closeHandle(SOCKET s) { close(s); }
static const int shutdownSending = SHUT_WR;
static const int sendFlags = MSG_NOSIGNAL;
#endif

const FakeServer::Handle FakeServer::invalidHandle = (FakeServer::Handle)INVALID_SOCKET;
const char fakeGreeting[] = "220 fake.test dictd 1.0 <auth.mime> <1.2@fake.test>\r\n";

static const unsigned short dictPortNumber = 2628;
// How often waiting threads look at the stop flag.
static const int pollMs = 20;
// How long a server waits for a request before it carries on with its script.
static const int requestWaitMs = 5000;
// Addresses base.1 to base.254 are handed out in turn.
static const int lastHostNumber = 254;
static const size_t floodBlockSize = 65536;

static int nextHostNumber = 0;

FakeStep sendText(const std::string& text) { return FakeStep{fakeSend, text, 0}; }
FakeStep pauseFor(int milliseconds) { return FakeStep{fakePause, "", milliseconds}; }
FakeStep awaitRequest() { return FakeStep{fakeAwaitRequest, "", 0}; }
FakeStep closeNow() { return FakeStep{fakeClose, "", 0}; }
FakeStep resetNow() { return FakeStep{fakeReset, "", 0}; }
FakeStep staySilent() { return FakeStep{fakeSilence, "", 0}; }
FakeStep floodWith(const std::string& unit, long long totalBytes)
{
    return FakeStep{fakeFlood, unit, totalBytes};
}

FakeScript inPieces(const std::string& text, size_t pieceSize, int pauseMs)
{
    FakeScript steps;
    for (size_t at = 0; at < text.size(); at += pieceSize) {
        if (at > 0)
            steps.push_back(pauseFor(pauseMs));
        steps.push_back(sendText(text.substr(at, pieceSize)));
    }
    return steps;
}

FakeScript operator+(FakeScript first, const FakeScript& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

static SOCKET toSocket(FakeServer::Handle h) { return (SOCKET)h; }

// Waits up to waitMs for the socket to become readable (or writable); true when it did.
static bool waitReady(SOCKET s, bool forWriting, int waitMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    struct timeval time;
    time.tv_sec = waitMs / 1000;
    time.tv_usec = (waitMs % 1000) * 1000;
    int result = select((int)s + 1, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr, &time);
    return result > 0;
}

static const char* fakeNetBase()
{
    const char* base = getenv("LEXITRAY_FAKE_NET");
    return base != nullptr && base[0] != '\0' ? base : "127.0.1";
}

FakeServer::FakeServer(const std::vector<FakeScript>& scriptList, bool accepting, const char* fixedHost)
    : scripts(scriptList), listener(invalidHandle), stopping(false)
{
    const int acceptQueueLength = 16;
    openListener(accepting ? acceptQueueLength : 0, fixedHost);
    if (accepting && listener != invalidHandle)
        acceptThread = std::thread(&FakeServer::acceptLoop, this);
}

void FakeServer::openListener(int queueLength, const char* fixedHost)
{
    hostText[0] = '\0';
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    if (fixedHost != nullptr) {
        NetAddress address;
        struct sockaddr_storage system;
        int size = 0;
        if (netParseAddress(fixedHost, &address))
            size = netSocketAddress(address, dictPortNumber, &system, (int)sizeof system);
        SOCKET s = size > 0 ? socket(system.ss_family, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
        if (s == INVALID_SOCKET)
            return;
        int on = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char*)&on, sizeof on);
        if (bind(s, (struct sockaddr*)&system, (SocketLength)size) == 0 && listen(s, queueLength) == 0) {
            listener = (Handle)s;
            snprintf(hostText, sizeof hostText, "%s", fixedHost);
        } else {
            closeHandle(s);
        }
        return;
    }
    // Another server of this run (or a slow-dying one) may still hold an address: take the next.
    for (int attempt = 0; attempt < lastHostNumber && listener == invalidHandle; attempt++) {
        nextHostNumber = nextHostNumber % lastHostNumber + 1;
        snprintf(hostText, sizeof hostText, "%s.%d", fakeNetBase(), nextHostNumber);
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET)
            break;
        int on = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char*)&on, sizeof on);
        struct sockaddr_in address;
        memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_port = htons(dictPortNumber);
        address.sin_addr.s_addr = inet_addr(hostText);
        if (bind(s, (struct sockaddr*)&address, sizeof address) == 0 && listen(s, queueLength) == 0) {
            listener = (Handle)s;
        } else {
            fprintf(stderr, "fake server: cannot listen on %s (error %d)\n", hostText, lastError());
            closeHandle(s);
        }
    }
}

FakeServer::~FakeServer() { stop(); }

void FakeServer::stop()
{
    stopping = true;
    const bool accepted = acceptThread.joinable();
    if (accepted)
        acceptThread.join();
    if (listener != invalidHandle) {
        // A connection the client made (and may have closed already) can still wait in the queue for the
        // accept thread, which is slow to wake on a loaded host: it counts as made, then is closed.
        SOCKET s = toSocket(listener);
        while (accepted && waitReady(s, false, 0)) {
            SOCKET connection = accept(s, nullptr, nullptr);
            if (connection == INVALID_SOCKET)
                break;
            closeHandle(connection);
            std::lock_guard<std::mutex> guard(lock);
            requests.push_back(std::string());
            closedByClient.push_back(true);
        }
        closeHandle(s);
        listener = invalidHandle;
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(lock);
        threads.swap(connectionThreads);
    }
    for (std::thread& t : threads)
        t.join();
}

int FakeServer::connectionCount()
{
    std::lock_guard<std::mutex> guard(lock);
    return (int)requests.size();
}

int FakeServer::connectionCountOnceAccepted(int expected, int waitMs)
{
    // A connection the client has made may still wait in the listener's queue for the accept thread.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    int count = connectionCount();
    while (count < expected && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        count = connectionCount();
    }
    return count;
}

std::string FakeServer::received(int connection)
{
    std::lock_guard<std::mutex> guard(lock);
    return connection >= 0 && connection < (int)requests.size() ? requests[connection] : std::string();
}

bool FakeServer::clientClosed(int connection)
{
    std::lock_guard<std::mutex> guard(lock);
    return connection >= 0 && connection < (int)closedByClient.size() && closedByClient[connection];
}

void FakeServer::acceptLoop()
{
    SOCKET s = toSocket(listener);
    while (!stopping) {
        if (!waitReady(s, false, pollMs))
            continue;
        SOCKET connection = accept(s, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            continue;
        int on = 1;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, (const char*)&on, sizeof on);
        std::lock_guard<std::mutex> guard(lock);
        int index = (int)requests.size();
        requests.push_back(std::string());
        closedByClient.push_back(false);
        connectionThreads.push_back(std::thread(&FakeServer::serve, this, (Handle)connection, index));
    }
}

bool FakeServer::readSome(Handle connection, int index, int waitMs, bool* closed)
{
    *closed = false;
    if (!waitReady(toSocket(connection), false, waitMs))
        return false;
    char buffer[4096];
    int got = (int)recv(toSocket(connection), buffer, sizeof buffer, 0);
    if (got <= 0) {
        *closed = true;
        std::lock_guard<std::mutex> guard(lock);
        closedByClient[index] = true;
        return false;
    }
    std::lock_guard<std::mutex> guard(lock);
    requests[index].append(buffer, (size_t)got);
    return true;
}

bool FakeServer::sendAll(Handle connection, const char* data, size_t length)
{
    size_t sent = 0;
    while (sent < length) {
        if (stopping)
            return false;
        if (!waitReady(toSocket(connection), true, pollMs))
            continue;
        int result = (int)send(toSocket(connection), data + sent, (int)(length - sent), sendFlags);
        if (result <= 0)
            return false;
        sent += (size_t)result;
    }
    return true;
}

// Carries out one step; false when the connection is over.
bool FakeServer::runStep(Handle connection, int index, const FakeStep& step)
{
    bool closed = false;
    switch (step.kind) {
    case fakeSend:
        return sendAll(connection, step.data.data(), step.data.size());
    case fakePause: {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.number);
        while (!stopping && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return !stopping;
    }
    case fakeAwaitRequest: {
        size_t start;
        {
            std::lock_guard<std::mutex> guard(lock);
            start = requests[index].size();
        }
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(requestWaitMs);
        while (!stopping && std::chrono::steady_clock::now() < end) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (requests[index].find("\r\n", start) != std::string::npos)
                    return true;
            }
            readSome(connection, index, pollMs, &closed);
            if (closed)
                return false;
        }
        return !stopping;
    }
    case fakeClose:
        return false;
    case fakeReset: {
        struct linger abort;
        abort.l_onoff = 1;
        abort.l_linger = 0;
        setsockopt(toSocket(connection), SOL_SOCKET, SO_LINGER, (const char*)&abort, sizeof abort);
        closeHandle(toSocket(connection));
        return false;
    }
    case fakeSilence:
        while (!stopping) {
            readSome(connection, index, pollMs, &closed);
            if (closed)
                return false;
        }
        return false;
    case fakeFlood: {
        std::string block;
        while (!step.data.empty() && block.size() < floodBlockSize)
            block += step.data;
        long long left = step.number;
        while (!stopping && (step.number < 0 || left > 0)) {
            size_t length = block.size();
            if (step.number >= 0 && (long long)length > left)
                length = (size_t)left;
            if (length == 0 || !sendAll(connection, block.data(), length))
                return false;
            left -= (long long)length;
        }
        return !stopping;
    }
    }
    return false;
}

// Ends a connection gracefully: no more sending, then reading until the client closes (a
// close with unread data would reset the connection and could cost the client its reply).
void FakeServer::drain(Handle connection, int index)
{
    shutdown(toSocket(connection), shutdownSending);
    bool closed = false;
    while (!stopping && !closed)
        readSome(connection, index, pollMs, &closed);
    // Stopped by the test: what the client sent before has arrived on loopback, so keep it.
    while (!closed && readSome(connection, index, 0, &closed)) {
    }
    closeHandle(toSocket(connection));
}

void FakeServer::serve(Handle connection, int index)
{
    if (index < (int)scripts.size()) {
        for (const FakeStep& step : scripts[index]) {
            if (!runStep(connection, index, step)) {
                if (step.kind == fakeReset)
                    return;
                break;
            }
        }
    }
    drain(connection, index);
}

DictSession dictSession;

std::string dictdConversation(const char* address, const std::string& requests, int timeoutMs)
{
    NetSocket s = netOpenStream();
    std::string text;
    NetAddress parsed;
    if (s != netInvalidSocket && netParseAddress(address, &parsed) &&
        netConnect(s, parsed, dictPort, timeoutMs) && netSend(s, requests.data(), (int)requests.size())) {
        char piece[65536];
        int got;
        while ((got = netReceive(s, piece, sizeof piece, timeoutMs)) > 0)
            text.append(piece, (size_t)got);
    }
    netClose(s);
    return text;
}

void useTestLimits()
{
    dictLimits = dictDefaultLimits;
    dictLimits.connectTimeoutMs = testConnectTimeoutMs;
    dictLimits.receiveTimeoutMs = testReceiveTimeoutMs;
    dictLimits.replyTimeoutMs = testReplyTimeoutMs;
}

void resetDictSession()
{
    dictSession.closeSocket();
    dictSession.releaseLists();
    dictSession.socket = 0;
    dictSession.tryBaseForms = false;
    dictSession.trySuggestions = false;
    dictSession.suggestionCount = 0;
    dictSession.wonHost[0] = '\0';
}
