// Tests of the DICT exchanges against a real dictd on this machine, compared with its raw replies.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/dictsession.h"
#include "tests/unit/fakeserver.h"
#include "tests/unit/uidoubles.h"

namespace {

typedef std::vector<std::string> Lines;

const int rawTimeoutMs = 5000;

// The address of the dictd that the test script started, or null.
const char* realDictd()
{
    const char* address = getenv("LEXITRAY_REAL_DICTD");
    return address != nullptr && address[0] != '\0' ? address : nullptr;
}

// The whole conversation for one request, read independently of the client under test: the
// request and QUIT are sent together, and everything up to the server's close is kept.
std::string rawConversation(const std::string& request)
{
    return dictdConversation(realDictd(), request + "QUIT\r\n", rawTimeoutMs);
}

Lines splitLines(const std::string& text)
{
    Lines lines;
    size_t at = 0;
    size_t end;
    while ((end = text.find("\r\n", at)) != std::string::npos) {
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// The lines of the first text block that follows a status line starting with status.
Lines rawBlock(const std::string& request, const std::string& status)
{
    Lines lines = splitLines(rawConversation(request));
    Lines block;
    size_t i = 0;
    while (i < lines.size() && lines[i].compare(0, status.size(), status) != 0)
        i++;
    for (i++; i < lines.size() && lines[i] != "."; i++)
        block.push_back(lines[i]);
    return block;
}

// The definition bodies of the raw DEFINE reply: the lines between each 151 header and its
// terminator line, joined by CR LF.
Lines rawDefinitions(const std::string& database, const std::string& word)
{
    Lines lines = splitLines(rawConversation("define " + database + " " + word + "\r\n"));
    Lines bodies;
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i].compare(0, 4, "151 ") != 0)
            continue;
        std::string body;
        bool first = true;
        for (i++; i < lines.size() && lines[i] != "."; i++) {
            body += (first ? "" : "\r\n") + lines[i];
            first = false;
        }
        bodies.push_back(body);
    }
    return bodies;
}

class RealDictd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (realDictd() == nullptr)
            GTEST_SKIP()
                << "LEXITRAY_REAL_DICTD is not set: no local dictd was started (scripts/test starts one)";
        ASSERT_EQ(netStartup(), 1);
        dictLimits = dictDefaultLimits;
        resetUiDoubles();
        resetDictSession();
    }
    void TearDown() override { resetDictSession(); }
};

// The client connects to port 2628 on the host text, so the host is the dictd's address.
const char* host() { return realDictd(); }

// The dictd the tests reach is the project's own, on its own address, even where another dictd (a
// DICT user's, with other dictionaries) answers on 127.0.0.1: its server information names it.
TEST_F(RealDictd, IsTheProjectsOwnOnItsOwnAddress)
{
    EXPECT_STRNE("127.0.0.1", host());
    std::string information = rawConversation("show server\r\n");
    EXPECT_NE(std::string::npos, information.find(std::string("Lexitray test dictd on ") + host()))
        << information;
}

TEST_F(RealDictd, GreetingAcceptedAndReplyReadToCompletion)
{
    ASSERT_EQ(dictSession.connectToServer(host()), 1);
    const char request[] = "show server\r\n";
    ASSERT_EQ(netSend(dictSession.socket, request, (int)sizeof request - 1), 1);
    ReplyText reply = {};
    const char* const refusals[] = {"502 "};
    EXPECT_EQ(dictSession.readReply(refusals, 1, &reply), replyComplete);
    EXPECT_TRUE(beginsWithStatus(reply.data, reply.length, 114));
    EXPECT_FALSE(dictSession.socketOpen);
    releaseReply(&reply);
}

TEST_F(RealDictd, MatchesAndDatabaseListAsTheServerGivesThem)
{
    const char* const words[] = {"glimmerwort", "hack", "quillfeather"};
    for (const char* word : words) {
        SCOPED_TRACE(word);
        resetDictSession();
        Lines rawMatches = rawBlock(std::string("MATCH * exact ") + word + "\r\n", "152 ");
        Lines rawDatabases = rawBlock("show databases\r\n", "110 ");
        ASSERT_FALSE(rawMatches.empty());
        ASSERT_FALSE(rawDatabases.empty());

        ASSERT_EQ(dictSession.connectToServer(host()), 1);
        ASSERT_EQ(dictSession.findMatches(word, host()), 1);
        std::vector<std::string> names;
        for (const std::string& line : rawMatches)
            names.push_back(line.substr(0, line.find(' ')).substr(0, dictSlotSize - 1));
        ASSERT_EQ(dictSession.getMatchCount(), (int)names.size());
        for (int i = 0; i < dictSession.getMatchCount(); i++)
            EXPECT_EQ(dictSession.getMatchDatabase(i), names[i]);

        ASSERT_EQ(dictSession.databaseCount, (int)rawDatabases.size());
        for (int i = 0; i < dictSession.databaseCount; i++)
            EXPECT_EQ(dictSession.databaseLines[i], rawDatabases[i].substr(0, dictSlotSize - 1));
    }
    EXPECT_EQ(countUiCalls("showMessage"), 0);
}

TEST_F(RealDictd, WordInSeveralDatabases)
{
    ASSERT_EQ(dictSession.connectToServer(host()), 1);
    ASSERT_EQ(dictSession.findMatches("glimmerwort", host()), 1);
    ASSERT_EQ(dictSession.getMatchCount(), 2);
    EXPECT_STREQ(dictSession.getMatchDatabase(0), "lexitest");
    EXPECT_STREQ(dictSession.getMatchDatabase(1), "lexitest2");
}

TEST_F(RealDictd, DefinitionsAreTheRawBodiesByteForByte)
{
    struct Request {
        const char* database;
        const char* word;
    };
    const Request requests[] = {
        {"lexitest", "glimmerwort"},
        {"lexitest2", "glimmerwort"},
        {"lexitest", "quillfeather"},
        {"lexitest", "café"},
        {"wn", "hack"},
        {"gcide", "hack"},
    };
    for (const Request& r : requests) {
        SCOPED_TRACE(std::string(r.database) + " " + r.word);
        resetDictSession();
        Lines bodies = rawDefinitions(r.database, r.word);
        ASSERT_FALSE(bodies.empty());
        ASSERT_EQ(dictSession.retrieveDefinitions(r.database, r.word, host()), 1);
        ASSERT_EQ(dictSession.getDefinitionCount(), (int)bodies.size());
        for (int i = 0; i < dictSession.getDefinitionCount(); i++)
            EXPECT_EQ(dictSession.getDefinition(i), bodies[i]);
    }
}

TEST_F(RealDictd, UnknownWordAndUnknownDatabaseAreRefused)
{
    ASSERT_EQ(dictSession.connectToServer(host()), 1);
    EXPECT_EQ(dictSession.findMatches("zzqxnotaword", host()), 15);
    EXPECT_EQ(dictSession.retrieveDefinitions("nosuchdb", "hack", host()), 15);
    EXPECT_EQ(dictSession.retrieveDefinitions("wn", "zzqxnotaword", host()), 15);
    EXPECT_EQ(dictSession.matchCount, 0);
    EXPECT_EQ(dictSession.definitionCount, 0);
}

// dictd answers MATCH requests sent together in order: a base form found on the connection of the
// word as written gives the matches its own request gives, and a misspelling its near spellings.
TEST_F(RealDictd, BaseFormAndNearSpellingsOnTheMatchConnection)
{
    dictSession.tryBaseForms = true;
    dictSession.trySuggestions = true;
    ASSERT_EQ(dictSession.connectToServer(host()), 1);
    ASSERT_EQ(dictSession.findMatches("Glimmerworts", host()), 1);
    EXPECT_STREQ("glimmerwort", dictSession.matchedWord);
    Lines names;
    for (int i = 0; i < dictSession.getMatchCount(); i++)
        names.push_back(dictSession.getMatchDatabase(i));
    Lines expected;
    for (const std::string& line : rawBlock("MATCH * exact glimmerwort\r\n", "152"))
        expected.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(expected, names);

    resetDictSession();
    dictSession.trySuggestions = true;
    ASSERT_EQ(dictSession.connectToServer(host()), 1);
    EXPECT_EQ(dictSession.findMatches("glimmerwurt", host()), 15);
    Lines suggested(dictSession.suggestions, dictSession.suggestions + dictSession.suggestionCount);
    EXPECT_EQ(Lines({"glimmerwort"}), suggested);
}

#ifndef _WIN32
// dictd writes a reply's status line and its body separately; with delayed acknowledgements
// on our side each exchange would wait for the peer's delayed-ACK timer (~40 ms here, and
// three exchanges make a look-up). Wine refuses the Windows switch, so this runs natively.
TEST_F(RealDictd, LookUpExchangesDoNotWaitForDelayedAcknowledgements)
{
    const long long stallFreeMs = 60;
    const int runs = 5;
    long long best = -1;
    for (int run = 0; run < runs; run++) {
        resetDictSession();
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(dictSession.connectToServer(host()), 1);
        ASSERT_EQ(dictSession.findMatches("hack", host()), 1);
        ASSERT_EQ(dictSession.retrieveDefinitions(dictSession.getMatchDatabase(0), "hack", host()), 1);
        long long elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        if (best < 0 || elapsed < best)
            best = elapsed;
    }
    EXPECT_LT(best, stallFreeMs);
}
#endif

}  // namespace
