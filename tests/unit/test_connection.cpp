// Tests of connecting to a DICT server, its greeting, and reading replies, against scripted servers.
#include <gtest/gtest.h>

#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/dictsession.h"
#include "core/netio_wait.h"
#include "tests/unit/fakeserver.h"
#include "tests/unit/uidoubles.h"

namespace {

const char* const matchRefusals[] = {"551 ", "552 ", "501 "};
const char testRequest[] = "MATCH * exact x\r\n";

// The greeting, then the server waits for the request before it replies.
FakeScript greetThenAwait() { return {sendText(fakeGreeting), awaitRequest()}; }
// Slack for scheduling on a busy machine, on top of a time-out that is expected to fire.
const long long slackMs = 1500;

long long msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

class Connection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(netStartup(), 1);
        useTestLimits();
        resetUiDoubles();
        resetDictSession();
    }
    void TearDown() override
    {
        releaseReply(&reply);
        resetDictSession();
        dictLimits = dictDefaultLimits;
    }
    // Connects to a server whose first connection runs greetThenAwait and then its reply,
    // sends a request and reads the reply.
    ReplyOutcome readAfterGreeting(FakeServer& server)
    {
        EXPECT_TRUE(server.listening());
        EXPECT_EQ(dictSession.connectToServer(server.host()), 1);
        EXPECT_EQ(netSend(dictSession.socket, testRequest, (int)sizeof testRequest - 1), 1);
        return dictSession.readReply(matchRefusals, 3, &reply);
    }
    std::string replyText() const { return std::string(reply.data ? reply.data : "", reply.length); }

    ReplyText reply = {};
};

// A list of database lines, so that a test can see connectToServer clear it.
void giveSessionDatabaseLines()
{
    const char text[] = "110 2\r\nwn \"WordNet\"\r\ngcide \"GCIDE\"\r\n.\r\n";
    dictSession.databaseCount = cutDatabaseLines(text, sizeof text - 1, &dictSession.databaseLines);
    ASSERT_EQ(dictSession.databaseCount, 2);
}

struct GreetingCase {
    const char* name;
    FakeScript script;
    int expected;
};

TEST_F(Connection, GreetingIsJudgedByItsLeadingNumber)
{
    const GreetingCase cases[] = {
        {"exactly 220", {sendText("220")}, 0},
        {"220 and text", {sendText("220 x")}, 1},
        {"full greeting", {sendText(fakeGreeting)}, 1},
        {"2200", {sendText("2200 x\r\n")}, 0},
        {"blanks before 220", {sendText(" 220 x\r\n")}, 1},
        {"another status", {sendText("530 access denied\r\n")}, 0},
        {"nothing before close", {closeNow()}, 0},
        {"greeting in pieces", inPieces("220 split greeting\r\n", 2, 20), 1},
        {"no line end, then silence", {sendText("220 x"), staySilent()}, 1},
        {"zero byte inside", {sendText(std::string("220 a\0b\r\n", 9))}, 1},
        {"zero byte splits 220",
         {sendText(std::string("22\0"
                               "0 x\r\n",
                               7))},
         0},
    };
    for (const GreetingCase& c : cases) {
        SCOPED_TRACE(c.name);
        giveSessionDatabaseLines();
        FakeServer server({c.script});
        ASSERT_TRUE(server.listening());
        EXPECT_EQ(dictSession.connectToServer(server.host()), c.expected);
        EXPECT_EQ(dictSession.databaseCount, 0);
        EXPECT_EQ(dictSession.databaseLines, nullptr);
        // The connection stands whatever the greeting said.
        EXPECT_TRUE(dictSession.socketOpen);
        dictSession.closeSocket();
    }
    EXPECT_EQ(countUiCalls("showMessage"), 0);
}

TEST_F(Connection, RestOfASplitGreetingDoesNotRunIntoTheReply)
{
    FakeServer server({inPieces(fakeGreeting, 10, 20) +
                       FakeScript{awaitRequest(), sendText("152 1 match\r\nwn \"x\"\r\n.\r\n250 ok\r\n")}});
    ASSERT_EQ(dictSession.connectToServer(server.host()), 1);
    ASSERT_EQ(dictSession.findMatches("x", "nohost.invalid"), 0);
    ASSERT_EQ(dictSession.matchCount, 1);
    EXPECT_STREQ(dictSession.getMatchDatabase(0), "wn");
}

TEST_F(Connection, RefusedGreetingLeavesTheConnectionForTheRequest)
{
    FakeServer server({{sendText("421 busy\r\n"), awaitRequest(), sendText("552 no match\r\n")}});
    ASSERT_EQ(dictSession.connectToServer(server.host()), 0);
    EXPECT_EQ(dictSession.findMatches("word", server.host()), 15);
    server.stop();
    EXPECT_EQ(server.received(0), "MATCH * exact word\r\n");
}

TEST_F(Connection, UnresolvableHostShowsExactlyOneMessage)
{
    giveSessionDatabaseLines();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dictSession.connectToServer("nohost.invalid"), 0);
    EXPECT_LT(msSince(start), 5000);
    ASSERT_EQ(uiCalls().size(), 1u);
    EXPECT_EQ(uiCalls()[0].function, "showMessage");
    EXPECT_EQ(uiCalls()[0].text, "Couldn't resolve nohost.invalid");
    EXPECT_EQ(uiCalls()[0].owner, nullptr);
    EXPECT_EQ(dictSession.databaseCount, 0);
    // Never connected: nothing is left open, and a request on it fails without a second message.
    EXPECT_FALSE(dictSession.socketOpen);
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "word", "nohost.invalid"), 0);
    EXPECT_EQ(countUiCalls("showMessage"), 2);
}

TEST_F(Connection, RefusedConnectionFailsWithoutMessage)
{
    FakeServer server({});
    ASSERT_TRUE(server.listening());
    std::string host = server.host();
    server.stop();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dictSession.connectToServer(host.c_str()), 0);
    EXPECT_LT(msSince(start), testConnectTimeoutMs + slackMs);
    EXPECT_FALSE(dictSession.socketOpen);
    EXPECT_EQ(countUiCalls("showMessage"), 0);
}

TEST_F(Connection, ConnectThatNeverCompletesTimesOut)
{
    FakeServer server({}, false);
    ASSERT_TRUE(server.listening());
    // The first connection waits in the queue: it stands, but no greeting ever comes.
    EXPECT_EQ(dictSession.connectToServer(server.host()), 0);
    // The queue is full now, so the next connect gets no answer at all.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dictSession.connectToServer(server.host()), 0);
    long long wait = msSince(start);
    EXPECT_GE(wait, testConnectTimeoutMs - 50);
    EXPECT_LT(wait, testConnectTimeoutMs + slackMs);
    EXPECT_FALSE(dictSession.socketOpen);
    EXPECT_EQ(countUiCalls("showMessage"), 0);
}

TEST_F(Connection, SilentServerTimesOut)
{
    FakeServer server({{staySilent()}, {sendText(fakeGreeting), staySilent()}});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dictSession.connectToServer(server.host()), 0);
    long long greetingWait = msSince(start);
    EXPECT_GE(greetingWait, testReceiveTimeoutMs - 50);
    EXPECT_LT(greetingWait, testReceiveTimeoutMs + slackMs);

    ASSERT_EQ(dictSession.connectToServer(server.host()), 1);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(dictSession.readReply(matchRefusals, 3, &reply), replyEnded);
    long long replyWait = msSince(start);
    EXPECT_GE(replyWait, testReceiveTimeoutMs - 50);
    EXPECT_LT(replyWait, testReceiveTimeoutMs + slackMs);
    EXPECT_EQ(reply.length, 0u);
}

TEST_F(Connection, TricklingServerIsBoundedByTheReplyTimeOut)
{
    dictLimits.replyTimeoutMs = 600;
    FakeScript trickle = greetThenAwait();
    for (int i = 0; i < 100; i++)
        trickle = trickle + FakeScript{sendText("x"), pauseFor(50)};
    FakeServer slow({trickle});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readAfterGreeting(slow), replyEnded);
    EXPECT_LT(msSince(start), 600 + slackMs);
    EXPECT_GT(reply.length, 0u);
    EXPECT_LT(reply.length, 100u);
}

TEST_F(Connection, ReplyInManyPiecesEndsAtTheCompletingPiece)
{
    const std::string text = "152 2 matches\r\nwn \"x\"\r\ngcide \"x\"\r\n.\r\n250 ok\r\n";
    // The marker "250 " is split across the last two pieces.
    size_t split = text.find("250 ") + 2;
    FakeServer server({greetThenAwait() + inPieces(text.substr(0, split), 7, 10) +
                       FakeScript{pauseFor(30), sendText(text.substr(split)), staySilent()}});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readAfterGreeting(server), replyComplete);
    EXPECT_LT(msSince(start), testReceiveTimeoutMs);
    EXPECT_EQ(replyText(), text);
    EXPECT_FALSE(dictSession.socketOpen);
}

struct MarkerCase {
    const char* name;
    FakeScript pieces;
    ReplyOutcome expected;
    const char* text;
};

TEST_F(Connection, CompletionAndRefusalMarkers)
{
    const MarkerCase cases[] = {
        {"refusal alone", {sendText("552 no match\r\n")}, replyRefused, "552 no match\r\n"},
        // What would make a case end otherwise comes only after the reply time-out, or never: a slow
        // reader would find it already arrived with what comes before it.
        {"refusal split", inPieces("501 ", 2, 20), replyRefused, "501 "},
        // Reading ends with the byte that completes "250 ", without waiting for the line's end.
        {"one byte at a time", inPieces("152 1 match\r\nwn \"x\"\r\n.\r\n250 ", 1, 2), replyComplete,
         "152 1 match\r\nwn \"x\"\r\n.\r\n250 "},
        {"refusal before 250",
         {sendText("551 bad\r\n"), pauseFor(testReceiveTimeoutMs * 3), sendText("250 ok\r\n")},
         replyRefused,
         "551 bad\r\n"},
        {"refusal and 250 in one piece",
         {sendText("552 none 250 ok\r\n")},
         replyComplete,
         "552 none 250 ok\r\n"},
        {"1250 inside text", {sendText("152 1\r\nwn 1250 x")}, replyComplete, "152 1\r\nwn 1250 x"},
        {"not a caller's marker", {sendText("550 x\r\n"), closeNow()}, replyEnded, "550 x\r\n"},
        {"marker needs its blank", {sendText("552\r\n"), closeNow()}, replyEnded, "552\r\n"},
        {"early close",
         {sendText("152 2 matches\r\nwn \"x\"\r\n"), closeNow()},
         replyEnded,
         "152 2 matches\r\nwn \"x\"\r\n"},
        {"reset",
         {sendText("152 2 matches\r\n"), pauseFor(200), resetNow()},
         replyEnded,
         "152 2 matches\r\n"},
        {"zero byte ends a piece",
         {sendText(std::string("152 a\0junk", 10)), pauseFor(200), sendText("250 ok\r\n")},
         replyComplete,
         "152 a250 ok\r\n"},
    };
    for (const MarkerCase& c : cases) {
        SCOPED_TRACE(c.name);
        resetDictSession();
        releaseReply(&reply);
        FakeServer server({greetThenAwait() + c.pieces + FakeScript{staySilent()}});
        auto start = std::chrono::steady_clock::now();
        ReplyOutcome outcome = readAfterGreeting(server);
        EXPECT_EQ(outcome, c.expected);
        EXPECT_EQ(replyText(), c.text);
        // Complete or refused close the socket; an ended reply leaves it to the caller.
        EXPECT_EQ(dictSession.socketOpen, c.expected == replyEnded);
        EXPECT_LT(msSince(start), testReceiveTimeoutMs + slackMs);
    }
}

TEST_F(Connection, ReplyStopsAtTheCap)
{
    dictLimits.replyCapBytes = 100000;
    FakeServer server({greetThenAwait() + FakeScript{floodWith("0123456789", -1)}});
    EXPECT_EQ(readAfterGreeting(server), replyEnded);
    EXPECT_EQ(reply.length, 100000u);
    EXPECT_TRUE(reply.full);
    EXPECT_EQ(reply.data[reply.length], '\0');
}

TEST_F(Connection, ResolveHostGivesTheHostsAddresses)
{
    NetAddress addresses[netMaxAddresses];
    ASSERT_EQ(dictSession.resolveHost("127.0.1.7", addresses), 1);
    EXPECT_EQ(addresses[0].family, netFamilyIPv4);
    const unsigned char dotted[4] = {127, 0, 1, 7};
    EXPECT_EQ(memcmp(addresses[0].bytes, dotted, 4), 0);
    ASSERT_EQ(dictSession.resolveHost("::1", addresses), 1);
    EXPECT_EQ(addresses[0].family, netFamilyIPv6);
    EXPECT_EQ(addresses[0].bytes[15], 1);
    // localhost gives at least its IPv4 address, whichever the system puts first.
    int count = dictSession.resolveHost("localhost", addresses);
    ASSERT_GE(count, 1);
    bool hasLoopback = false;
    for (int i = 0; i < count; i++)
        hasLoopback = hasLoopback || (addresses[i].family == netFamilyIPv4 && addresses[i].bytes[0] == 127);
    EXPECT_TRUE(hasLoopback);
    EXPECT_EQ(dictSession.resolveHost("nohost.invalid", addresses), 0);
}

TEST_F(Connection, NewConnectionClosesTheOldOneOnce)
{
    FakeServer first({{sendText(fakeGreeting), staySilent()}});
    FakeServer second({{sendText(fakeGreeting), awaitRequest(), sendText("552 no match\r\n")}});
    ASSERT_EQ(dictSession.connectToServer(first.host()), 1);
    ASSERT_EQ(dictSession.connectToServer(second.host()), 1);
    // The first server sees its client go away.
    auto start = std::chrono::steady_clock::now();
    while (!first.clientClosed(0) && msSince(start) < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(first.clientClosed(0));
    EXPECT_EQ(dictSession.findMatches("w", second.host()), 15);
    dictSession.closeSocket();
    dictSession.closeSocket();
    EXPECT_FALSE(dictSession.socketOpen);
}

// The addresses the test gives the host "several.test", in its order; netResolve asks this.
std::vector<std::string> severalAddresses;
const char severalHost[] = "several.test";

int resolveSeveral(const char* host, NetAddress* addresses, int capacity)
{
    if (strcmp(host, severalHost) != 0)
        return 0;
    int count = 0;
    for (const std::string& text : severalAddresses) {
        if (count < capacity && netParseAddress(text.c_str(), &addresses[count]))
            count++;
    }
    return count;
}

class SeveralAddresses : public Connection {
protected:
    void SetUp() override
    {
        Connection::SetUp();
        netResolveHook = resolveSeveral;
    }
    void TearDown() override
    {
        netResolveHook = nullptr;
        Connection::TearDown();
    }
};

// A loopback address on which nothing listens: connecting there is refused at once.
const char refusingAddress[] = "127.0.99.2";

TEST_F(SeveralAddresses, FirstAddressRefusingLeavesTheSecondToServe)
{
    FakeServer server({greetThenAwait()});
    ASSERT_TRUE(server.listening());
    severalAddresses = {refusingAddress, server.host()};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dictSession.connectToServer(severalHost), 1);
    // A refusal starts the next address at once, without waiting out the delay.
    EXPECT_LT(msSince(start), nextAddressDelayMs);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_STREQ(dictSession.wonHost, severalHost);
}

TEST_F(SeveralAddresses, SilentFirstAddressLosesToTheSecondAfterTheDelay)
{
    // A listener that never accepts, its one-place queue taken: connects to it go unanswered.
    FakeServer stuck({}, false);
    FakeServer server({greetThenAwait()});
    ASSERT_TRUE(stuck.listening() && server.listening());
    NetAddress stuckAddress;
    ASSERT_EQ(netParseAddress(stuck.host(), &stuckAddress), 1);
    NetSocket filler = netOpenStream();
    ASSERT_EQ(netConnect(filler, stuckAddress, dictPort, testConnectTimeoutMs), 1);

    severalAddresses = {stuck.host(), server.host()};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dictSession.connectToServer(severalHost), 1);
    long long took = msSince(start);
    EXPECT_GE(took, nextAddressDelayMs - 10);
    EXPECT_LT(took, nextAddressDelayMs + 200);
    EXPECT_EQ(server.connectionCount(), 1);
    netClose(filler);
}

TEST_F(SeveralAddresses, EveryAddressFailingIsNoConnection)
{
    severalAddresses = {refusingAddress, "127.0.99.3"};
    EXPECT_EQ(dictSession.connectToServer(severalHost), 0);
    EXPECT_FALSE(dictSession.socketOpen);
    EXPECT_EQ(countUiCalls("showMessage"), 0);
}

TEST_F(Connection, IPv6LoopbackServesAsHost)
{
    FakeServer server({greetThenAwait()}, true, "::1");
    if (!server.listening())
        GTEST_SKIP() << "this host has no IPv6 loopback to listen on (or ::1 port 2628 is taken)";
    EXPECT_EQ(dictSession.connectToServer("::1"), 1);
    EXPECT_EQ(server.connectionCount(), 1);
}

}  // namespace
