// Scripted DICT servers inside the test process, each listening on its own loopback address.
#pragma once
#include <stdint.h>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One step of what a server does on a connection.
enum FakeStepKind {
    fakeSend,          // send data
    fakePause,         // wait number milliseconds
    fakeAwaitRequest,  // read from the client until a CR LF arrives (or it closes)
    fakeClose,         // close gracefully now (the rest of the script is skipped)
    fakeReset,         // abort the connection with a reset now
    fakeSilence,       // say nothing until the client closes or the server stops
    fakeFlood,         // send data again and again: number bytes in all, or without end when < 0
};

struct FakeStep {
    FakeStepKind kind;
    std::string data;
    long long number;
};
typedef std::vector<FakeStep> FakeScript;

FakeStep sendText(const std::string& text);
FakeStep pauseFor(int milliseconds);
FakeStep awaitRequest();
FakeStep closeNow();
FakeStep resetNow();
FakeStep staySilent();
FakeStep floodWith(const std::string& unit, long long totalBytes);
// text sent in pieces of pieceSize bytes with a pause between them, so that each arrives
// on its own.
FakeScript inPieces(const std::string& text, size_t pieceSize, int pauseMs);
// The steps of first followed by those of second.
FakeScript operator+(FakeScript first, const FakeScript& second);

// The greeting of a well-behaved server.
extern const char fakeGreeting[];

// A DICT server on base.N:2628, where base comes from LEXITRAY_FAKE_NET (default "127.0.1")
// and N is picked afresh for each server. The i-th connection it accepts runs scripts[i],
// then the server closes it gracefully; connections beyond the scripts are closed at once.
class FakeServer {
public:
    // A server that is not accepting never takes a connection and has the shortest queue:
    // once one connection waits in it, further attempts go unanswered, as with a host that
    // drops them.
    // A fixed host (an IPv4 or IPv6 address text) replaces the address picked from the test range.
    explicit FakeServer(const std::vector<FakeScript>& scripts, bool accepting = true,
                        const char* fixedHost = nullptr);
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    bool listening() const { return listener != invalidHandle; }
    // The address text to give the client as host.
    const char* host() const { return hostText; }
    // Stops accepting (a connection still queued is counted, then closed), ends every connection and
    // waits for its thread.
    void stop();
    int connectionCount();
    // The count once it has reached expected, or after waitMs: what the client has connected so far.
    int connectionCountOnceAccepted(int expected, int waitMs);
    // What the client sent on the i-th connection (all of it once stop has returned).
    std::string received(int connection);
    // Whether the client has closed the i-th connection (or reset it).
    bool clientClosed(int connection);

    typedef uintptr_t Handle;
    static const Handle invalidHandle;

private:
    void openListener(int queueLength, const char* fixedHost);
    void acceptLoop();
    void serve(Handle connection, int index);
    bool runStep(Handle connection, int index, const FakeStep& step);
    void drain(Handle connection, int index);
    bool readSome(Handle connection, int index, int waitMs, bool* closed);
    bool sendAll(Handle connection, const char* data, size_t length);

    std::vector<FakeScript> scripts;
    Handle listener;
    char hostText[32];
    std::atomic<bool> stopping;
    std::thread acceptThread;
    std::mutex lock;
    std::vector<std::thread> connectionThreads;
    std::vector<std::string> requests;
    std::vector<bool> closedByClient;
};

// The whole conversation with the DICT server at address for requests (which end in QUIT), read
// apart from the client under test: everything up to the server's close, in timeoutMs per receive.
std::string dictdConversation(const char* address, const std::string& requests, int timeoutMs);

// The look-up record the tests and the benchmarks work with (the program makes one per look-up).
struct DictSession;
extern DictSession dictSession;

// Test settings of the DICT client: short time-outs so that waiting tests stay fast, the
// given reply cap, and a session with no connection and no lists.
const int testConnectTimeoutMs = 500;
const int testReceiveTimeoutMs = 400;
const int testReplyTimeoutMs = 3000;
void useTestLimits();
// Closes the session's socket and releases its lists; findMatches tries the word as written only.
void resetDictSession();
