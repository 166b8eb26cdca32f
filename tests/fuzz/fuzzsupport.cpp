// Shared parts of the fuzz targets: the scripted socket seam, showMessage, piece sizes,
// reference cutting and list checks.
#include "tests/fuzz/fuzzsupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "core/dictsession.h"
#include "core/netio.h"
#include "core/userinterface.h"

const char fuzzUnresolvableHost[] = "unresolvable.invalid";

// Socket handles start here, so that a handle of 0 (a socket field never set) is caught.
static const NetSocket firstHandle = 1000;
static const uint32_t loopbackAddress = 0x0100007Fu;  // 127.0.0.1 in network order
static const long long leadingNumberClamp = 1LL << 62;
static const size_t slotCharacters = dictSlotSize - 1;

// The script of the current run and how far the client has got in it.
static std::vector<FuzzConnection> script;
static size_t openedCount = 0;
static int messageCount = 0;

void fuzzFailure(const char* what, const char* file, int line)
{
    fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    abort();
}

void fuzzScriptConnections(const std::vector<FuzzConnection>& connections)
{
    script = connections;
    for (FuzzConnection& c : script) {
        c.sent.clear();
        c.opened = false;
        c.closed = false;
        c.greetingTaken = 0;
        c.replyTaken = 0;
        c.greetingPieces = 0;
        c.replyPieces = 0;
        c.pieceEnd = 0;
    }
    openedCount = 0;
    messageCount = 0;
}

FuzzConnection& fuzzConnection(size_t index)
{
    FUZZ_CHECK(index < script.size());
    return script[index];
}

size_t fuzzConnectionsOpened() { return openedCount; }
int fuzzMessageCount() { return messageCount; }

void showMessage(void*, const char*, ...) { messageCount++; }
// The waiting status a slow reply brings up shows nothing here.
void showStatus(const char*, int) {}
void hideStatus() {}
void showWaitingStatus(const char*) {}

DictSession dictSession;

// The scripted connection behind a handle; every use of a handle must be of one that is open.
static FuzzConnection* connectionOf(NetSocket s)
{
    FUZZ_CHECK(s >= firstHandle && s < firstHandle + openedCount);
    size_t index = (size_t)(s - firstHandle);
    if (index >= script.size())
        return nullptr;
    FuzzConnection* c = &script[index];
    FUZZ_CHECK(!c->closed);
    return c;
}

const NetSocket netInvalidSocket = (NetSocket)-1;

int netStartup() { return 1; }

NetResolveHook netResolveHook;
NetWaitHook netWaitHook;

// The one address every resolvable host has.
static NetAddress loopback()
{
    NetAddress address = {};
    address.family = netFamilyIPv4;
    memcpy(address.bytes, &loopbackAddress, 4);
    return address;
}

static bool isLoopback(const NetAddress& address)
{
    return address.family == netFamilyIPv4 && memcmp(address.bytes, &loopbackAddress, 4) == 0;
}

int netResolve(const char* host, NetAddress* addresses, int capacity)
{
    if (strcmp(host, fuzzUnresolvableHost) == 0 || capacity < 1)
        return 0;
    addresses[0] = loopback();
    return 1;
}

int netParseAddress(const char* text, NetAddress* address)
{
    *address = loopback();
    return strcmp(text, "127.0.0.1") == 0 ? 1 : 0;
}

// The targets run on one thread.
static void* threadValue;
void* netThreadValue() { return threadValue; }
void netSetThreadValue(void* value) { threadValue = value; }

// No look-up is cancelled here: the signals are never raised.
struct NetSignal {
    bool raised;
};
NetSignal* netCreateSignal() { return new NetSignal{false}; }
void netRaiseSignal(NetSignal* signal) { signal->raised = true; }
bool netSignalRaised(const NetSignal* signal) { return signal != nullptr && signal->raised; }
void netDestroySignal(NetSignal* signal) { delete signal; }

NetSocket netOpenStream(int)
{
    NetSocket s = firstHandle + openedCount;
    if (openedCount < script.size())
        script[openedCount].opened = true;
    openedCount++;
    return s;
}

int netConnect(NetSocket s, const NetAddress& address, unsigned short port, int)
{
    FuzzConnection* c = connectionOf(s);
    FUZZ_CHECK(port == dictPort);
    return c != nullptr && c->connects && isLoopback(address) ? 1 : 0;
}

int netStartConnect(NetSocket s, const NetAddress& address, unsigned short port)
{
    FuzzConnection* c = connectionOf(s);
    FUZZ_CHECK(port == dictPort);
    return c != nullptr && c->connects && isLoopback(address) ? 1 : 0;
}

// Whether a receive on the connection would hand something out (or report its end) at once.
static bool hasSomethingToRead(const FuzzConnection* c)
{
    if (c == nullptr || !c->connects)
        return false;
    return c->greetingTaken < c->greeting.size() || !c->sent.empty();
}

int netWaitAny(NetWaitEntry* entries, int count, int timeoutMs, const NetSignal*)
{
    FUZZ_CHECK(count >= 0 && count <= netMaxWaitEntries);
    int ready = 0;
    for (int i = 0; i < count; i++) {
        FuzzConnection* c = connectionOf(entries[i].socket);
        // A connect ends at once, either way; a wait that would run out ends at once too, and
        // the receive after it fails as a timed-out one would.
        entries[i].ready = entries[i].connecting || hasSomethingToRead(c) || timeoutMs > 0;
        ready += entries[i].ready ? 1 : 0;
    }
    return ready;
}

int netFinishConnect(NetSocket s)
{
    FuzzConnection* c = connectionOf(s);
    return c != nullptr && c->connects ? 1 : 0;
}

int netSend(NetSocket s, const char* data, int length)
{
    FuzzConnection* c = connectionOf(s);
    FUZZ_CHECK(length >= 0);
    if (c == nullptr || !c->connects)
        return 0;
    c->sent.append(data, (size_t)length);
    return 1;
}

int netReceive(NetSocket s, char* buffer, int capacity, int)
{
    FuzzConnection* c = connectionOf(s);
    FUZZ_CHECK(capacity > 0);
    if (c == nullptr || !c->connects)
        return -1;
    bool inGreeting = c->greetingTaken < c->greeting.size();
    if (!inGreeting && (c->sent.empty() || c->replyTaken == c->reply.size())) {
        // Waiting for a request that never came: the receive times out. After the reply
        // the server closes the connection.
        return c->sent.empty() ? -1 : 0;
    }
    const std::string& text = inGreeting ? c->greeting : c->reply;
    size_t& taken = inGreeting ? c->greetingTaken : c->replyTaken;
    size_t& pieces = inGreeting ? c->greetingPieces : c->replyPieces;
    // A new piece begins where the last one ended; the reply's pieces start at its first byte.
    if (c->pieceEnd <= taken || (!inGreeting && taken == 0))
        c->pieceEnd = taken + pieceLength(c->pieceSizes, pieces, taken, text.size());
    size_t count = c->pieceEnd - taken;
    if (count > (size_t)capacity)
        count = (size_t)capacity;
    memcpy(buffer, text.data() + taken, count);
    taken += count;
    if (taken == c->pieceEnd)
        pieces++;
    return (int)count;
}

void netClose(NetSocket s)
{
    FuzzConnection* c = connectionOf(s);
    if (c != nullptr)
        c->closed = true;
}

std::vector<size_t> takePieceSizes(const uint8_t** data, size_t* size)
{
    const size_t mostSizes = 8;
    std::vector<size_t> sizes;
    if (*size == 0) {
        sizes.push_back(dictPieceSize);
        return sizes;
    }
    size_t wanted = (*data)[0] % mostSizes + 1;
    (*data)++;
    (*size)--;
    for (size_t i = 0; (i < wanted) && (*size > 0); i++) {
        sizes.push_back((*data)[0] == 0 ? (size_t)dictPieceSize : (size_t)(*data)[0]);
        (*data)++;
        (*size)--;
    }
    if (sizes.empty())
        sizes.push_back(dictPieceSize);
    return sizes;
}

size_t pieceLength(const std::vector<size_t>& sizes, size_t index, size_t offset, size_t length)
{
    size_t size = sizes[index % sizes.size()];
    return offset >= length ? 0 : size < length - offset ? size : length - offset;
}

LiteralReply readReplyLiterally(const std::string& reply, const std::vector<size_t>& sizes,
                                const char* const* markers, int markerCount, size_t cap)
{
    // All that could be gathered, with where each piece ends in it and in the reply.
    std::string all;
    std::vector<size_t> textEnds, replyEnds;
    for (size_t at = 0; at < reply.size() && all.size() < cap;) {
        size_t length = pieceLength(sizes, textEnds.size(), at, reply.size());
        size_t zero = reply.find('\0', at);
        size_t kept = zero == std::string::npos || zero >= at + length ? length : zero - at;
        all.append(reply, at, std::min(kept, cap - all.size()));
        at += length;
        textEnds.push_back(all.size());
        replyEnds.push_back(at);
    }
    // The first place where a marker has arrived in full settles the reply.
    size_t completeAt = all.find("250 ");
    completeAt = completeAt == std::string::npos ? completeAt : completeAt + 4;
    size_t settledAt = completeAt;
    for (int i = 0; i < markerCount; i++) {
        size_t at = all.find(markers[i]);
        if (at != std::string::npos)
            settledAt = std::min(settledAt, at + strlen(markers[i]));
    }
    LiteralReply r = {all, false, false, textEnds.size(), replyEnds.empty() ? 0 : replyEnds.back()};
    for (size_t piece = 0; settledAt != std::string::npos && piece < textEnds.size(); piece++) {
        if (textEnds[piece] < settledAt)
            continue;
        r.text = all.substr(0, textEnds[piece]);
        r.complete = completeAt <= textEnds[piece];
        r.refused = !r.complete;
        r.piecesTaken = piece + 1;
        r.bytesTaken = replyEnds[piece];
        break;
    }
    return r;
}

long long referenceLeadingNumber(const std::string& text)
{
    size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos)
        return 0;
    bool negative = false;
    if (text[at] == '+' || text[at] == '-') {
        negative = text[at] == '-';
        at++;
    }
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; at++) {
        int digit = text[at] - '0';
        value = value > (leadingNumberClamp - digit) / 10 ? leadingNumberClamp : value * 10 + digit;
    }
    return negative ? -value : value;
}

long long referenceCountField(const std::string& text)
{
    if (text.size() <= 4)
        return 0;
    size_t end = text.find_first_of(" \r\n", 4);
    return referenceLeadingNumber(text.substr(4, end == std::string::npos ? std::string::npos : end - 4));
}

int referenceClamp(long long count, int limit)
{
    if (count <= 0 || limit <= 0)
        return 0;
    return count < limit ? (int)count : limit;
}

static bool beginsWith(const std::string& text, int status)
{
    return text.size() >= 4 && referenceLeadingNumber(text) == status;
}

std::vector<std::string> referenceSlotLines(const std::string& text, int status, bool namesOnly, int limit)
{
    std::vector<std::string> entries;
    if (!beginsWith(text, status))
        return entries;
    size_t count = (size_t)referenceClamp(referenceCountField(text), limit);
    size_t at = text.find("\r\n");
    if (at == std::string::npos)
        return entries;
    at += 2;
    while (entries.size() < count) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            break;
        std::string line = text.substr(at, end - at);
        at = end + 2;
        if (line == ".")
            break;
        if (namesOnly)
            line = line.substr(0, line.find(' '));
        if (!line.empty())
            entries.push_back(line.substr(0, slotCharacters));
    }
    return entries;
}

std::vector<std::string> referenceDefinitions(const std::string& text, int limit)
{
    std::vector<std::string> bodies;
    if (!beginsWith(text, 150))
        return bodies;
    size_t count = (size_t)referenceClamp(referenceCountField(text), limit);
    // The status line and the first header line.
    size_t at = text.find("\r\n");
    at = at == std::string::npos ? std::string::npos : text.find("\r\n", at + 2);
    if (at == std::string::npos)
        return bodies;
    at += 2;
    while (bodies.size() < count && at < text.size()) {
        // An empty body: the terminator line follows the header at once.
        size_t end = text.compare(at - 2, 5, "\r\n.\r\n") == 0 ? at - 2 : text.find("\r\n.\r\n", at);
        if (end == std::string::npos)
            break;
        bodies.push_back(end < at ? std::string() : text.substr(at, end - at));
        size_t next = text.find("\r\n", end + 5);
        if (next == std::string::npos)
            break;
        at = next + 2;
    }
    return bodies;
}

void checkSlotList(char** list, int count, const std::vector<std::string>& expected)
{
    FUZZ_CHECK(count == (int)expected.size());
    FUZZ_CHECK((list == nullptr) == (count == 0));
    for (int i = 0; i < count; i++) {
        const char* slot = list[i];
        FUZZ_CHECK(slot != nullptr);
        // All 70 characters are read, so a smaller slot shows up as an overflow.
        char copy[dictSlotSize];
        memcpy(copy, slot, sizeof copy);
        std::string want = expected[(size_t)i];
        FUZZ_CHECK(want.size() <= slotCharacters);
        FUZZ_CHECK(memcmp(copy, want.data(), want.size()) == 0);
        for (size_t k = want.size(); k < sizeof copy; k++)
            FUZZ_CHECK(copy[k] == '\0');
    }
    if (list != nullptr)
        (void)*(volatile char**)&list[count];  // the spare entry is there
}

void checkTextList(char** list, int count, const std::vector<std::string>& expected)
{
    FUZZ_CHECK(count == (int)expected.size());
    FUZZ_CHECK((list == nullptr) == (count == 0));
    for (int i = 0; i < count; i++) {
        const char* text = list[i];
        const std::string& want = expected[(size_t)i];
        FUZZ_CHECK(text != nullptr);
        FUZZ_CHECK(memcmp(text, want.data(), want.size()) == 0);
        FUZZ_CHECK(text[want.size()] == '\0' && text[want.size() + 1] == '\0');
    }
    if (list != nullptr)
        (void)*(volatile char**)&list[count];
}
