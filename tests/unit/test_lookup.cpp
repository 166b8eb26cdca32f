// Tests of the look-up workflow against scripted DICT servers and scripted answers, and of the text
// rules of the look-up dialogs (captured word, database choice items).
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/netio_wait.h"
#include "tests/unit/fakeserver.h"
#include "tests/unit/profilefile.h"
#include "tests/unit/uidoubles.h"

namespace {

// A loopback address on which nothing listens: connecting there is refused at once.
const char deadHost[] = "127.0.99.1";

const char connectStatusFormat[] = "Trying to connect to DICT server \"%s\"...";
const char notRespondingFormat[] =
    "The dictionary server \"%s\" is not responding.\nWould you like to try the next server in the list?";
const char notFoundFormat[] = "The word \"%s\" was not found in any dictionary on \"%s\"\nWould you like to "
                              "try the next server in the list?";

std::string format1(const char* format, const std::string& a)
{
    char text[1024];
    snprintf(text, sizeof text, format, a.c_str());
    return text;
}

std::string format2(const char* format, const std::string& a, const std::string& b)
{
    char text[1024];
    snprintf(text, sizeof text, format, a.c_str(), b.c_str());
    return text;
}

// One connection of a well-behaved server: greeting, the request, then the reply.
FakeScript answering(const std::string& reply)
{
    return {sendText(fakeGreeting), awaitRequest(), sendText(reply)};
}

std::string matchReply(const std::vector<std::string>& databases, const std::string& word)
{
    std::string reply = "152 " + std::to_string(databases.size()) + " matches found\r\n";
    for (const std::string& database : databases)
        reply += database + " \"" + word + "\"\r\n";
    return reply + ".\r\n250 ok\r\n";
}

std::string databaseReply(const std::vector<std::string>& lines)
{
    std::string reply = "110 " + std::to_string(lines.size()) + " databases present\r\n";
    for (const std::string& line : lines)
        reply += line + "\r\n";
    return reply + ".\r\n250 ok\r\n";
}

std::string definitionReply(const std::string& word, const std::string& database,
                            const std::vector<std::string>& bodies)
{
    std::string reply = "150 " + std::to_string(bodies.size()) + " definitions retrieved\r\n";
    for (const std::string& body : bodies)
        reply += "151 \"" + word + "\" " + database + " \"Some dictionary\"\r\n" + body + "\r\n.\r\n";
    return reply + "250 ok\r\n";
}

const std::vector<std::string> testDatabaseLines = {
    "alpha \"Alpha Dictionary\"",
    "beta \"Beta Dictionary\"",
    "gamma \"Gamma Dictionary\"",
};

// The three connections of a whole look-up on one server: the word matches in databases,
// definitions are served for whichever database is asked.
std::vector<FakeScript> wholeLookUp(const std::string& word, const std::vector<std::string>& databases,
                                    const std::string& definedIn, const std::string& body)
{
    return {answering(matchReply(databases, word)), answering(databaseReply(testDatabaseLines)),
            answering(definitionReply(word, definedIn, {body}))};
}

// Whether the client closes the connection within a second (the server notices it in its own
// time: under an emulator a close can take a while to arrive).
bool closedByClient(FakeServer& server, int connection)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!server.clientClosed(connection) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server.clientClosed(connection);
}

class LookUpWord : public ::testing::Test {
protected:
    void SetUp() override
    {
        removeFile(profileFilePath());
        resetUiDoubles();
        hideDbDialog = false;
        dictLimits = dictDefaultLimits;
        // Every entry points at the dead address unless a test says otherwise, so that nothing
        // can ever reach a server outside this machine.
        for (int i = 0; i < serverCount; i++)
            setServerEntry(i, deadHost);
        writeConfigString("server", "0");
    }
    void TearDown() override
    {
        dictSession.closeSocket();
        dictSession.releaseLists();
        dictLimits = dictDefaultLimits;
        hideDbDialog = false;
        resetUiDoubles();
        removeFile(profileFilePath());
    }
    static void setServerEntry(int index, const char* host)
    {
        char key[32];
        snprintf(key, sizeof key, "server%d", index);
        writeConfigString(key, (std::string(host) + " : a test server").c_str());
    }
    static std::vector<std::string> calledFunctions()
    {
        std::vector<std::string> functions;
        for (const UiCall& call : uiCalls())
            functions.push_back(call.function);
        return functions;
    }
    static std::vector<std::string> questions()
    {
        std::vector<std::string> texts;
        for (const UiCall& call : uiCalls())
            if (call.function == "askYesNo")
                texts.push_back(call.text);
        return texts;
    }
    static std::vector<std::string> statusTexts()
    {
        std::vector<std::string> texts;
        for (const UiCall& call : uiCalls())
            if (call.function == "showStatus")
                texts.push_back(call.text);
        return texts;
    }
};

TEST_F(LookUpWord, OneMatchRunsTheThreeExchangesWithProgressAndNoDialog)
{
    FakeServer server(wholeLookUp("glimmerwort", {"beta"}, "beta", "A small fern."));
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    EXPECT_EQ("MATCH * exact glimmerwort\r\n", server.received(0));
    EXPECT_EQ("show databases\r\n", server.received(1));
    EXPECT_EQ("define beta glimmerwort\r\n", server.received(2));
    ASSERT_EQ(1, dictSession.getDefinitionCount());
    EXPECT_STREQ("A small fern.", dictSession.getDefinition(0));
    EXPECT_FALSE(dictSession.socketOpen);

    // The retrieval status stays up for the viewer to take away.
    std::vector<std::string> expected = {"showStatus", "showStatus", "hideStatus", "showStatus"};
    EXPECT_EQ(expected, calledFunctions());
    std::vector<std::string> texts = {format1(connectStatusFormat, server.host()),
                                      "Finding matches for word...", "Retrieving definitions..."};
    EXPECT_EQ(texts, statusTexts());
    for (const UiCall& call : uiCalls()) {
        if (call.function == "showStatus") {
            EXPECT_EQ(60000, call.milliseconds);
        }
    }
}

TEST_F(LookUpWord, SeveralMatchesFetchFromTheDatabaseTheDialogChose)
{
    FakeServer server(wholeLookUp("glimmerwort", {"alpha", "beta", "gamma"}, "gamma", "Third."));
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    scriptDatabaseChoices({2});

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    EXPECT_EQ(1, countUiCalls("runDatabaseChoiceDialog"));
    EXPECT_EQ("define gamma glimmerwort\r\n", server.received(2));
    EXPECT_STREQ("Third.", dictSession.getDefinition(0));
}

TEST_F(LookUpWord, SeveralMatchesWithTheDialogSwitchedOffUseTheFirst)
{
    FakeServer server(wholeLookUp("glimmerwort", {"beta", "alpha"}, "beta", "Beta's."));
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    hideDbDialog = true;
    scriptDatabaseChoices({1});

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    EXPECT_EQ(0, countUiCalls("runDatabaseChoiceDialog"));
    EXPECT_EQ("define beta glimmerwort\r\n", server.received(2));
}

// Where the first attempt goes for a given `server` value, and where Yes leads after it.
struct StartCase {
    const char* serverValue;
    int firstEntry;  // the entry whose host the first attempt uses
    int nextEntry;   // the entry tried after Yes
};

class LookUpStart : public LookUpWord, public ::testing::WithParamInterface<StartCase> {};

TEST_P(LookUpStart, FirstAttemptAndTheOneAfterYes)
{
    const StartCase& c = GetParam();
    FakeServer server(wholeLookUp("glimmerwort", {"alpha"}, "alpha", "Found."));
    ASSERT_TRUE(server.listening());
    // The entry of the first attempt is dead, so the user is asked; Yes goes on to the next.
    char firstKey[32];
    snprintf(firstKey, sizeof firstKey, "server%d", c.firstEntry);
    writeConfigString(firstKey, "127.0.99.2 : dead");
    setServerEntry(c.nextEntry, server.host());
    writeConfigString("server", c.serverValue);
    scriptYesNoAnswers({1});

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    std::vector<std::string> expectedQuestions = {format1(notRespondingFormat, "127.0.99.2")};
    EXPECT_EQ(expectedQuestions, questions());
    std::vector<std::string> texts = statusTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(format1(connectStatusFormat, "127.0.99.2"), texts[0]);
    EXPECT_EQ(format1(connectStatusFormat, server.host()), texts[1]);
    EXPECT_EQ(3, server.connectionCount());
    // The configured server is not changed by moving on.
    EXPECT_EQ(atoi(c.serverValue), readConfigInt("server", 12345));
}

// -1 forms the key "server-1": the file has no such entry in real use, so it gives the default
// host. Here the test gives it one, so that the attempt stays on this machine and shows which
// key was read.
INSTANTIATE_TEST_SUITE_P(ServerIndex, LookUpStart,
                         ::testing::Values(StartCase{"0", 0, 1}, StartCase{"16", 16, 0},
                                           StartCase{"17", 0, 1}, StartCase{"999", 0, 1},
                                           StartCase{"-1", -1, 0}));

TEST_F(LookUpWord, NoToNotRespondingEndsWithZeroAndNothingElse)
{
    scriptYesNoAnswers({0});

    EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));

    // The status is taken away before the question, and nothing follows the No.
    std::vector<std::string> expected = {"showStatus", "hideStatus", "askYesNo"};
    EXPECT_EQ(expected, calledFunctions());
    EXPECT_EQ(format1(notRespondingFormat, deadHost), questions()[0]);
}

TEST_F(LookUpWord, RefusedGreetingCountsAsNotResponding)
{
    FakeServer server({{sendText("530 access denied\r\n"), staySilent()}});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    std::vector<std::string> expected = {format1(notRespondingFormat, server.host())};
    EXPECT_EQ(expected, questions());
}

TEST_F(LookUpWord, ServerThatGreetsButRefusesTheMatchGetsTheNotFoundQuestion)
{
    FakeServer server({answering("552 no match\r\n")});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    EXPECT_EQ(0, dictSession.lookUpWord("zzzzqx"));
    bool othersClosed = closedByClient(server, 1) && closedByClient(server, 2);
    server.stop();

    std::vector<std::string> expected = {format2(notFoundFormat, "zzzzqx", server.host())};
    EXPECT_EQ(expected, questions());
    EXPECT_TRUE(othersClosed);
    std::vector<std::string> functions = {"showStatus", "showStatus", "hideStatus", "askYesNo"};
    EXPECT_EQ(functions, calledFunctions());
    // The attempt opened its three connections at once; no definitions were asked for.
    ASSERT_EQ(3, server.connectionCount());
    EXPECT_EQ("MATCH * exact zzzzqx\r\n", server.received(0));
    EXPECT_TRUE(server.received(1).empty() || server.received(1) == "show databases\r\n");
    EXPECT_EQ("", server.received(2));
}

TEST_F(LookUpWord, MatchListWithoutEntriesCountsAsNotFound)
{
    FakeServer server(
        {answering("152 0 matches found\r\n.\r\n250 ok\r\n"), answering(databaseReply(testDatabaseLines))});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    std::vector<std::string> expected = {format2(notFoundFormat, "glimmerwort", server.host())};
    EXPECT_EQ(expected, questions());
    EXPECT_EQ(0, countUiCalls("runDatabaseChoiceDialog"));
}

TEST_F(LookUpWord, AfterYesEveryExchangeUsesTheNewServer)
{
    FakeServer first({answering("552 no match\r\n")});
    FakeServer second(wholeLookUp("snorkelbloom", {"alpha", "beta"}, "beta", "A water flower."));
    ASSERT_TRUE(first.listening());
    ASSERT_TRUE(second.listening());
    setServerEntry(0, first.host());
    setServerEntry(1, second.host());
    scriptYesNoAnswers({1});
    scriptDatabaseChoices({1});

    EXPECT_EQ(1, dictSession.lookUpWord("snorkelbloom"));
    first.stop();
    second.stop();

    // Nothing of the first server is used on the second: no definitions were asked there.
    EXPECT_EQ(3, first.connectionCount());
    EXPECT_EQ("MATCH * exact snorkelbloom\r\n", first.received(0));
    EXPECT_EQ("", first.received(2));
    ASSERT_EQ(3, second.connectionCount());
    EXPECT_EQ("MATCH * exact snorkelbloom\r\n", second.received(0));
    EXPECT_EQ("show databases\r\n", second.received(1));
    EXPECT_EQ("define beta snorkelbloom\r\n", second.received(2));
    EXPECT_STREQ("A water flower.", dictSession.getDefinition(0));
    EXPECT_EQ(0, readConfigInt("server", 12345));
}

TEST_F(LookUpWord, YesKeepsCyclingThroughTheListUntilNo)
{
    // Seventeen dead entries and then entry 0 again: the list has no end, only the answer ends it.
    scriptYesNoAnswers(std::vector<int>(serverCount, 1));

    EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));

    EXPECT_EQ(serverCount + 1, countUiCalls("askYesNo"));
}

TEST_F(LookUpWord, FailedRetrievalEndsWithZeroWithoutQuestionAndTakesTheStatusAway)
{
    FakeServer server({answering(matchReply({"alpha"}, "glimmerwort")),
                       answering(databaseReply(testDatabaseLines)), answering("550 invalid database\r\n")});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    EXPECT_EQ(0, countUiCalls("askYesNo"));
    ASSERT_FALSE(uiCalls().empty());
    EXPECT_EQ("hideStatus", uiCalls().back().function);
}

TEST_F(LookUpWord, SilentServerIsGivenUpWithinTheTimeOut)
{
    FakeServer server({{staySilent()}});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    dictLimits.receiveTimeoutMs = 300;
    dictLimits.replyTimeoutMs = 300;

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));
    auto elapsed = std::chrono::steady_clock::now() - start;
    server.stop();

    std::vector<std::string> expected = {format1(notRespondingFormat, server.host())};
    EXPECT_EQ(expected, questions());
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(LookUpWord, WordGoesOutUnchangedAndIntoTheQuestionWhole)
{
    // A captured word can be as long as 255 bytes and need not be ASCII.
    std::string longWord = "caf\xC3\xA9" + std::string(250, 'x');
    ASSERT_EQ(255u, longWord.size());
    FakeServer server({answering("552 no match\r\n")});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    EXPECT_EQ(0, dictSession.lookUpWord(longWord.c_str()));
    server.stop();

    EXPECT_EQ("MATCH * exact " + longWord + "\r\n", server.received(0));
    std::vector<std::string> expected = {format2(notFoundFormat, longWord, server.host())};
    EXPECT_EQ(expected, questions());
}

// A look-up's three connections are opened together and each request goes out as soon as it
// stands. Each of these servers waits for its request before it greets, and then sends the
// greeting and the reply in one piece: a client that waited for a greeting would stall for the
// server's request wait (5 s), and one that dropped what follows a greeting would lose the reply.
TEST_F(LookUpWord, RequestsGoOutBeforeTheGreetingsEachAloneOnItsConnection)
{
    auto greetLate = [](const std::string& reply) {
        return FakeScript{awaitRequest(), pauseFor(200), sendText(std::string(fakeGreeting) + reply)};
    };
    FakeServer server({greetLate(matchReply({"beta"}, "glimmerwort")),
                       greetLate(databaseReply(testDatabaseLines)),
                       greetLate(definitionReply("glimmerwort", "beta", {"A small fern."}))});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    auto elapsed = std::chrono::steady_clock::now() - start;
    server.stop();

    ASSERT_EQ(3, server.connectionCount());
    EXPECT_EQ("MATCH * exact glimmerwort\r\n", server.received(0));
    EXPECT_EQ("show databases\r\n", server.received(1));
    EXPECT_EQ("define beta glimmerwort\r\n", server.received(2));
    ASSERT_EQ(1, dictSession.getDefinitionCount());
    EXPECT_STREQ("A small fern.", dictSession.getDefinition(0));
    // The three greetings' pauses overlap: one after the other they would take 600 ms alone.
    EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
    std::vector<std::string> texts = {format1(connectStatusFormat, server.host()),
                                      "Finding matches for word...", "Retrieving definitions..."};
    EXPECT_EQ(texts, statusTexts());
}

// While the user chooses a database the definitions connection lies idle; a server that ends it
// meanwhile must not cost the look-up: the request goes out on a new connection instead.
TEST_F(LookUpWord, IdleDefinitionsConnectionEndedByTheServerIsReplaced)
{
    FakeServer server(
        {answering(matchReply({"alpha", "beta"}, "glimmerwort")),
         {sendText(fakeGreeting), awaitRequest(), pauseFor(100), sendText(databaseReply(testDatabaseLines))},
         {sendText(fakeGreeting), closeNow()},
         answering(definitionReply("glimmerwort", "beta", {"Second."}))});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    scriptDatabaseChoices({1});

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    ASSERT_EQ(4, server.connectionCount());
    EXPECT_EQ("", server.received(2));
    EXPECT_EQ("define beta glimmerwort\r\n", server.received(3));
    EXPECT_STREQ("Second.", dictSession.getDefinition(0));
    EXPECT_EQ(0, countUiCalls("askYesNo"));
}

// A server that takes one connection of a client at a time turns the two opened ahead away;
// their requests then go on new connections once the earlier ones are done, and the look-up
// ends as it did with one connection after the other.
TEST_F(LookUpWord, ConnectionsTurnedAwayAheadAreOpenedAgainInTurn)
{
    const FakeScript busy = {sendText("420 server temporarily unavailable\r\n"), closeNow()};
    FakeServer server({answering(matchReply({"beta"}, "glimmerwort")), busy, busy,
                       answering(databaseReply(testDatabaseLines)),
                       answering(definitionReply("glimmerwort", "beta", {"A small fern."}))});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    ASSERT_EQ(5, server.connectionCount());
    EXPECT_EQ("show databases\r\n", server.received(3));
    EXPECT_EQ("define beta glimmerwort\r\n", server.received(4));
    ASSERT_EQ(1, dictSession.getDefinitionCount());
    EXPECT_STREQ("A small fern.", dictSession.getDefinition(0));
    EXPECT_EQ(0, countUiCalls("askYesNo"));
}

// The first connection's greeting decides "is not responding", as a lone connection's did; the
// other two are closed by the time the question is asked, and none carried a definitions request.
// Every case ends within the time-outs.
TEST_F(LookUpWord, FirstGreetingDecidesNotRespondingAndTheOthersAreClosedFirst)
{
    struct Case {
        const char* name;
        std::vector<FakeScript> scripts;
        bool accepting;
    };
    const std::vector<Case> cases = {
        {"refused greeting",
         {{sendText("530 access denied\r\n"), staySilent()}, {staySilent()}, {staySilent()}},
         true},
        {"no greeting", {{staySilent()}, {staySilent()}, {staySilent()}}, true},
        {"greeting cut off", {{sendText("22"), staySilent()}, {staySilent()}, {staySilent()}}, true},
        // Never accepted: the first connect completes into the queue, the others go unanswered.
        {"not accepting", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetUiDoubles();
        dictLimits.connectTimeoutMs = testConnectTimeoutMs;
        dictLimits.receiveTimeoutMs = testReceiveTimeoutMs;
        FakeServer server(c.scripts, c.accepting);
        ASSERT_TRUE(server.listening());
        setServerEntry(0, server.host());
        bool othersClosed = false;
        onQuestion(
            [&] { othersClosed = !c.accepting || (closedByClient(server, 1) && closedByClient(server, 2)); });

        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));
        auto elapsed = std::chrono::steady_clock::now() - start;
        server.stop();

        std::vector<std::string> expected = {format1(notRespondingFormat, server.host())};
        EXPECT_EQ(expected, questions());
        EXPECT_TRUE(othersClosed);
        if (c.accepting) {
            EXPECT_EQ(3, server.connectionCount());
            EXPECT_EQ("", server.received(2));
        }
        EXPECT_LT(elapsed, std::chrono::milliseconds(testConnectTimeoutMs + testReceiveTimeoutMs + 1500));
    }
}

// A server that greets and then falls silent on the database list or the definitions still lets
// the look-up end within the time-outs, with the old outcome of each step.
TEST_F(LookUpWord, SilenceAfterTheGreetingsEndsWithinTheTimeOuts)
{
    struct Case {
        const char* name;
        std::vector<FakeScript> scripts;
        int result;
        int questionCount;
    };
    const FakeScript greetThenSilence = {sendText(fakeGreeting), staySilent()};
    const std::vector<Case> cases = {
        {"silent matches", {greetThenSilence, greetThenSilence, greetThenSilence}, 0, 1},
        {"silent database list",
         {answering(matchReply({"beta"}, "glimmerwort")), greetThenSilence,
          answering(definitionReply("glimmerwort", "beta", {"Fern."}))},
         1,
         0},
        {"silent definitions",
         {answering(matchReply({"beta"}, "glimmerwort")), answering(databaseReply(testDatabaseLines)),
          greetThenSilence},
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetUiDoubles();
        useTestLimits();
        FakeServer server(c.scripts);
        ASSERT_TRUE(server.listening());
        setServerEntry(0, server.host());

        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.result, dictSession.lookUpWord("glimmerwort"));
        auto elapsed = std::chrono::steady_clock::now() - start;
        server.stop();

        EXPECT_EQ(c.questionCount, countUiCalls("askYesNo"));
        // Each step waits one reply time-out at most, and the steps' waits overlap.
        EXPECT_LT(elapsed, std::chrono::milliseconds(testReplyTimeoutMs + testReceiveTimeoutMs + 1500));
    }
}

// The handles the process holds open (sockets among them); -1 when the system cannot tell.
int openHandleCount()
{
#ifdef _WIN32
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? (int)count : -1;
#else
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr)
        return -1;
    int count = 0;
    while (readdir(folder) != nullptr)
        count++;
    closedir(folder);
    return count;
#endif
}

// The user's cancel, given while the client waits: cancelLookUp once cancelAfter has passed.
std::chrono::steady_clock::time_point cancelDue;
std::chrono::steady_clock::time_point cancelledAt;
bool cancelGiven;
void cancelWhenDue()
{
    if (!cancelGiven && std::chrono::steady_clock::now() >= cancelDue) {
        cancelGiven = true;
        cancelledAt = std::chrono::steady_clock::now();
        cancelLookUp();
    }
}

// A look-up cancelled while it waits, whichever exchange it waits for, ends at once: its
// connections are closed, no question or message comes and nothing more is shown; the next
// look-up works as usual. The program's own time-outs stay as they are.
TEST_F(LookUpWord, CancelAtEachStepEndsTheLookUpAtOnceAndLeaksNothing)
{
    struct Case {
        const char* name;
        std::vector<FakeScript> scripts;
        bool connectsHang;  // the listener never accepts and its queue is taken
        int cancelAfterMs;
    };
    const FakeScript greetThenSilence = {sendText(fakeGreeting), staySilent()};
    const std::vector<Case> cases = {
        {"connect", {}, true, 300},
        // Long enough for the waiting status to count two seconds.
        {"greeting", {{staySilent()}, {staySilent()}, {staySilent()}}, false, 2300},
        {"matches", {greetThenSilence, greetThenSilence, greetThenSilence}, false, 300},
        {"database list",
         {answering(matchReply({"beta", "gamma"}, "glimmerwort")), greetThenSilence, greetThenSilence},
         false,
         300},
        {"definitions",
         {answering(matchReply({"beta"}, "glimmerwort")), answering(databaseReply(testDatabaseLines)),
          greetThenSilence},
         false,
         300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetUiDoubles();
        dictLimits = dictDefaultLimits;
        int handlesBefore = openHandleCount();
        {
            FakeServer server(c.scripts, !c.connectsHang);
            ASSERT_TRUE(server.listening());
            NetSocket filler = netInvalidSocket;
            if (c.connectsHang) {
                NetAddress address;
                ASSERT_EQ(1, netParseAddress(server.host(), &address));
                filler = netOpenStream();
                ASSERT_EQ(1, netConnect(filler, address, dictPort, testConnectTimeoutMs));
            }
            setServerEntry(0, server.host());
            cancelGiven = false;
            cancelDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(c.cancelAfterMs);
            netWaitHook = cancelWhenDue;
            int result = dictSession.lookUpWord("glimmerwort");
            auto ended = std::chrono::steady_clock::now();
            netWaitHook = nullptr;

            EXPECT_EQ(0, result);
            ASSERT_TRUE(cancelGiven);
            EXPECT_LT(ended - cancelledAt, std::chrono::milliseconds(100));
            EXPECT_FALSE(dictSession.socketOpen);
            EXPECT_EQ(0, countUiCalls("askYesNo"));
            EXPECT_EQ(0, countUiCalls("showMessage"));
            EXPECT_EQ("hideStatus", uiCalls().back().function);
            if (c.cancelAfterMs > 2000) {
                std::vector<std::string> texts = statusTexts();
                std::string waiting = "Waiting for " + std::string(server.host()) + "\xE2\x80\xA6 ";
                ASSERT_EQ(3u, texts.size());
                EXPECT_EQ(waiting + "1 s", texts[1]);
                EXPECT_EQ(waiting + "2 s", texts[2]);
            }
            netClose(filler);
            server.stop();
        }
        if (handlesBefore >= 0) {
            EXPECT_EQ(handlesBefore, openHandleCount());
        }
    }
    // The next look-up works as usual.
    resetUiDoubles();
    FakeServer server(wholeLookUp("glimmerwort", {"beta"}, "beta", "A small fern."));
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    EXPECT_EQ(0, countUiCalls("askYesNo"));
}

// A host whose first address refuses: the look-up's three connections all go to the address that
// served.
TEST_F(LookUpWord, EveryConnectionGoesToTheAddressThatServed)
{
    FakeServer server(wholeLookUp("glimmerwort", {"beta"}, "beta", "A small fern."));
    ASSERT_TRUE(server.listening());
    static std::string servingHost;
    static int resolutions;
    servingHost = server.host();
    resolutions = 0;
    netResolveHook = [](const char* host, NetAddress* addresses, int capacity) {
        resolutions++;
        if (strcmp(host, "two.test") != 0 || capacity < 2)
            return 0;
        netParseAddress(deadHost, &addresses[0]);
        netParseAddress(servingHost.c_str(), &addresses[1]);
        return 2;
    };
    setServerEntry(0, "two.test");
    int result = dictSession.lookUpWord("glimmerwort");
    netResolveHook = nullptr;
    server.stop();
    EXPECT_EQ(1, result);
    EXPECT_EQ(3, server.connectionCount());
    EXPECT_EQ("define beta glimmerwort\r\n", server.received(2));
    // The name was resolved once: the later connections went straight to the address that won.
    EXPECT_EQ(1, resolutions);
}

// The whole workflow against the local dictd that scripts/test starts (LEXITRAY_REAL_DICTD holds
// its address): the word is in both test databases, and the second one is chosen.
TEST_F(LookUpWord, RealDictdServesTheChosenDatabase)
{
    const char* address = getenv("LEXITRAY_REAL_DICTD");
    if (address == nullptr || address[0] == '\0')
        GTEST_SKIP()
            << "LEXITRAY_REAL_DICTD is not set: no local dictd was started (scripts/test starts one)";
    setServerEntry(0, address);
    scriptDatabaseChoices({1});

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));

    EXPECT_EQ(1, countUiCalls("runDatabaseChoiceDialog"));
    ASSERT_EQ(2, dictSession.getMatchCount());
    EXPECT_STREQ("lexitest2", dictSession.getMatchDatabase(1));
    ASSERT_EQ(1, dictSession.getDefinitionCount());
    EXPECT_STREQ("glimmerwort n. (second dictionary) An old word for the glow of fireflies over a meadow.",
                 dictSession.getDefinition(0));
}

// The captured word: the clipboard text up to its first blank, at most 255 bytes, whole characters.
struct CaptureCase {
    const char* name;
    std::string text;
    std::string word;
};

class CapturedWord : public ::testing::TestWithParam<CaptureCase> {};

TEST_P(CapturedWord, IsTheTextUpToTheFirstBlank)
{
    const CaptureCase& c = GetParam();
    char word[wordBufferSize];
    memset(word, '#', sizeof word);
    takeCapturedWord(c.text.data(), c.text.size(), word, wordBufferSize);
    EXPECT_EQ(c.word, word);
}

INSTANTIATE_TEST_SUITE_P(
    Clipboard, CapturedWord,
    ::testing::Values(
        CaptureCase{"TwoWords", "glimmer wort", "glimmer"}, CaptureCase{"LeadingBlank", " glimmer", ""},
        CaptureCase{"TabEndsIt", "glimmer\twort", "glimmer"},
        CaptureCase{"LineBreakEndsIt", "glimmer\r\nwort", "glimmer"},
        CaptureCase{"LoneLineFeedEndsIt", "glimmer\nQUIT", "glimmer"}, CaptureCase{"Empty", "", ""},
        CaptureCase{"FortyCharacters", std::string(40, 'q'), std::string(40, 'q')},
        CaptureCase{"CutTo255", std::string(300, 'q'), std::string(255, 'q')},
        CaptureCase{"NoSplitCharacter", std::string(254, 'q') + "\xC3\xA9", std::string(254, 'q')},
        CaptureCase{"NonAscii", "caf\xC3\xA9 au lait", "caf\xC3\xA9"}),
    [](const ::testing::TestParamInfo<CaptureCase>& info) { return std::string(info.param.name); });

TEST(Utf8Prefix, NeverEndsInsideACharacter)
{
    const char text[] = "a\xE2\x80\x9C"
                        "b";  // a, a left quotation mark (3 bytes), b
    EXPECT_EQ(5u, utf8PrefixLength(text, 5, 10));
    EXPECT_EQ(4u, utf8PrefixLength(text, 5, 4));
    EXPECT_EQ(1u, utf8PrefixLength(text, 5, 3));
    EXPECT_EQ(1u, utf8PrefixLength(text, 5, 2));
    EXPECT_EQ(0u, utf8PrefixLength(text, 5, 0));
}

TEST(CapturedWordBuffer, TinyCapacitiesStayInBounds)
{
    char word[2] = {'#', '#'};
    takeCapturedWord("glimmer", 7, word, 1);
    EXPECT_EQ('\0', word[0]);
    EXPECT_EQ('#', word[1]);
    takeCapturedWord("glimmer", 7, word, 0);  // nothing written at all
    EXPECT_EQ('#', word[1]);
}

// What the viewer shows of a definition: all of it up to the limit, else a head cut cleanly
// and a line that counts exactly the bytes left out.
TEST(ShownDefinition, GiantDefinitionsShowAHeadAndWhatWasLeftOut)
{
    struct Case {
        const char* name;
        std::string text;
        size_t limit;
        std::string head;  // what is shown before the note; the whole text when nothing is left out
        bool cut;
    };
    const std::string lines = "one\r\ntwo\r\nthree\r\nfour\r\n";  // line ends after 5, 10, 17, 23 bytes
    const std::string e = "\xC3\xA9";                             // one character, two bytes
    const std::vector<Case> cases = {
        {"fits", lines, lines.size(), lines, false},
        {"at the last line end", lines, 20, "one\r\ntwo\r\nthree\r\n", true},
        // A line end too far back would throw away most of the head: the cut keeps characters whole.
        {"line end too far back", "ab\r\n" + std::string(40, 'x'), 30, "ab\r\n" + std::string(26, 'x'), true},
        {"not inside a character", std::string(9, 'x') + e + "yyyy", 10, std::string(9, 'x'), true},
        {"character ends at the cut", std::string(8, 'x') + e + "yyyy", 10, std::string(8, 'x') + e, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char* shown = newShownDefinition(c.text.data(), c.text.size(), c.limit);
        std::string text = shown;
        delete[] shown;
        if (!c.cut) {
            EXPECT_EQ(c.text, text);
            continue;
        }
        ASSERT_EQ(c.head, text.substr(0, c.head.size()));
        std::string note = text.substr(c.head.size());
        std::string count = std::to_string(c.text.size() - c.head.size());
        EXPECT_NE(std::string::npos,
                  note.find("[The rest of this definition, " + count + " bytes, is not shown.]"))
            << note;
        // The note stands on a line of its own after a blank line.
        EXPECT_EQ(0u, note.find(c.head.back() == '\n' ? "\r\n[" : "\r\n\r\n[")) << note;
    }
}

// The items of the database choice dialog, built from a session's matches and database lines.
struct ChoiceCase {
    const char* name;
    std::vector<std::string> matches;
    std::vector<std::string> lines;
    std::vector<std::string> items;  // descriptions, in list order
    std::vector<int> matchIndexes;   // the match each item stands for
};

class DatabaseChoices : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(DatabaseChoices, OneItemPerNewDescriptionInMatchOrder)
{
    const ChoiceCase& c = GetParam();
    std::vector<char*> names, lines;
    for (const std::string& m : c.matches)
        names.push_back(const_cast<char*>(m.c_str()));
    for (const std::string& l : c.lines)
        lines.push_back(const_cast<char*>(l.c_str()));
    DictSession session = {};
    session.matchDatabases = names.data();
    session.matchCount = static_cast<int>(names.size());
    session.databaseLines = lines.empty() ? nullptr : lines.data();
    session.databaseCount = static_cast<int>(lines.size());

    std::vector<DatabaseChoice> choices(c.matches.size() + 1);
    int count = buildDatabaseChoices(session, choices.data(), static_cast<int>(c.matches.size()));

    std::vector<std::string> items;
    std::vector<int> indexes;
    for (int i = 0; i < count; i++) {
        items.push_back(choices[i].description);
        indexes.push_back(choices[i].matchIndex);
    }
    EXPECT_EQ(c.items, items);
    EXPECT_EQ(c.matchIndexes, indexes);
}

const std::vector<std::string> abLines = {"a \"Dictionary A\"", "b \"Dictionary B\""};

INSTANTIATE_TEST_SUITE_P(
    Matches, DatabaseChoices,
    ::testing::Values(ChoiceCase{"ABA", {"a", "b", "a"}, abLines, {"Dictionary A", "Dictionary B"}, {0, 1}},
                      ChoiceCase{"TwoInOne", {"a", "a"}, abLines, {"Dictionary A"}, {0}},
                      ChoiceCase{"AAB", {"a", "a", "b"}, abLines, {"Dictionary A", "Dictionary B"}, {0, 2}},
                      // A later description that begins an earlier item, ignoring case, adds nothing.
                      ChoiceCase{"PrefixOfEarlier",
                                 {"long", "short"},
                                 {"long \"Word List Extra\"", "short \"word list\""},
                                 {"Word List Extra"},
                                 {0}},
                      ChoiceCase{
                          "EqualIgnoringCase", {"x", "y"}, {"x \"Same\"", "y \"SAME\""}, {"Same"}, {0}},
                      // An earlier item that is only the beginning of a later description does not hide it.
                      ChoiceCase{"LongerThanEarlier",
                                 {"short", "long"},
                                 {"short \"Word List\"", "long \"Word List Extra\""},
                                 {"Word List", "Word List Extra"},
                                 {0, 1}},
                      // The name is found anywhere in a line, also inside an earlier line's description.
                      ChoiceCase{"NameInsideEarlierLine",
                                 {"wn", "gcide"},
                                 {"gcide \"Words from wn and more\"", "wn \"WordNet\""},
                                 {"Words from wn and more"},
                                 {0}},
                      // A match without a line, or without any database list, shows its name.
                      ChoiceCase{"NoLineForMatch", {"a", "zz"}, abLines, {"Dictionary A", "zz"}, {0, 1}},
                      ChoiceCase{"NoDatabaseList", {"a", "b"}, {}, {"a", "b"}, {0, 1}},
                      // Lines too short for a description keep the name.
                      ChoiceCase{"LineWithoutBlank", {"xyz", "b"}, {"xyz", "b \"B\""}, {"xyz", "B"}, {0, 1}},
                      ChoiceCase{"EmptyDescription", {"a", "b"}, {"a \"\"", "b \"B\""}, {"a", "B"}, {0, 1}}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

TEST(DatabaseChoiceItems, CapacityBoundsTheItems)
{
    std::vector<std::string> matches = {"a", "b", "c"};
    std::vector<char*> names;
    for (const std::string& m : matches)
        names.push_back(const_cast<char*>(m.c_str()));
    DictSession session = {};
    session.matchDatabases = names.data();
    session.matchCount = 3;
    DatabaseChoice choices[3];
    choices[2].matchIndex = -7;
    EXPECT_EQ(2, buildDatabaseChoices(session, choices, 2));
    EXPECT_EQ(-7, choices[2].matchIndex);
}

}  // namespace
