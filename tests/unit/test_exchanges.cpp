// Tests of the match, database list and definition exchanges against scripted DICT servers.
#include <gtest/gtest.h>

#include <string.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/dictsession.h"
#include "tests/unit/fakeserver.h"
#include "tests/unit/uidoubles.h"

namespace {

typedef std::vector<std::string> Texts;

long long msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

std::string matchReply(const Texts& databases, const std::string& word)
{
    std::string reply = "152 " + std::to_string(databases.size()) + " matches found\r\n";
    for (const std::string& database : databases)
        reply += database + " \"" + word + "\"\r\n";
    return reply + ".\r\n250 ok [d/m/c = 0/1/2; 0.000r 0.000u 0.000s]\r\n";
}

std::string databaseReply(const Texts& lines)
{
    std::string reply = "110 " + std::to_string(lines.size()) + " databases present\r\n";
    for (const std::string& line : lines)
        reply += line + "\r\n";
    return reply + ".\r\n250 ok\r\n";
}

// A definitions reply; each body is given with its lines already joined by CR LF.
std::string definitionsReply(const std::string& word, const std::string& database, const Texts& bodies)
{
    std::string reply = "150 " + std::to_string(bodies.size()) + " definitions retrieved\r\n";
    for (const std::string& body : bodies)
        reply += "151 \"" + word + "\" " + database + " \"Some dictionary\"\r\n" + body + "\r\n.\r\n";
    return reply + "250 ok [d/m/c = 1/0/20; 0.000r 0.000u 0.000s]\r\n";
}

// A connection of a well-behaved server: greeting, the request, then the reply.
FakeScript answering(const std::string& reply)
{
    return {sendText(fakeGreeting), awaitRequest(), sendText(reply)};
}

const Texts threeDatabases = {"wn \"WordNet (r) 3.0 (2006)\"",
                              "gcide \"The Collaborative International Dictionary of English\"",
                              "jargon \"The Jargon File\""};

Texts matchNames()
{
    Texts names;
    for (int i = 0; i < dictSession.matchCount; i++)
        names.push_back(dictSession.getMatchDatabase(i));
    return names;
}

Texts databaseLines()
{
    Texts lines;
    for (int i = 0; i < dictSession.databaseCount; i++)
        lines.push_back(dictSession.databaseLines[i]);
    return lines;
}

Texts definitionTexts()
{
    Texts texts;
    for (int i = 0; i < dictSession.getDefinitionCount(); i++)
        texts.push_back(dictSession.getDefinition(i));
    return texts;
}

class Exchanges : public ::testing::Test {
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
        resetDictSession();
        dictLimits = dictDefaultLimits;
    }
    // Connects as the look-up does and asks for the matches on the same server.
    int matchesFrom(FakeServer& server, const char* word)
    {
        EXPECT_TRUE(server.listening());
        dictSession.connectToServer(server.host());
        return dictSession.findMatches(word, server.host());
    }
};

TEST_F(Exchanges, TwelveMatchesInServerOrderAndTheDatabaseList)
{
    Texts names = {"wn",       "gcide",  "moby-thesaurus", "foldoc",  "jargon", "vera",
                   "elements", "easton", "hitchcock",      "bouvier", "devil",  "world02"};
    FakeServer server({answering(matchReply(names, "hack")), answering(databaseReply(threeDatabases))});
    EXPECT_EQ(matchesFrom(server, "hack"), 1);
    EXPECT_EQ(dictSession.getMatchCount(), 12);
    EXPECT_EQ(matchNames(), names);
    EXPECT_EQ(databaseLines(), threeDatabases);
    EXPECT_FALSE(dictSession.socketOpen);
    server.stop();
    EXPECT_EQ(server.received(0), "MATCH * exact hack\r\n");
    EXPECT_EQ(server.received(1), "show databases\r\n");
    EXPECT_EQ(countUiCalls("showMessage"), 0);
}

TEST_F(Exchanges, WordThatIsNotOnePlainParameterIsSentQuoted)
{
    // Unquoted, "ice cream" is two parameters (a syntax error) and dictd takes the apostrophe of
    // "o'clock" for the start of a quoted text (no match).
    const struct {
        const char* word;
        const char* request;
    } cases[] = {
        {"hack", "MATCH * exact hack\r\n"},
        {"ice cream", "MATCH * exact \"ice cream\"\r\n"},
        {"o'clock", "MATCH * exact \"o'clock\"\r\n"},
        {"say \"a\\b\"", "MATCH * exact \"say \\\"a\\\\b\\\"\"\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        FakeServer server({answering(matchReply({"wn"}, c.word)), answering(databaseReply(threeDatabases))});
        EXPECT_EQ(matchesFrom(server, c.word), 1);
        server.stop();
        EXPECT_EQ(server.received(0), c.request);
    }
}

TEST_F(Exchanges, RefusalsLeaveTheEarlierResultsInPlace)
{
    FakeServer good({answering(matchReply({"wn", "gcide"}, "hack")), answering(databaseReply(threeDatabases)),
                     answering(definitionsReply("hack", "wn", {"first body", "second body"}))});
    ASSERT_EQ(matchesFrom(good, "hack"), 1);
    ASSERT_EQ(dictSession.retrieveDefinitions("wn", "hack", good.host()), 1);
    char** names = dictSession.matchDatabases;
    char** texts = dictSession.definitions;

    FakeServer refusing({answering("552 no match [d/m/c = 0/0/0; 0.000r 0.000u 0.000s]\r\n"),
                         answering("552 no match\r\n"), answering("550 invalid database\r\n")});
    EXPECT_EQ(matchesFrom(refusing, "hack"), 15);
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "hack", refusing.host()), 15);
    EXPECT_EQ(dictSession.retrieveDefinitions("nosuch", "hack", refusing.host()), 15);
    EXPECT_FALSE(dictSession.socketOpen);
    EXPECT_EQ(dictSession.matchDatabases, names);
    EXPECT_EQ(matchNames(), (Texts{"wn", "gcide"}));
    EXPECT_EQ(dictSession.definitions, texts);
    EXPECT_EQ(definitionTexts(), (Texts{"first body", "second body"}));
    refusing.stop();
    EXPECT_EQ(refusing.received(1), "define wn hack\r\n");
    EXPECT_EQ(refusing.received(2), "define nosuch hack\r\n");
}

TEST_F(Exchanges, MatchReplyWithoutStatus152)
{
    const char* const replies[] = {
        "250 ok\r\n",
        "152",
        "113 help text follows\r\n.\r\n250 ok\r\n",
        "152 0 matches\r\n.\r\n250 ok\r\n",
        "152 x matches\r\n.\r\n250 ok\r\n",
    };
    for (const char* text : replies) {
        SCOPED_TRACE(text);
        resetDictSession();
        FakeServer server({answering(text)});
        EXPECT_EQ(matchesFrom(server, "hack"), 15);
        EXPECT_EQ(dictSession.matchCount, 0);
        EXPECT_EQ(dictSession.matchDatabases, nullptr);
        // No database list is asked for.
        server.stop();
        EXPECT_EQ(server.connectionCount(), 1);
    }
}

TEST_F(Exchanges, DatabaseHeadInPiecesOfFiveAndFour)
{
    Texts lines;
    for (int i = 0; i < 12; i++)
        lines.push_back("db" + std::to_string(i) + " \"Database number " + std::to_string(i) + "\"");
    std::string reply = databaseReply(lines);
    FakeServer server(
        {answering(matchReply({"wn"}, "hack")),
         FakeScript{sendText(fakeGreeting), awaitRequest(), sendText(reply.substr(0, 5)), pauseFor(30),
                    sendText(reply.substr(5, 4)), pauseFor(30), sendText(reply.substr(9))}});
    EXPECT_EQ(matchesFrom(server, "hack"), 1);
    EXPECT_EQ(dictSession.databaseCount, 12);
    EXPECT_EQ(databaseLines(), lines);
}

TEST_F(Exchanges, DatabaseReplyCompleteAtOnceNeedsNoFurtherReceive)
{
    // With a long receive time-out, any further receive would show as a long wait.
    dictLimits.receiveTimeoutMs = 5000;
    std::string withoutStatus250 = "110 3 databases present\r\n" + threeDatabases[0] + "\r\n" +
                                   threeDatabases[1] + "\r\n" + threeDatabases[2] + "\r\n.\r\n";
    const FakeScript deliveries[] = {
        {sendText(withoutStatus250), staySilent()},
        {sendText(withoutStatus250.substr(0, 9)), pauseFor(30), sendText(withoutStatus250.substr(9)),
         staySilent()},
    };
    for (const FakeScript& delivery : deliveries) {
        resetDictSession();
        FakeServer server({answering(matchReply({"wn"}, "hack")),
                           FakeScript{sendText(fakeGreeting), awaitRequest()} + delivery});
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(matchesFrom(server, "hack"), 1);
        EXPECT_LT(msSince(start), 2500);
        EXPECT_EQ(databaseLines(), threeDatabases);
        EXPECT_FALSE(dictSession.socketOpen);
    }
}

TEST_F(Exchanges, DatabaseReplyNotStatus110KeepsTheMatches)
{
    const FakeScript secondConnections[] = {
        answering("554 no databases present\r\n"),
        answering("110"),
        {sendText(fakeGreeting), awaitRequest(), closeNow()},
        {sendText("530 access denied\r\n"), awaitRequest(), sendText("530 access denied\r\n")},
    };
    for (const FakeScript& second : secondConnections) {
        resetDictSession();
        FakeServer server({answering(matchReply({"wn", "gcide"}, "hack")), second});
        EXPECT_EQ(matchesFrom(server, "hack"), 1);
        EXPECT_EQ(matchNames(), (Texts{"wn", "gcide"}));
        EXPECT_EQ(dictSession.databaseCount, 0);
        EXPECT_FALSE(dictSession.socketOpen);
    }
}

TEST_F(Exchanges, DatabaseListFailuresAfterTheMatches)
{
    // The second connection is refused: the request cannot be sent, the matches stand.
    FakeServer server({answering(matchReply({"wn"}, "hack"))});
    ASSERT_EQ(dictSession.connectToServer(server.host()), 1);
    FakeServer closed({});
    std::string closedHost = closed.host();
    closed.stop();
    EXPECT_EQ(dictSession.findMatches("hack", closedHost.c_str()), 0);
    EXPECT_EQ(matchNames(), Texts{"wn"});
    EXPECT_EQ(dictSession.databaseCount, 0);
    EXPECT_EQ(countUiCalls("showMessage"), 0);

    // The second connection cannot be resolved: one message, the matches stand.
    resetDictSession();
    FakeServer again({answering(matchReply({"gcide"}, "hack"))});
    ASSERT_EQ(dictSession.connectToServer(again.host()), 1);
    EXPECT_EQ(dictSession.findMatches("hack", "nohost.invalid"), 0);
    EXPECT_EQ(matchNames(), Texts{"gcide"});
    EXPECT_EQ(countUiCalls("showMessage"), 1);
}

TEST_F(Exchanges, LongNamesAndLinesAreCutToTheirSlots)
{
    std::string longName(100, 'n');
    std::string longLine = "db \"" + std::string(200, 'd') + "\"";
    FakeServer server(
        {answering(matchReply({longName, "wn"}, "hack")), answering(databaseReply({longLine}))});
    EXPECT_EQ(matchesFrom(server, "hack"), 1);
    EXPECT_EQ(matchNames(), (Texts{longName.substr(0, 69), "wn"}));
    EXPECT_EQ(databaseLines(), Texts{longLine.substr(0, 69)});
}

struct DefinitionCase {
    const char* name;
    std::string reply;
    Texts expected;
};

TEST_F(Exchanges, DefinitionBodiesAreCutExactly)
{
    Texts twelve;
    for (int i = 0; i < 12; i++)
        twelve.push_back("Body " + std::to_string(i) + "\r\n  with a second line");
    const DefinitionCase cases[] = {
        {"two definitions",
         definitionsReply("hack", "wn", {"hack\r\n  n 1: one", "hack\r\n  v 2: two"}),
         {"hack\r\n  n 1: one", "hack\r\n  v 2: two"}},
        {"twelve", definitionsReply("hack", "wn", twelve), twelve},
        {"doubled dot kept",
         definitionsReply("x", "wn", {"..x begins with two dots\r\n.. and so does this"}),
         {"..x begins with two dots\r\n.. and so does this"}},
        {"single line", definitionsReply("x", "wn", {"only line"}), {"only line"}},
        {"one empty body line", definitionsReply("x", "wn", {"", "after"}), {"", "after"}},
        {"no body lines",
         "150 2 found\r\n151 a wn\r\n.\r\n151 b wn\r\nsecond\r\n.\r\n250 ok\r\n",
         {"", "second"}},
        {"dot lines that are not terminators",
         definitionsReply("x", "wn", {".a\r\n. \r\n.b."}),
         {".a\r\n. \r\n.b."}},
        {"count beyond the definitions", "150 3 found\r\n151 x wn\r\none\r\n.\r\n250 ok\r\n", {"one"}},
        {"count below the definitions",
         "150 1 found\r\n151 x wn\r\none\r\n.\r\n151 x wn\r\ntwo\r\n.\r\n250 ok\r\n",
         {"one"}},
    };
    for (const DefinitionCase& c : cases) {
        SCOPED_TRACE(c.name);
        resetDictSession();
        FakeServer server({answering(c.reply)});
        EXPECT_EQ(dictSession.retrieveDefinitions("wn", "x", server.host()), 1);
        EXPECT_EQ(definitionTexts(), c.expected);
        // Each text has exactly its room and two zeros after it.
        for (int i = 0; i < dictSession.definitionCount; i++)
            EXPECT_EQ(dictSession.definitions[i][c.expected[i].size() + 1], '\0');
    }
}

TEST_F(Exchanges, MarkersInsideADefinitionBody)
{
    std::string head = "150 1 found\r\n151 \"price\" wn \"WordNet\"\r\nIt cost 1250 dollars";
    std::string rest = " in all.\r\n.\r\n250 ok\r\n";
    // "250 " inside the body ends the reading at that piece: the definition is cut short and
    // has no terminator, so nothing is stored.
    FakeServer cutShort({{sendText(fakeGreeting), awaitRequest(), sendText(head + " "), pauseFor(50),
                          sendText(rest), staySilent()}});
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "price", cutShort.host()), 15);
    EXPECT_EQ(dictSession.definitionCount, 0);
    EXPECT_FALSE(dictSession.socketOpen);

    // When the same piece holds a whole first definition, that one is kept.
    resetDictSession();
    std::string two = "150 2 found\r\n151 a wn\r\nfirst\r\n.\r\n151 b wn\r\nsecond costs 1250 ";
    FakeServer partly({{sendText(fakeGreeting), awaitRequest(), sendText(two), pauseFor(50),
                        sendText("dollars\r\n.\r\n250 ok\r\n"), staySilent()}});
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "a", partly.host()), 1);
    EXPECT_EQ(definitionTexts(), Texts{"first"});

    // A refusal marker inside the body, before "250 " has come, refuses the whole reply.
    resetDictSession();
    FakeServer refused({{sendText(fakeGreeting), awaitRequest(), sendText("150 1\r\n151 x wn\r\nroom 552 "),
                         pauseFor(50), sendText("is free\r\n.\r\n250 ok\r\n")}});
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "room", refused.host()), 15);
    EXPECT_EQ(dictSession.definitionCount, 0);
}

TEST_F(Exchanges, DefinitionsComeFromTheGivenHost)
{
    FakeServer matcher({answering(matchReply({"wn"}, "hack")), answering(databaseReply(threeDatabases))});
    FakeServer definer({answering(definitionsReply("hack", "wn", {"from the second server"}))});
    ASSERT_EQ(matchesFrom(matcher, "hack"), 1);
    EXPECT_EQ(dictSession.retrieveDefinitions(dictSession.getMatchDatabase(0), "hack", definer.host()), 1);
    EXPECT_EQ(definitionTexts(), Texts{"from the second server"});
    matcher.stop();
    definer.stop();
    EXPECT_EQ(matcher.connectionCount(), 2);
    EXPECT_EQ(definer.received(0), "define wn hack\r\n");
}

TEST_F(Exchanges, DefinitionRequestGoesOutDespiteARefusedGreeting)
{
    FakeServer server({{sendText("421 server busy\r\n"), awaitRequest(),
                        sendText(definitionsReply("hack", "wn", {"still answered"}))}});
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "hack", server.host()), 1);
    EXPECT_EQ(definitionTexts(), Texts{"still answered"});
}

TEST_F(Exchanges, DefinitionsFromAnUnreachableServer)
{
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "hack", "nohost.invalid"), 0);
    EXPECT_EQ(countUiCalls("showMessage"), 1);
    FakeServer closed({});
    std::string host = closed.host();
    closed.stop();
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "hack", host.c_str()), 0);
    EXPECT_EQ(countUiCalls("showMessage"), 1);
    EXPECT_EQ(dictSession.definitionCount, 0);
}

TEST_F(Exchanges, DefinitionReplyNotStatus150)
{
    const char* const replies[] = {"250 ok\r\n", "15", "151 \"x\" wn\r\nbody\r\n.\r\n250 ok\r\n",
                                   "150 0 definitions\r\n250 ok\r\n", "150 -2 definitions\r\n250 ok\r\n"};
    for (const char* text : replies) {
        SCOPED_TRACE(text);
        resetDictSession();
        FakeServer server({answering(text)});
        EXPECT_EQ(dictSession.retrieveDefinitions("wn", "x", server.host()), 15);
        EXPECT_EQ(dictSession.definitionCount, 0);
        EXPECT_EQ(dictSession.definitions, nullptr);
    }
}

// After the word as written matches nothing: its base forms asked together on the same connection,
// then the near spellings, each one round trip, whatever the server does meanwhile.
TEST_F(Exchanges, BaseFormsAndSuggestionsOnTheMatchConnection)
{
    struct Case {
        const char* name;
        const char* word;
        bool baseForms;
        FakeScript script;  // the match connection's, after the greeting and the first request
        int result;
        const char* matchedWord;
        std::string requests;
        Texts suggestions;
    };
    const std::string noMatch = "552 no match\r\n";
    const std::string exactBoxes = "MATCH * exact boxes\r\nMATCH * exact boxe\r\nMATCH * exact box\r\n";
    const std::string nearBoxes =
        "152 4 matches found\r\nwn \"boxed\"\r\ngcide \"Boxed\"\r\ngcide \"foxes\"\r\n"
        "wn \"boxed\"\r\n.\r\n250 ok\r\n";
    const std::vector<Case> cases = {
        {"second base form matches",
         "Boxes",
         true,
         {sendText(noMatch), awaitRequest(), sendText(noMatch + matchReply({"wn", "gcide"}, "box"))},
         1,
         "box",
         "MATCH * exact Boxes\r\nMATCH * exact boxe\r\nMATCH * exact box\r\n",
         {}},
        // The marker of the first reply comes before its line end: the rest of that line is no reply.
        {"first reply cut after its marker",
         "boxes",
         true,
         {sendText("552 no"), pauseFor(100), sendText(" match\r\n" + matchReply({"wn"}, "boxe") + noMatch)},
         1,
         "boxe",
         exactBoxes,
         {}},
        // Nothing more comes: no base form, and no near spellings are asked on a connection that ended.
        {"server closes after the first reply",
         "boxes",
         true,
         {sendText(noMatch), closeNow()},
         15,
         "boxes",
         exactBoxes,
         {}},
        {"server refuses the base forms' requests",
         "boxes",
         true,
         {sendText(noMatch), awaitRequest(), sendText("502 not implemented\r\n502 not implemented\r\n"),
          awaitRequest(), sendText(noMatch + noMatch)},
         15,
         "boxes",
         exactBoxes + "MATCH * lev boxes\r\nMATCH * . boxes\r\n",
         {}},
        {"nothing matches: near spellings by lev, each once",
         "boxes",
         true,
         {sendText(noMatch), awaitRequest(), sendText(noMatch + noMatch), awaitRequest(),
          sendText(nearBoxes + "152 1 matches found\r\nwn \"other\"\r\n.\r\n250 ok\r\n")},
         15,
         "boxes",
         exactBoxes + "MATCH * lev boxes\r\nMATCH * . boxes\r\n",
         {"boxed", "foxes"}},
        {"lev unknown: the default strategy's words",
         "frend",
         false,
         {sendText(noMatch), awaitRequest(), sendText("551 invalid strategy\r\n" + nearBoxes)},
         15,
         "frend",
         "MATCH * exact frend\r\nMATCH * lev frend\r\nMATCH * . frend\r\n",
         {"boxed", "foxes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetDictSession();
        dictSession.tryBaseForms = c.baseForms;
        dictSession.trySuggestions = true;
        FakeScript first = {sendText(fakeGreeting), awaitRequest()};
        first.insert(first.end(), c.script.begin(), c.script.end());
        FakeServer server({first, answering(databaseReply(threeDatabases))});

        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(matchesFrom(server, c.word), c.result);
        long long elapsed = msSince(start);
        server.stop();

        EXPECT_STREQ(c.matchedWord, dictSession.matchedWord);
        EXPECT_EQ(c.requests, server.received(0));
        Texts suggestions(dictSession.suggestions, dictSession.suggestions + dictSession.suggestionCount);
        EXPECT_EQ(c.suggestions, suggestions);
        if (c.result == 1) {
            EXPECT_EQ(matchNames(),
                      c.matchedWord == std::string("box") ? Texts({"wn", "gcide"}) : Texts({"wn"}));
            EXPECT_EQ(server.received(1), "show databases\r\n");
        }
        // No exchange waits out a time-out: every reply, or the end of the connection, is there.
        EXPECT_LT(elapsed, testReceiveTimeoutMs);
    }
}

// The words of a near-spelling reply: distinct regardless of case, in order, at most the room given.
TEST(SuggestedWords, DistinctWordsInOrderWithinTheRoom)
{
    std::string reply =
        "152 26 matches found\r\nwn \"Alpha\"\r\ngcide \"alpha\"\r\nwn unquoted\r\nwn \"lone\r\n"
        "nodatabase\r\nwn \"\"\r\n";
    for (int i = 0; i < 20; i++)
        reply += "wn \"w" + std::to_string(i) + "\"\r\n";
    reply += ".\r\n250 ok\r\n";
    char words[maxSuggestions + 1][dictWordSize];
    strcpy(words[maxSuggestions], "untouched");
    int count = cutSuggestedWords(reply.data(), reply.size(), words, maxSuggestions);
    ASSERT_EQ(maxSuggestions, count);
    Texts expected = {"Alpha", "unquoted", "lone"};
    for (int i = 0; i < maxSuggestions - 3; i++)
        expected.push_back("w" + std::to_string(i));
    EXPECT_EQ(expected, Texts(words, words + count));
    EXPECT_STREQ("untouched", words[maxSuggestions]);
    // The count the status line gives bounds the lines read.
    EXPECT_EQ(1, cutSuggestedWords(reply.data(), reply.size(), words, 1));
    std::string two = "152 2 matches\r\nwn \"a1\"\r\nwn \"a2\"\r\nwn \"a3\"\r\n.\r\n250 ok\r\n";
    EXPECT_EQ(2, cutSuggestedWords(two.data(), two.size(), words, maxSuggestions));
}

TEST_F(Exchanges, OverlongRequestIsNotSent)
{
    std::string word(1100, 'w');
    FakeServer server({answering(definitionsReply("x", "wn", {"never"}))});
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", word.c_str(), server.host()), 0);
    server.stop();
    EXPECT_EQ(server.received(0), "");
}

// A line break in a word would end the request line early and send the rest as a command.
TEST_F(Exchanges, RequestWithALineBreakIsNotSent)
{
    struct Case {
        const char* database;
        const char* word;
    };
    const Case cases[] = {{"wn", "glimmer\r\nQUIT"}, {"wn", "glimmer\n"}, {"wn\r", "glimmer"}};
    for (const Case& c : cases) {
        FakeServer server({answering(definitionsReply("x", "wn", {"never"}))});
        EXPECT_EQ(dictSession.retrieveDefinitions(c.database, c.word, server.host()), 0) << c.word;
        server.stop();
        EXPECT_EQ(server.received(0), "") << c.word;
    }
    FakeServer server({answering(matchReply({"wn"}, "glimmer"))});
    EXPECT_EQ(matchesFrom(server, "glimmer\r\nshow server"), 0);
    server.stop();
    EXPECT_EQ(server.received(0), "");
}

}  // namespace
