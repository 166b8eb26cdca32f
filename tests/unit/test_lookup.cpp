// Tests of the look-up workflow against scripted DICT servers and scripted answers, and of the text
// rules of the look-up dialogs (captured word, database choice items) and of the viewer (caption,
// followed word, history).
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "core/baseforms.h"
#include "core/dictsession.h"
#include "core/offlinedict.h"
#include "core/lookuptext.h"
#include "core/userinterface.h"
#include "core/netio_wait.h"
#include "core/viewertext.h"
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
        dictSession.tryBaseForms = false;
        dictSession.trySuggestions = false;
        dictSession.keptDatabase[0] = '\0';
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
    static std::vector<std::string> callTexts(const char* function)
    {
        std::vector<std::string> texts;
        for (const UiCall& call : uiCalls())
            if (call.function == function)
                texts.push_back(call.text);
        return texts;
    }
    static std::vector<std::string> questions() { return callTexts("askYesNo"); }
    static std::vector<std::string> statusTexts() { return callTexts("showStatus"); }
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

// A word kept from an earlier run goes back to its own database; one that no longer matches is asked for.
TEST_F(LookUpWord, KeptWordTakesItsDatabaseWithoutAsking)
{
    for (const char* kept : {"gamma", "delta"}) {
        resetUiDoubles();
        FakeServer server(wholeLookUp("glimmerwort", {"alpha", "beta", "gamma"}, "gamma", "Third."));
        setServerEntry(0, server.host());
        scriptDatabaseChoices({2});
        snprintf(dictSession.keptDatabase, dictSlotSize, "%s", kept);
        EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
        server.stop();
        EXPECT_EQ(strcmp(kept, "delta") == 0 ? 1 : 0, countUiCalls("runDatabaseChoiceDialog")) << kept;
        EXPECT_EQ("define gamma glimmerwort\r\n", server.received(2));
    }
    // Offline as it was kept: the same word in two offline dictionaries, the second one taken.
    static const std::string text = "friend\n   A person you know well.\n", index = "friend\tA\ti\n";
    unloadOfflineDictionaries();
    for (const char* name : {"lexi", "lexa"})
        ASSERT_TRUE(addOfflineDictionaryFromMemory(name, index.data(), index.size(), text.data(), text.size(),
                                                   false));
    resetUiDoubles();
    snprintf(dictSession.keptDatabase, dictSlotSize, "lexa");
    EXPECT_EQ(1, dictSession.lookUpWordFrom("friend", offlineServerIndex));
    EXPECT_EQ(0, countUiCalls("runDatabaseChoiceDialog"));
    EXPECT_STREQ("lexa", dictSession.shownDatabase);
    unloadOfflineDictionaries();
}

TEST(DefinitionSources, EachHeaderNamesItsDictionary)
{
    const struct {
        std::string header;
        std::string source;
    } cases[] = {
        {"151 \"w\" wn \"WordNet (r) 3.0\"", "WordNet (r) 3.0"},
        {"151 \"two words\"  gcide   \"GCIDE\"", "GCIDE"},
        {"151 \"w\" wn", "wn"},
        {"151 \"w\" wn \"\"", "wn"},
        {"151 \"w\" wn \"unclosed", "wn"},
        {"151 \"w\"", ""},
        {"151 w", ""},
        {"151 \"w\" x \"" + std::string(100, 'd') + "\"", std::string(dictSlotSize - 1, 'd')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        std::string reply =
            std::string("150 1 definitions retrieved\r\n") + c.header + "\r\nbody\r\n.\r\n250 ok\r\n";
        char** texts = nullptr;
        char(*sources)[dictSlotSize] = nullptr;
        ASSERT_EQ(1, cutDefinitionTexts(reply.data(), reply.size(), &texts, &sources));
        ASSERT_NE(nullptr, sources);
        EXPECT_EQ(c.source, sources[0]);
        EXPECT_STREQ("body", texts[0]);
        releaseTextList(texts, 1);
        delete[] sources;
    }
}

TEST_F(LookUpWord, AllOnOnePageAsksNoChoiceAndKeepsEachDefinitionsDictionary)
{
    std::string both =
        "150 2 definitions retrieved\r\n151 \"glimmerwort\" beta \"Beta Dictionary\"\r\nB.\r\n.\r\n"
        "151 \"glimmerwort\" alpha\r\nA.\r\n.\r\n250 ok\r\n";
    FakeServer server({answering(matchReply({"beta", "alpha"}, "glimmerwort")),
                       answering(databaseReply(testDatabaseLines)), answering(both)});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    writeConfigString("onepage", "1");
    scriptDatabaseChoices({1});

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    EXPECT_EQ(0, countUiCalls("runDatabaseChoiceDialog"));
    EXPECT_EQ("define * glimmerwort\r\n", server.received(2));
    ViewerPage page = {};
    takeViewerPage(dictSession, &page);
    ASSERT_EQ(2, page.definitionCount);
    EXPECT_STREQ("Beta Dictionary", definitionSource(page, 0));
    EXPECT_STREQ("alpha", definitionSource(page, 1));            // no description on its line: the name
    EXPECT_STREQ("Beta Dictionary", definitionSource(page, 2));  // none such: the page's
    EXPECT_EQ(nullptr, dictSession.definitionSources);
    // A recent word keeps each definition's dictionary.
    RecentWords recent = {};
    ASSERT_TRUE(rememberRecentWord(&recent, page));
    ViewerPage again = {};
    ASSERT_TRUE(copyRecentWord(recent, 0, &again));
    EXPECT_STREQ("alpha", definitionSource(again, 1));
    releaseViewerPage(&again);
    releaseRecentWords(&recent);
    releaseViewerPage(&page);
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
    EXPECT_EQ(0u, server.received(0).find("MATCH * exact zzzzqx\r\n"));
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
    EXPECT_EQ(0u, first.received(0).find("MATCH * exact snorkelbloom\r\n"));
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

    EXPECT_EQ(0u, server.received(0).find("MATCH * exact " + longWord + "\r\n"));
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
// meanwhile must not cost the look-up, nor the user's time the attempt's deadline: the request goes
// out on a new connection instead.
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
    // The user takes longer to choose than the whole attempt may last.
    dictLimits.attemptTimeoutMs = 300;
    onDatabaseChoice([] { std::this_thread::sleep_for(std::chrono::milliseconds(500)); });

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    ASSERT_EQ(4, server.connectionCount());
    EXPECT_EQ("", server.received(2));
    EXPECT_EQ("define beta glimmerwort\r\n", server.received(3));
    ASSERT_EQ(1, dictSession.getDefinitionCount());
    EXPECT_STREQ("Second.", dictSession.getDefinition(0));
    EXPECT_EQ(0, countUiCalls("askYesNo"));
}

// A definitions connection opened ahead that is lost while the user chooses a database (a NAT
// or firewall that forgets it says nothing: the request then meets silence, a reset or the
// connection's end) does not end the look-up: the request goes once more on a new connection,
// and the first try waits no longer than the receive time-out, not the whole reply time-out.
TEST_F(LookUpWord, DefinitionsLostOnTheConnectionOpenedAheadComeThroughANewOne)
{
    struct Case {
        const char* name;
        FakeStep end;
    };
    const std::vector<Case> cases = {{"silent", staySilent()}, {"reset", resetNow()}, {"closed", closeNow()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetUiDoubles();
        useTestLimits();
        FakeServer server({answering(matchReply({"alpha", "beta"}, "glimmerwort")),
                           answering(databaseReply(testDatabaseLines)),
                           {sendText(fakeGreeting), awaitRequest(), c.end},
                           answering(definitionReply("glimmerwort", "beta", {"Second."}))});
        ASSERT_TRUE(server.listening());
        setServerEntry(0, server.host());
        scriptDatabaseChoices({1});
        int connectionsWhileChoosing = 0;
        onDatabaseChoice([&] { connectionsWhileChoosing = server.connectionCountOnceAccepted(3, 1000); });

        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
        auto elapsed = std::chrono::steady_clock::now() - start;
        server.stop();

        EXPECT_EQ(3, connectionsWhileChoosing);
        ASSERT_EQ(4, server.connectionCount());
        EXPECT_EQ("define beta glimmerwort\r\n", server.received(2));
        EXPECT_EQ("define beta glimmerwort\r\n", server.received(3));
        ASSERT_EQ(1, dictSession.getDefinitionCount());
        EXPECT_STREQ("Second.", dictSession.getDefinition(0));
        EXPECT_EQ(0, countUiCalls("askYesNo"));
        EXPECT_EQ(0, countUiCalls("showMessage"));
        EXPECT_LT(elapsed, std::chrono::milliseconds(testReplyTimeoutMs));
    }
}

// A definitions connection opened ahead that has waited longer than a server is likely to keep
// it idle is not used at all, even one that would still answer: a new connection carries the
// request. The user's time at the choice, longer than the attempt's deadline, does not count.
TEST_F(LookUpWord, DefinitionsConnectionOlderThanTheIdleLimitIsReplacedBeforeUse)
{
    const int idleLimitMs = 300;
    dictLimits.attemptTimeoutMs = idleLimitMs;
    FakeServer server({answering(matchReply({"alpha", "beta"}, "glimmerwort")),
                       answering(databaseReply(testDatabaseLines)),
                       answering(definitionReply("glimmerwort", "beta", {"From the old connection."})),
                       answering(definitionReply("glimmerwort", "beta", {"From a new connection."}))});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    dictLimits.aheadIdleLimitMs = idleLimitMs;
    scriptDatabaseChoices({1});
    onDatabaseChoice([] { std::this_thread::sleep_for(std::chrono::milliseconds(idleLimitMs + 200)); });

    EXPECT_EQ(1, dictSession.lookUpWord("glimmerwort"));
    server.stop();

    ASSERT_EQ(4, server.connectionCount());
    EXPECT_EQ("", server.received(2));
    EXPECT_TRUE(closedByClient(server, 2));
    EXPECT_EQ("define beta glimmerwort\r\n", server.received(3));
    ASSERT_EQ(1, dictSession.getDefinitionCount());
    EXPECT_STREQ("From a new connection.", dictSession.getDefinition(0));
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
                // The seconds go to the quiet waiting status, never to a new notification each.
                EXPECT_EQ(1u, statusTexts().size());
                std::string waiting = "Waiting for " + std::string(server.host()) + "\xE2\x80\xA6 ";
                std::vector<std::string> seconds = {waiting + "1 s", waiting + "2 s"};
                EXPECT_EQ(seconds, callTexts("showWaitingStatus"));
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

// A look-up cancelled while the user chooses a database (the program answers the open choice at once
// then) ends with nothing: no definitions request goes out, not even on the connection opened ahead,
// every connection is closed, and what the offline dictionaries found is dropped as well.
TEST_F(LookUpWord, CancelledAtTheChoiceFetchesAndReturnsNothing)
{
    FakeServer server({answering(matchReply({"alpha", "beta"}, "glimmerwort")),
                       answering(databaseReply(testDatabaseLines)),
                       answering(definitionReply("glimmerwort", "alpha", {"First."}))});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    onDatabaseChoice([] { cancelLookUp(); });

    EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));
    EXPECT_TRUE(closedByClient(server, 2));
    server.stop();
    EXPECT_EQ(3, server.connectionCount());
    EXPECT_EQ("", server.received(2));
    EXPECT_FALSE(dictSession.socketOpen);
    EXPECT_EQ(0, countUiCalls("askYesNo"));
    for (const UiCall& call : uiCalls())
        EXPECT_NE("Retrieving definitions...", call.text);

    // The same word in two offline dictionaries: the choice comes without any wait on the network.
    static const std::string text = "friend\n   A person you know well.\n",
                             index = "friend\tA\ti\n";  // its 34 bytes from 0
    unloadOfflineDictionaries();
    ASSERT_TRUE(
        addOfflineDictionaryFromMemory("lexi", index.data(), index.size(), text.data(), text.size(), false));
    ASSERT_TRUE(
        addOfflineDictionaryFromMemory("lexa", index.data(), index.size(), text.data(), text.size(), false));
    writeConfigString("offline", std::to_string(offlineFirst).c_str());
    resetUiDoubles();
    onDatabaseChoice([] { cancelLookUp(); });
    EXPECT_EQ(0, dictSession.lookUpWord("friend"));
    EXPECT_EQ(1, countUiCalls("runDatabaseChoiceDialog"));
    unloadOfflineDictionaries();
}

// A wait begun after the cancel ends as cancelled, even when the network has something for it already.
TEST_F(LookUpWord, WaitAfterTheCancelEndsCancelledWhateverIsReady)
{
    FakeServer server({{sendText(fakeGreeting), staySilent()}});
    ASSERT_TRUE(server.listening());
    NetAddress address;
    ASSERT_EQ(1, netParseAddress(server.host(), &address));
    NetWaitEntry entry = {netOpenStream(), false, false};
    ASSERT_EQ(1, netConnect(entry.socket, address, dictPort, testConnectTimeoutMs));
    ASSERT_EQ(1, netWaitAny(&entry, 1, testReceiveTimeoutMs));
    bindLookUpWaits(&dictSession.waits, nullptr);
    cancelLookUp();
    EXPECT_EQ(netWaitCancelled, waitOnNetwork(&entry, 1, 100));
    bindLookUpWaits(nullptr, nullptr);
    netClose(entry.socket);
    server.stop();
}

// A cancel that ends a wait of the connections opened ahead closes them all there and then, before the
// look-up's own clean-up: none of them is left to carry a request.
TEST_F(LookUpWord, CancelledWaitClosesTheConnectionsOpenedAhead)
{
    FakeServer server({{staySilent()}, {staySilent()}, {staySilent()}});
    ASSERT_TRUE(server.listening());
    bindLookUpWaits(&dictSession.waits, nullptr);
    beginNetworkWaits(server.host());
    cancelGiven = false;
    cancelDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    netWaitHook = cancelWhenDue;
    EXPECT_EQ(0, dictSession.connectAhead(server.host(), "glimmerwort"));
    netWaitHook = nullptr;
    EXPECT_TRUE(cancelGiven);
    for (int i = 0; i < lookUpLinkCount; i++) {
        EXPECT_FALSE(dictSession.ahead.links[i].open) << "link " << i;
    }
    dictSession.closeSocket();
    dictSession.closeAhead();
    bindLookUpWaits(nullptr, nullptr);
    server.stop();
}

// One deadline covers a whole attempt on a server: a server that keeps each step within its own limits
// but drips its answers cannot stretch the look-up past it.
TEST_F(LookUpWord, ADrippingServerIsGivenUpAtTheAttemptsDeadline)
{
    useTestLimits();
    dictLimits.attemptTimeoutMs = 800;
    std::string reply = matchReply({"beta"}, "glimmerwort");
    FakeScript dripping = FakeScript{sendText(fakeGreeting), awaitRequest()} + inPieces(reply, 1, 150);
    FakeServer server({dripping, answering(""), answering("")});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    scriptYesNoAnswers({0});

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, dictSession.lookUpWord("glimmerwort"));
    auto elapsed = std::chrono::steady_clock::now() - start;
    server.stop();

    // Each piece comes well within a receive's time-out and the whole reply would take seconds.
    EXPECT_LT(elapsed, std::chrono::milliseconds(testReplyTimeoutMs - 1000));
    EXPECT_EQ(1, countUiCalls("askYesNo"));
}

// A dialog opened from the tray during a wait (messages run inside it) may hold the wait past its
// end; a server that answered meanwhile is not reported as not responding.
TEST_F(LookUpWord, AnswerThatCameWhileADialogHeldTheWaitCounts)
{
    std::vector<FakeScript> scripts = wholeLookUp("glimmerwort", {"beta"}, "beta", "A small fern.");
    scripts[0] = FakeScript{pauseFor(100)} + scripts[0];
    useTestLimits();
    FakeServer server(scripts);
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    static bool dialogShown;
    dialogShown = false;
    netWaitHook = [] {
        if (dialogShown)
            return;
        dialogShown = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(testReceiveTimeoutMs + 300));
    };
    int result = dictSession.lookUpWord("glimmerwort");
    netWaitHook = nullptr;
    server.stop();
    EXPECT_TRUE(dialogShown);
    EXPECT_EQ(1, result);
    EXPECT_EQ(std::vector<std::string>(), questions());
}

// The offline dictionaries: when no server answers they answer at once (by default), first when the
// setting says so, never when it says so; a server that answers but does not know the word still asks.
TEST_F(LookUpWord, OfflineDictionariesAnswerAsTheSettingSays)
{
    // A small database in dictd's format: "friend" and "receive", in the index's order.
    const std::string friendText = "friend\n   A person you know well.\n",
                      receiveText = "receive\n   To get.\n";
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto number = [&](size_t n) { return std::string(1, digits[n]); };
    static std::string data, index;
    data = friendText + receiveText;
    index = "friend\tA\t" + number(friendText.size()) + "\nreceive\t" + number(friendText.size()) + "\t" +
            number(receiveText.size()) + "\n";
    struct Case {
        const char* name;
        int offline;
        const char* word;
        bool serverAnswers;
        std::vector<int> answers;        // to the questions
        int found;                       // what the look-up returns
        std::vector<std::string> asked;  // the questions, in order
        int connections;                 // made to the server
        std::string shownWord;
        int suggestionDialogs;
    };
    const std::vector<Case> cases = {
        {"unreachable, default", offlineWhenNoServer, "friends", false, {}, 1, {}, 0, "friend", 0},
        {"unreachable, never",
         offlineNever,
         "friend",
         false,
         {0},
         0,
         {format1(notRespondingFormat, deadHost)},
         0,
         "",
         0},
        {"unreachable, unknown offline",
         offlineWhenNoServer,
         "zzzzqqq",
         false,
         {0},
         0,
         {format1(notRespondingFormat, deadHost)},
         0,
         "",
         0},
        {"unreachable, near spelling", offlineWhenNoServer, "recieve", false, {}, 0, {}, 0, "", 1},
        {"first", offlineFirst, "friend", true, {}, 1, {}, 0, "friend", 0},
        {"answering server, default", offlineWhenNoServer, "friend", true, {0}, 0, {"server"}, 3, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetUiDoubles();
        useTestLimits();
        dictSession.releaseLists();
        unloadOfflineDictionaries();
        ASSERT_TRUE(addOfflineDictionaryFromMemory("lexi", index.data(), index.size(), data.data(),
                                                   data.size(), false));
        writeConfigString("offline", std::to_string(c.offline).c_str());
        writeConfigString("baseforms", "1");
        writeConfigString("suggest", "1");
        scriptYesNoAnswers(c.answers);
        scriptSuggestionAnswers({suggestionCancelled}, "");
        FakeServer server(
            {answering("552 no match\r\n"), answering(databaseReply(testDatabaseLines)), answering("")});
        ASSERT_TRUE(server.listening());
        setServerEntry(0, c.serverAnswers ? server.host() : deadHost);

        EXPECT_EQ(c.found, dictSession.lookUpWord(c.word));
        server.stop();

        std::vector<std::string> expected = c.asked;
        // The server that answered asks about itself, as without offline dictionaries.
        if (!expected.empty() && expected[0] == "server")
            expected[0] = format2(notFoundFormat, c.word, server.host());
        EXPECT_EQ(expected, questions());
        EXPECT_EQ(0, countUiCalls("showMessage"));
        EXPECT_EQ(c.connections, server.connectionCount());
        EXPECT_EQ(c.suggestionDialogs, countUiCalls("runSuggestionDialog"));
        if (c.suggestionDialogs > 0) {
            EXPECT_EQ(std::vector<std::string>{"receive"}, callTexts("runSuggestionDialog"));
        }
        if (c.found == 1) {
            EXPECT_EQ(offlineServerIndex, dictSession.shownServerIndex);
            EXPECT_EQ(c.shownWord, dictSession.shownWord);
            EXPECT_EQ(c.offline == offlineWhenNoServer, dictSession.offlineFallback);
            ASSERT_EQ(1, dictSession.getDefinitionCount());
            EXPECT_NE(nullptr, strstr(dictSession.getDefinition(0), "A person you know well."));
        }
    }
    unloadOfflineDictionaries();
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

// A word not found as written: its base form, or a near spelling the user picks, is looked up in
// its place, with the connections and requests of one look-up each.
TEST_F(LookUpWord, BaseFormIsLookedUpInPlaceOfTheWordAsWritten)
{
    FakeServer server({{sendText(fakeGreeting), awaitRequest(), sendText("552 no match\r\n"), awaitRequest(),
                        sendText(matchReply({"beta"}, "friend"))},
                       answering(databaseReply(testDatabaseLines)),
                       answering(definitionReply("friend", "beta", {"A person you know well."}))});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());

    EXPECT_EQ(1, dictSession.lookUpWord("\xE2\x80\x9C"
                                        "Friends,\xE2\x80\x9D"));
    server.stop();

    // One more request line on the match connection, no more connections; the definitions
    // request that went out early is for the base form.
    ASSERT_EQ(3, server.connectionCount());
    EXPECT_EQ("MATCH * exact Friends\r\nMATCH * exact friend\r\n", server.received(0));
    EXPECT_EQ("define beta friend\r\n", server.received(2));
    EXPECT_STREQ("A person you know well.", dictSession.getDefinition(0));
    EXPECT_STREQ("Friends", dictSession.askedWord);
    EXPECT_STREQ("friend", dictSession.shownWord);
    EXPECT_STREQ("beta", dictSession.shownDatabase);
    EXPECT_EQ(0, countUiCalls("askYesNo"));
}

TEST_F(LookUpWord, SuggestionsTakeThePlaceOfTheNotFoundQuestion)
{
    const std::string nearby = "152 2 matches found\r\nalpha \"friend\"\r\nbeta \"fiend\"\r\n.\r\n250 ok\r\n";
    const FakeScript suggesting = {sendText(fakeGreeting), awaitRequest(), sendText("552 no match\r\n"),
                                   awaitRequest(), sendText(nearby + nearby)};
    const FakeScript refusing = {sendText(fakeGreeting), awaitRequest(), sendText("552 no match\r\n"),
                                 awaitRequest(), sendText("552 no match\r\n552 no match\r\n")};
    struct Case {
        const char* name;
        int answer;
        std::vector<FakeScript> scripts;  // the first server's
        int result;
        std::vector<std::string> functions;  // the dialogs and questions, in order
        int firstServerConnections;
    };
    const std::vector<Case> cases = {
        {"a word picked is looked up on the same server",
         suggestionChosen,
         {suggesting,
          {},
          {},
          answering(matchReply({"alpha"}, "friend")),
          answering(databaseReply(testDatabaseLines)),
          answering(definitionReply("friend", "alpha", {"Picked."}))},
         1,
         {"runSuggestionDialog"},
         6},
        {"try next server goes on as Yes", suggestionNextServer, {suggesting}, 1, {"runSuggestionDialog"}, 3},
        {"cancel ends the look-up", suggestionCancelled, {suggesting}, 0, {"runSuggestionDialog"}, 3},
        {"no near spellings: the question as before", suggestionChosen, {refusing}, 0, {"askYesNo"}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetUiDoubles();
        FakeServer first(c.scripts);
        FakeServer second(wholeLookUp("frend", {"gamma"}, "gamma", "From the second."));
        ASSERT_TRUE(first.listening());
        ASSERT_TRUE(second.listening());
        setServerEntry(0, first.host());
        setServerEntry(1, second.host());
        scriptSuggestionAnswers({c.answer}, "friend");

        EXPECT_EQ(c.result, dictSession.lookUpWord("frend"));
        first.stop();
        second.stop();

        std::vector<std::string> asked;
        for (const UiCall& call : uiCalls()) {
            if (call.function == "runSuggestionDialog") {
                EXPECT_EQ("friend,fiend", call.text);
            }
            if (call.function == "runSuggestionDialog" || call.function == "askYesNo")
                asked.push_back(call.function);
        }
        EXPECT_EQ(c.functions, asked);
        EXPECT_EQ(c.firstServerConnections, first.connectionCount());
        // The near spellings cost one request line per strategy on the match connection.
        EXPECT_EQ("MATCH * exact frend\r\nMATCH * lev frend\r\nMATCH * . frend\r\n", first.received(0));
        if (c.answer == suggestionChosen && c.result == 1) {
            EXPECT_EQ("MATCH * exact friend\r\n", first.received(3));
            EXPECT_EQ("define alpha friend\r\n", first.received(5));
            EXPECT_STREQ("frend", dictSession.askedWord);
            EXPECT_STREQ("friend", dictSession.shownWord);
        }
        EXPECT_EQ(c.answer == suggestionNextServer ? 3 : 0, second.connectionCount());
        if (c.answer == suggestionNextServer) {
            EXPECT_STREQ("From the second.", dictSession.getDefinition(0));
        }
    }
}

TEST_F(LookUpWord, BothSettingsOffAskForTheWordAsWrittenOnly)
{
    FakeServer server({answering("552 no match\r\n")});
    ASSERT_TRUE(server.listening());
    setServerEntry(0, server.host());
    writeConfigString("baseforms", "0");
    writeConfigString("suggest", "0");

    EXPECT_EQ(0, dictSession.lookUpWord("friends"));
    server.stop();

    EXPECT_EQ("MATCH * exact friends\r\n", server.received(0));
    std::vector<std::string> expected = {format2(notFoundFormat, "friends", server.host())};
    EXPECT_EQ(expected, questions());
    EXPECT_EQ(0, countUiCalls("runSuggestionDialog"));
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

// The ending rules: the candidates of each word in the order they are asked. The false friends
// give nothing wrong, or (news) something asked only when the word itself is not found.
TEST(BaseForms, CandidatesInTableOrder)
{
    struct Case {
        const char* word;
        std::vector<std::string> candidates;
    };
    const std::vector<Case> cases = {
        {"friends", {"friend"}},
        {"Friends", {"friend"}},
        {"people's", {"people"}},
        {"people\xE2\x80\x99s", {"people"}},
        {"friends'", {"friends", "friend"}},
        {"cities", {"city", "citie"}},
        {"uses", {"use", "us"}},
        {"boxes", {"boxe", "box"}},
        {"churches", {"churche", "church"}},
        {"wishes", {"wishe", "wish"}},
        {"businessmen", {"businessman"}},
        {"carried", {"carry", "carrie", "carri"}},
        {"hoped", {"hope", "hop"}},
        {"called", {"call", "cal"}},
        {"stopped", {"stopp", "stop"}},
        {"running", {"runn", "run"}},
        {"thinking", {"thinke", "think"}},
        {"nicer", {"nice", "nic"}},
        {"bigger", {"bigg", "big"}},
        {"happiest", {"happy", "happie", "happi"}},
        {"caf\xC3\xA9s", {"caf\xC3\xA9"}},
        {"bus", {}},
        {"glass", {}},
        {"news", {"new"}},
        {"is", {}},
        {"ring", {}},
        {"bed", {}},
        {"went", {}},
        {"s", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        char candidates[maxBaseForms][dictWordSize];
        int count = baseFormCandidates(c.word, candidates, maxBaseForms);
        EXPECT_EQ(c.candidates, std::vector<std::string>(candidates, candidates + count)) << c.word;
    }
    // The room given bounds the candidates.
    char one[1][dictWordSize];
    EXPECT_EQ(1, baseFormCandidates("carried", one, 1));
    EXPECT_STREQ("carry", one[0]);
}

// The word as it stands in text: the marks around it go, those inside stay.
TEST(TrimmedWord, MarksAroundTheWordGo)
{
    struct Case {
        const char* text;
        const char* word;
    };
    const Case cases[] = {
        {"\xE2\x80\x9Cword\xE2\x80\x9D", "word"},
        {"(word)", "word"},
        {"word.", "word"},
        {"word,", "word"},
        {"'word'", "word"},
        {"\xE2\x80\x98word\xE2\x80\x99.", "word"},
        {"(people's).", "people's"},
        {"friends'", "friends'"},
        {"friends\xE2\x80\x99,", "friends\xE2\x80\x99"},
        {"\xC2\xABmot\xC2\xBB", "mot"},
        {"well-known", "well-known"},
        {"?!", "?!"},
        {"word", "word"},
    };
    for (const Case& c : cases) {
        char word[wordBufferSize];
        trimWord(c.text, word, wordBufferSize);
        EXPECT_STREQ(c.word, word) << c.text;
    }
    char tiny[3] = {'#', '#', '#'};
    trimWord("(word)", tiny, 3);
    EXPECT_STREQ("wo", tiny);
}

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

// The viewer's caption: the word (with the word as given when another was looked up), the
// dictionary and the position, cut without splitting a character.
TEST(ViewerCaption, NamesWordDictionaryAndPosition)
{
    struct Case {
        const char* asked;
        const char* shown;
        const char* dictionary;
        int position, count, capacity;
        std::string caption;
        bool offline = false;
    };
    const std::string dash = " \xE2\x80\x94 ", arrow = " \xE2\x86\x92 ";
    const std::vector<Case> cases = {
        {"friend", "friend", "WordNet (r) 3.0 (2006)", 1, 2, viewerCaptionSize,
         "Lexitray" + dash + "friend" + dash + "WordNet (r) 3.0 (2006)" + dash + "1 of 2"},
        {"friends", "friend", "WordNet (r) 3.0 (2006)", 2, 2, viewerCaptionSize,
         "Lexitray" + dash + "friends" + arrow + "friend" + dash + "WordNet (r) 3.0 (2006)" + dash +
             "2 of 2"},
        {"", "friend", "wn", 1, 1, viewerCaptionSize,
         "Lexitray" + dash + "friend" + dash + "wn" + dash + "1 of 1"},
        {"serendipity", "serendipity", "WordNet (r) 3.0 (2006)", 1, 1, viewerCaptionSize,
         "Lexitray" + dash + "serendipity" + dash + "WordNet (r) 3.0 (2006)" + dash + "offline" + dash +
             "1 of 1",
         true},
        {"friend", "friend", "", 0, 0, viewerCaptionSize, "Lexitray" + dash + "friend"},
        // Cut inside the dash: the dash's bytes are not split, and nothing follows the cut.
        {"friend", "friend", "wn", 1, 1, 12, "Lexitray "},
        {"friend", "friend", "wn", 1, 1, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        std::vector<char> caption(static_cast<size_t>(c.capacity) + 1, '#');
        formatViewerCaption(c.asked, c.shown, c.dictionary, c.position, c.count, caption.data(), c.capacity,
                            c.offline);
        EXPECT_EQ(c.caption, caption.data());
        EXPECT_EQ('#', caption[static_cast<size_t>(c.capacity)]);
    }
}

// The longest words and description the session holds fit the caption whole.
TEST(ViewerCaption, LongestPartsFitWhole)
{
    std::string asked(dictWordSize - 1, 'a'), shown(dictWordSize - 1, 'b');
    std::string dictionary(dictSlotSize - 1, 'd');
    char caption[viewerCaptionSize];
    formatViewerCaption(asked.c_str(), shown.c_str(), dictionary.c_str(), 12345, 12345, caption,
                        viewerCaptionSize);
    const std::string dash = " \xE2\x80\x94 ";
    EXPECT_EQ("Lexitray" + dash + asked + " \xE2\x86\x92 " + shown + dash + dictionary + dash +
                  "12345 of 12345",
              std::string(caption));
}

TEST(ViewerCaption, DictionaryIsTheDescriptionOfTheShownDatabase)
{
    char wn[] = "wn", gcide[] = "gcide";
    char lineWn[] = "wn \"WordNet (r) 3.0 (2006)\"", lineGcide[] = "gcide \"The Collaborative Dictionary\"";
    char* names[] = {gcide, wn};
    char* lines[] = {lineGcide, lineWn};
    DictSession session = {};
    session.matchDatabases = names;
    session.matchCount = 2;
    session.databaseLines = lines;
    session.databaseCount = 2;
    char description[dictSlotSize];
    describeDatabase(session, "wn", description, dictSlotSize);
    EXPECT_STREQ("WordNet (r) 3.0 (2006)", description);
    // A database that is not among the matches shows its name.
    describeDatabase(session, "foldoc", description, dictSlotSize);
    EXPECT_STREQ("foldoc", description);
}

// The word a double click in the viewer follows; ^ marks the position clicked.
TEST(FollowedWord, BracedTextWholeElseTheWordAtThePosition)
{
    struct Case {
        std::u16string text;  // with a ^ before the unit clicked
        std::u16string word;
    };
    const std::vector<Case> cases = {
        {u"see {^computer science} also", u"computer science"},
        {u"see {computer sc^ience} also", u"computer science"},
        {u"see ^{computer science} also", u"computer science"},
        {u"see {computer science^} also", u"computer science"},
        {u"{comp^uter\r\n      science}", u"computer science"},
        {u"{a} ^word {b}", u"word"},
        {u"{a}^ word", u""},
        {u"{unclosed bra^ce and more", u"brace"},
        {u"{one {tw^o}", u"two"},
        {u"the ^dog.", u"dog"},
        {u"the dog^.", u"dog"},
        {u"the dog ^ barks", u""},
        {u"^", u""},
        {u"people^'s", u"people's"},
        {u"a 'quo^ted' word", u"quoted"},
        {u"well-kn^own", u"well-known"},
        {u"(n^oun)", u"noun"},
        {u"caf\u00e9^ au lait", u"caf\u00e9"},
        {u"\u201cquo^ted\u201d", u"quoted"},
        {u"word\u2014ne^xt", u"next"},
        {u"last wor^", u"wor"},
    };
    for (const Case& c : cases) {
        std::u16string text = c.text;
        size_t position = text.find(u'^');
        ASSERT_NE(std::u16string::npos, position);
        text.erase(position, 1);
        SCOPED_TRACE(::testing::PrintToString(c.text));
        char16_t word[wordBufferSize];
        int length = followedWordAt(text.data(), text.size(), position, word, wordBufferSize);
        EXPECT_EQ(c.word, std::u16string(word));
        EXPECT_EQ(static_cast<int>(c.word.size()), length);
    }
    // Past the end counts as the last unit.
    char16_t word[wordBufferSize];
    EXPECT_EQ(3, followedWordAt(u"a dog", 5, 99, word, wordBufferSize));
    EXPECT_EQ(u"dog", std::u16string(word));
}

TEST(FollowedWord, CutToCapacityWithoutHalfAPair)
{
    const std::u16string text = u"xy\U0001F600z";  // the face is a surrogate pair
    char16_t word[8];
    std::fill(word, word + 8, u'#');
    EXPECT_EQ(2, followedWordAt(text.data(), text.size(), 0, word, 4));  // not "xy" and half a pair
    EXPECT_EQ(u"xy", std::u16string(word));
    EXPECT_EQ(u'#', word[4]);
    EXPECT_EQ(4, followedWordAt(text.data(), text.size(), 0, word, 5));
    EXPECT_EQ(0, followedWordAt(text.data(), text.size(), 0, word, 0));
    EXPECT_EQ(u'#', word[5]);
}

TEST(FollowedWord, SelectionLosesItsBlanksAndBraces)
{
    char16_t word[wordBufferSize];
    const std::u16string braced = u"  {computer\r\n   science}\r\n";
    EXPECT_EQ(16, followedSelection(braced.data(), braced.size(), word, wordBufferSize));
    EXPECT_EQ(u"computer science", std::u16string(word));
    EXPECT_EQ(0, followedSelection(u" \r\n ", 4, word, wordBufferSize));
    EXPECT_EQ(u"", std::u16string(word));
}

// Pages to go back to: the last 16, no more than 4 MiB of definitions, the oldest dropped first.
ViewerPage newPage(const std::string& word, size_t bytes)
{
    ViewerPage page = {};
    snprintf(page.shownWord, sizeof page.shownWord, "%s", word.c_str());
    page.definitions = new char*[2];
    page.definitions[0] = new char[bytes + 1];
    memset(page.definitions[0], 'x', bytes);
    page.definitions[0][bytes] = '\0';
    page.definitionCount = 1;
    page.bytes = bytes;
    return page;
}

std::vector<std::string> popAll(ViewerHistory* history)
{
    std::vector<std::string> words;
    ViewerPage page = {};
    while (popViewerPage(history, &page)) {
        words.push_back(page.shownWord);
        releaseViewerPage(&page);
    }
    EXPECT_EQ(0u, history->bytes);
    return words;
}

TEST(ViewerHistory, KeepsTheLastSixteenPagesNewestFirst)
{
    ViewerHistory history = {};
    std::vector<std::string> expected;
    for (int i = 0; i < viewerHistoryDepth + 2; i++) {
        ViewerPage page = newPage("w" + std::to_string(i), 10);
        pushViewerPage(&history, &page);
        EXPECT_EQ(nullptr, page.definitions);  // the history owns them now
        if (i >= 2)
            expected.insert(expected.begin(), "w" + std::to_string(i));
    }
    EXPECT_EQ(viewerHistoryDepth, history.count);
    EXPECT_EQ(viewerHistoryDepth * 10u, history.bytes);
    EXPECT_EQ(expected, popAll(&history));
}

TEST(ViewerHistory, DropsTheOldestBeyondFourMebibytes)
{
    ViewerHistory history = {};
    const size_t third = viewerHistoryBytes / 3 + 1;  // three of these are over the limit
    for (const char* word : {"a", "b", "c", "d"}) {
        ViewerPage page = newPage(word, third);
        pushViewerPage(&history, &page);
    }
    EXPECT_EQ((std::vector<std::string>{"d", "c"}), popAll(&history));

    ViewerPage exact = newPage("exact", viewerHistoryBytes);
    pushViewerPage(&history, &exact);
    EXPECT_EQ(1, history.count);
    // A page over the limit alone is not kept, and the pages before it stay.
    ViewerPage huge = newPage("huge", viewerHistoryBytes + 1);
    pushViewerPage(&history, &huge);
    EXPECT_EQ(nullptr, huge.definitions);
    EXPECT_EQ((std::vector<std::string>{"exact"}), popAll(&history));
    ViewerPage none = {};
    EXPECT_FALSE(popViewerPage(&history, &none));
    releaseViewerHistory(&history);
}

TEST(ViewerHistory, PageTakesTheSessionsDefinitionsAndWhatItShows)
{
    DictSession session = {};
    session.definitions = new char*[3];
    session.definitions[0] = new char[4];
    memcpy(session.definitions[0], "one", 4);
    session.definitions[1] = new char[6];
    memcpy(session.definitions[1], "three", 6);
    session.definitionCount = 2;
    snprintf(session.askedWord, dictWordSize, "friends");
    snprintf(session.shownWord, dictWordSize, "friend");
    snprintf(session.shownDatabase, dictSlotSize, "wn");
    session.shownServerIndex = 3;
    ViewerPage page = {};
    takeViewerPage(session, &page);
    EXPECT_EQ(nullptr, session.definitions);
    EXPECT_EQ(0, session.definitionCount);
    EXPECT_STREQ("friends", page.askedWord);
    EXPECT_STREQ("friend", page.shownWord);
    EXPECT_STREQ("wn", page.dictionary);  // no database list: the name
    EXPECT_EQ(3, page.serverIndex);
    EXPECT_EQ(2, page.definitionCount);
    EXPECT_EQ(8u, page.bytes);
    releaseViewerPage(&page);
    EXPECT_EQ(nullptr, page.definitions);

    // The description the look-up kept names the dictionary.
    snprintf(session.shownDescription, dictSlotSize, "WordNet (r) 3.0 (2006)");
    takeViewerPage(session, &page);
    EXPECT_STREQ("WordNet (r) 3.0 (2006)", page.dictionary);
    releaseViewerPage(&page);
}

// The words the tray menu shows again: the last ten, newest first, within 4 MiB, one per word and dictionary.
std::vector<std::string> recentItems(const RecentWords& recent)
{
    std::vector<std::string> items;
    for (int i = 0; i < recent.count; i++) {
        char item[recentItemSize];
        formatRecentWordItem(recent.pages[i], item, recentItemSize);
        items.push_back(item);
    }
    return items;
}

int recentWordsChanges;

TEST(RecentWords, TenNewestFirstARepeatMovesToTheFront)
{
    RecentWords recent = {};
    recentWordsChanges = 0;
    recent.changed = [](const RecentWords&) { recentWordsChanges++; };
    for (int i = 0; i < recentWordsDepth + 2; i++) {
        ViewerPage page = newPage("w" + std::to_string(i), 10);
        snprintf(page.dictionary, sizeof page.dictionary, "D&D");
        EXPECT_TRUE(rememberRecentWord(&recent, page));
        releaseViewerPage(&page);
    }
    ViewerPage again = newPage("w5", 20);
    snprintf(again.dictionary, sizeof again.dictionary, "D&D");
    again.serverIndex = offlineServerIndex;
    EXPECT_TRUE(rememberRecentWord(&recent, again));
    snprintf(again.dictionary, sizeof again.dictionary, "Other");  // another dictionary: another entry
    EXPECT_TRUE(rememberRecentWord(&recent, again));
    releaseViewerPage(&again);
    EXPECT_EQ(
        (std::vector<std::string>{"w5 \xE2\x80\x94 Other (offline)", "w5 \xE2\x80\x94 D&&D (offline)",
                                  "w11 \xE2\x80\x94 D&&D", "w10 \xE2\x80\x94 D&&D", "w9 \xE2\x80\x94 D&&D",
                                  "w8 \xE2\x80\x94 D&&D", "w7 \xE2\x80\x94 D&&D", "w6 \xE2\x80\x94 D&&D",
                                  "w4 \xE2\x80\x94 D&&D", "w3 \xE2\x80\x94 D&&D"}),
        recentItems(recent));
    EXPECT_EQ(8 * 10u + 2 * 20u, recent.bytes);
    EXPECT_EQ(recentWordsDepth + 4, recentWordsChanges);
    // A copy comes out, and the store keeps its own.
    ViewerPage shown = {};
    EXPECT_TRUE(copyRecentWord(recent, 1, &shown));
    EXPECT_NE(recent.pages[1].definitions[0], shown.definitions[0]);
    EXPECT_EQ(std::string(20, 'x'), shown.definitions[0]);
    releaseViewerPage(&shown);
    EXPECT_FALSE(copyRecentWord(recent, recentWordsDepth, &shown));
    releaseRecentWords(&recent);
    EXPECT_EQ(0, recent.count);
    EXPECT_EQ(0u, recent.bytes);
    EXPECT_EQ(recentWordsDepth + 4, recentWordsChanges) << "copies and the program's end change nothing kept";
}

TEST(RecentWords, OldestGoBeyondFourMebibytes)
{
    RecentWords recent = {};
    for (const char* word : {"a", "b", "c", "d"}) {
        ViewerPage page = newPage(word, recentWordsBytes / 3 + 1);
        EXPECT_TRUE(rememberRecentWord(&recent, page));
        releaseViewerPage(&page);
    }
    EXPECT_EQ((std::vector<std::string>{"d", "c"}), recentItems(recent));
    ViewerPage huge = newPage("huge", recentWordsBytes + 1);
    EXPECT_FALSE(rememberRecentWord(&recent, huge));
    releaseViewerPage(&huge);
    EXPECT_EQ(2, recent.count);
    releaseRecentWords(&recent);
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
